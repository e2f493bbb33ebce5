#include "common/FileDescriptor.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrune {

TFileDescriptor &TFileDescriptor::operator=(TFileDescriptor &&other) noexcept
{
    if (this != &other) {
        (void)Close();
        FFd = other.Release();
    }
    return *this;
}

TFileDescriptor::~TFileDescriptor()
{
    (void)Close();
}

int TFileDescriptor::Release() noexcept
{
    const int fd = FFd;
    FFd = -1;
    return fd;
}

int TFileDescriptor::Close() noexcept
{
    if (FFd < 0)
        return 0;
    // Linux frees the descriptor even when close fails, so it is never retried.
    const int result = ::close(Release());
    return result == 0 || errno == EINTR ? 0 : errno;
}

TOpenedFile OpenFile(const std::string &path, int flags, mode_t mode)
{
    for (;;) {
        const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
        if (fd >= 0)
            return {TFileDescriptor(fd), 0};
        if (errno != EINTR)
            return {TFileDescriptor(), errno};
    }
}

int WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            return errno;
        if (wrote == 0)
            return EIO;
        bytes.remove_prefix(static_cast<std::size_t>(wrote));
    }
    return 0;
}

ssize_t ReadSome(int fd, char *buffer, std::size_t size)
{
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

int ReadToEnd(int fd, std::string &out)
{
    // One allocation for a regular file of known size; the loop still reads on
    // in case the file grew meanwhile.
    struct stat status
    {
    };
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0)
        out.reserve(out.size() + static_cast<std::size_t>(status.st_size) + 1);
    constexpr std::size_t Chunk = 64 * 1024;
    for (;;) {
        const std::size_t used = out.size();
        const std::size_t room = std::max(Chunk, out.capacity() - used);
        out.resize(used + room);
        const ssize_t got = ReadSome(fd, out.data() + used, room);
        out.resize(used + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (got < 0)
            return errno;
        if (got == 0)
            return 0;
    }
}

int AppendToFile(const std::string &path, std::string_view bytes)
{
    TOpenedFile file = OpenFile(path, O_WRONLY | O_APPEND | O_CREAT);
    if (file.Error != 0)
        return file.Error;
    // One write for the whole text where the system allows it, so a failure
    // rarely leaves half a line behind.
    if (const int error = WriteAll(file.Fd.Get(), bytes); error != 0)
        return error;
    return file.Fd.Close();
}

namespace {

// Files whose last append failed, perhaps after a part of its record was in.
std::mutex cutFilesLock;
std::set<std::string, std::less<>> cutFiles;

bool mayEndInACut(const std::string &path)
{
    const std::lock_guard<std::mutex> lock(cutFilesLock);
    return cutFiles.contains(path);
}

int noteOutcome(const std::string &path, int error)
{
    const std::lock_guard<std::mutex> lock(cutFilesLock);
    if (error != 0)
        cutFiles.insert(path);
    else
        cutFiles.erase(path);
    return error;
}

// An append that first looks at the file's last byte: it costs two calls
// more, so it is made only after a failure.
int appendOnANewLine(const std::string &path, std::string_view record)
{
    TOpenedFile file = OpenFile(path, O_RDWR | O_APPEND | O_CREAT);
    if (file.Error != 0)
        return file.Error;
    struct stat status
    {
    };
    char last = '\n';
    if (::fstat(file.Fd.Get(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
        if (::pread(file.Fd.Get(), &last, 1, status.st_size - 1) != 1)
            last = '\n';
    }
    // One text, so another appender never comes between the two.
    std::string text;
    if (last != '\n') {
        text.reserve(record.size() + 2);
        text = "\r\n";
        text += record;
        record = text;
    }
    if (const int error = WriteAll(file.Fd.Get(), record); error != 0)
        return error;
    return file.Fd.Close();
}

} // namespace

int AppendRecord(const std::string &path, std::string_view record)
{
    return noteOutcome(path, mayEndInACut(path) ? appendOnANewLine(path, record)
                                                : AppendToFile(path, record));
}

int ReadRegularFile(const std::string &path, std::string &out)
{
    // Non-blocking, so a pipe in the way is refused rather than waited on.
    TOpenedFile file = OpenFile(path, O_RDONLY | O_NONBLOCK);
    if (file.Error != 0)
        return file.Error;
    struct stat status
    {
    };
    if (::fstat(file.Fd.Get(), &status) != 0)
        return errno;
    if (!S_ISREG(status.st_mode))
        return S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    return ReadToEnd(file.Fd.Get(), out);
}

std::optional<std::string> ReadWholeFile(const std::string &path)
{
    std::string data;
    if (ReadRegularFile(path, data) != 0)
        return std::nullopt;
    return data;
}

std::string ErrorText(int error)
{
    return std::strerror(error);
}

} // namespace kestrune
