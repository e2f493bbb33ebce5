#include "net/LoginLog.h"

#include "net/LocalDateTime.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace kestrune {

namespace {

[[noreturn]] void throwFileError(const std::string &path, int error)
{
    throw std::runtime_error("Cannot write \"" + path + "\": " + std::strerror(error));
}

} // namespace

std::string LoginLine(const QDateTime &when, const std::string &address, int port, bool connected)
{
    return LocalDateTimeText(when, QLocale::system()) + "  " + address + ':' +
           std::to_string(port) + (connected ? " Connected." : " Disconnected.") + "\r\n";
}

void AppendLoginLine(const std::string &path, const std::string &line)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throwFileError(path, errno);
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::close(fd);
            throwFileError(path, error);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && errno != EINTR)
        throwFileError(path, errno);
}

} // namespace kestrune
