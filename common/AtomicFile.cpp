#include "common/AtomicFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kestrune {

int TFileLock::Acquire(const std::string &lockPath, std::chrono::milliseconds patience)
{
    TOpenedFile file = OpenFile(lockPath, O_RDWR | O_CREAT);
    if (file.Error != 0)
        return file.Error;
    // A holder keeps the lock only while it writes; one that was stopped must
    // not keep this copy from ever ending, so the wait is bounded.
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (::flock(file.Fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return errno;
        if (std::chrono::steady_clock::now() >= deadline)
            return EWOULDBLOCK;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    FFd = std::move(file.Fd);
    return 0;
}

int ReplaceFileAtomically(const std::string &path, std::string_view content)
{
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    TFileDescriptor file(fd);
    // The new file takes the usual permissions of a user's file, not mkstemp's 0600.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    int error = WriteAll(file.Get(), content);
    if (error == 0 && ::fchmod(file.Get(), 0666 & ~mask) != 0)
        error = errno;
    if (error == 0 && ::fsync(file.Get()) != 0)
        error = errno;
    if (const int closed = file.Close(); error == 0)
        error = closed;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0)
        ::unlink(temporary.c_str());
    return error;
}

} // namespace kestrune
