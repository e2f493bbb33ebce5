#include "debugchannel/DebugWindow.h"

#include "debugchannel/DebugSocketPath.h"

#include <cerrno>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace kestrune {

TDebugWindow::TDebugWindow(TDebugWindow &&other) noexcept
    : FSocket(std::exchange(other.FSocket, -1))
{
}

TDebugWindow &TDebugWindow::operator=(TDebugWindow &&other) noexcept
{
    if (this != &other) {
        if (FSocket >= 0)
            ::close(FSocket);
        FSocket = std::exchange(other.FSocket, -1);
    }
    return *this;
}

TDebugWindow::~TDebugWindow()
{
    if (FSocket >= 0)
        ::close(FSocket);
}

bool TDebugWindow::Send(std::string_view record) const
{
    if (FSocket < 0)
        return false;
    for (;;) {
        const ssize_t sent = ::send(FSocket, record.data(), record.size(), MSG_NOSIGNAL);
        if (sent >= 0)
            return static_cast<std::size_t>(sent) == record.size();
        if (errno != EINTR)
            return false;
    }
}

TDebugWindow FindDebugWindow()
{
    sockaddr_un addr{};
    if (!MakeDebugSocketAddress(DebugSocketPath(false), addr))
        return {};
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    TDebugWindow window(fd);
    // A socket file left behind by a window that died refuses the connect.
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0)
        return {};
    timeval timeout{};
    timeout.tv_sec = DebugSendTimeoutMs / 1000;
    timeout.tv_usec = (DebugSendTimeoutMs % 1000) * 1000;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    return window;
}

} // namespace kestrune
