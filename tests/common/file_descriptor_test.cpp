#include "common/AtomicFile.h"
#include "common/FileDescriptor.h"

#include <QTemporaryDir>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kestrune {
namespace {

bool descriptorIsOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

TEST(FileDescriptor, OwnsOneDescriptorThroughMovesAndClosesItOnce)
{
    QTemporaryDir dir;
    TOpenedFile opened = OpenFile(dir.filePath("f").toStdString(), O_WRONLY | O_CREAT);
    ASSERT_EQ(opened.Error, 0);
    const int fd = opened.Fd.Get();
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC) << "not inherited by started programs";
    TFileDescriptor moved = std::move(opened.Fd);
    EXPECT_FALSE(opened.Fd.IsOpen());
    EXPECT_EQ(moved.Get(), fd);
    {
        TFileDescriptor last;
        last = std::move(moved);
        EXPECT_TRUE(descriptorIsOpen(fd));
    }
    EXPECT_FALSE(descriptorIsOpen(fd));
    EXPECT_EQ(moved.Close(), 0) << "closing an empty one does nothing";

    const TOpenedFile missing = OpenFile(dir.filePath("no/such").toStdString(), O_RDONLY);
    EXPECT_EQ(missing.Error, ENOENT);
    EXPECT_FALSE(missing.Fd.IsOpen());
}

TEST(FileDescriptor, WritesAndAppendsReportTheSystemsError)
{
    QTemporaryDir dir;
    const std::string log = dir.filePath("log").toStdString();
    EXPECT_EQ(AppendToFile(log, "one\r\n"), 0);
    EXPECT_EQ(AppendToFile(log, std::string(200000, 'x')), 0);
    EXPECT_EQ(ReadWholeFile(log), "one\r\n" + std::string(200000, 'x'));

    EXPECT_EQ(AppendToFile(dir.path().toStdString(), "x"), EISDIR);
    const std::string full = dir.filePath("full").toStdString();
    std::filesystem::create_symlink("/dev/full", full);
    EXPECT_EQ(AppendToFile(full, "x"), ENOSPC);
    EXPECT_EQ(ErrorText(ENOSPC), "No space left on device");

    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    TFileDescriptor reader(pipeEnds[0]);
    ::close(pipeEnds[1]);
    EXPECT_EQ(WriteAll(reader.Get(), "x"), EBADF) << "the read end cannot be written";
}

TEST(FileDescriptor, WholeFilesAreReadOnlyWhenRegularAndNeverWaitForAWriter)
{
    QTemporaryDir dir;
    const std::string fifo = dir.filePath("fifo").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadWholeFile(fifo), std::nullopt);
    EXPECT_EQ(ReadWholeFile("/dev/zero"), std::nullopt);
    EXPECT_EQ(ReadWholeFile(dir.path().toStdString()), std::nullopt);
    EXPECT_EQ(ReadWholeFile(dir.filePath("missing").toStdString()), std::nullopt);

    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const std::string sent(300000, 'p');
    std::thread writer([&] {
        EXPECT_EQ(WriteAll(pipeEnds[1], sent), 0);
        ::close(pipeEnds[1]);
    });
    std::string got = "kept:";
    EXPECT_EQ(ReadToEnd(pipeEnds[0], got), 0);
    writer.join();
    ::close(pipeEnds[0]);
    EXPECT_EQ(got, "kept:" + sent);
}

TEST(AtomicFile, ReplacesWholeWithUsualPermissionsAndWaitsForTheLock)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("s.ini").toStdString();
    ASSERT_EQ(ReplaceFileAtomically(path, "first"), 0);
    ASSERT_EQ(ReplaceFileAtomically(path, "second"), 0);
    EXPECT_EQ(ReadWholeFile(path), "second");
    struct stat status
    {
    };
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
    EXPECT_EQ(ReplaceFileAtomically(dir.filePath("none/s.ini").toStdString(), "x"), ENOENT);

    const std::string lockPath = path + ".lock";
    TFileLock held;
    ASSERT_EQ(held.Acquire(lockPath), 0);
    TFileLock second;
    EXPECT_EQ(second.Acquire(lockPath, std::chrono::milliseconds(50)), EWOULDBLOCK);
    held = TFileLock();
    EXPECT_EQ(second.Acquire(lockPath, std::chrono::milliseconds(50)), 0) << "free again";
}

} // namespace
} // namespace kestrune
