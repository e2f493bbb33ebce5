#include "debugchannel/DebugWindow.h"

#include "debugchannel/DebugSocketPath.h"

#include <cerrno>
#include <sys/socket.h>
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

TDebugSend TDebugWindow::Send(std::string_view record) const
{
    if (FSocket < 0)
        return TDebugSend::Gone;
    for (;;) {
        const ssize_t sent =
            ::send(FSocket, record.data(), record.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0)
            return TDebugSend::Sent;
        if (errno == EINTR)
            continue;
        // A record too large for the window's socket is lost like one that
        // finds its queue full; the window itself is still there.
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS || errno == EMSGSIZE)
            return TDebugSend::Full;
        return TDebugSend::Gone;
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
    return window;
}

} // namespace kestrune
