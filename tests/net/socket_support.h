#pragma once

#include "net/DRSock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <filesystem>
#include <functional>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace kestrune {

// Drives the notification handlers without the event loop, so a test decides
// exactly which wake-up happens when.
struct TDRSockTestAccess
{
    static void Accept(TDRSock &s) { s.handleAccept(); }
    static void Read(TDRSock &s) { s.handleRead(); }
    static void Close(TDRSock &s) { s.handleClose(s.FDataGeneration); }
    static int DataSocket(const TDRSock &s) { return s.FDataSocket; }
};

} // namespace kestrune

namespace kestrune::test {

// Runs the event loop until `done` holds or the time is up.
inline bool WaitUntil(const std::function<bool()> &done, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer tick; // wakes the blocking wait below
    tick.start(5);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

inline void Pump(int ms)
{
    (void)WaitUntil([] { return false; }, ms);
}

// After QCoreApplication::exit() every event loop returns at once until the
// application's own loop has run again: it runs for one turn here.
inline void EndQuitting()
{
    QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

inline int OpenFdCount()
{
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(begin(fds), end(fds)));
}

inline sockaddr_in Loopback(int port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

inline int PortOf(int fd)
{
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    return ntohs(addr.sin_port);
}

// A plain socket on a port the system chooses, on 127.0.0.1 or on every interface.
inline int BoundSocket(int type, bool anyInterface = false)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(0);
    if (anyInterface)
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
    ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    return fd;
}

inline int ConnectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = Loopback(port);
    return ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0 ? fd : -1;
}

// What one read of `fd` gives within the time: the bytes, "" at the end of
// the stream (or a reset, or an empty datagram), nullopt when nothing came.
inline std::optional<std::string> Receive(int fd, int timeoutMs = 2000)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1)
        return std::nullopt;
    std::string buf(65536, '\0'); // room for the longest datagram
    const ssize_t n = ::recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
    buf.resize(static_cast<size_t>(std::max<ssize_t>(n, 0)));
    return buf;
}

inline bool ConnectionGone(int fd, int timeoutMs = 2000)
{
    return Receive(fd, timeoutMs) == "";
}

// A listening socket on 127.0.0.1 whose accept queue is full, so the kernel
// leaves a further connect unanswered (its SYN is dropped, not refused).
class TUnansweredServer
{
public:
    TUnansweredServer()
    {
        FListener = BoundSocket(SOCK_STREAM);
        ::listen(FListener, 0); // room for one connection that is never accepted
        FFiller = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const sockaddr_in to = Loopback(Port());
        ::connect(FFiller, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        pollfd p{FFiller, POLLOUT, 0};
        FFull = ::poll(&p, 1, 5000) == 1;
    }
    ~TUnansweredServer()
    {
        ::close(FFiller);
        ::close(FListener);
    }
    TUnansweredServer(const TUnansweredServer &) = delete;
    TUnansweredServer &operator=(const TUnansweredServer &) = delete;

    [[nodiscard]] int Port() const { return PortOf(FListener); }
    [[nodiscard]] bool Full() const { return FFull; }

private:
    int FListener = -1;
    int FFiller = -1;
    bool FFull = false;
};

// What an endpoint raised, in order.
struct EventLog
{
    // "connected", "data", "data0" (end of stream), "error", "close",
    // "failure" (not fatal), "fatal"
    std::vector<std::string> order;
    std::string data;
    std::vector<std::string> blocks;
    std::vector<int> errors;
    std::vector<std::string> failures;

    void Wire(TDRSock &sock)
    {
        sock.OnConnected = [this](TDRSock *) { order.push_back("connected"); };
        sock.OnDataArrival = [this](TDRSock *, const void *buffer, int32_t count) {
            order.push_back(count == 0 ? "data0" : "data");
            data.append(static_cast<const char *>(buffer), static_cast<size_t>(count));
            blocks.emplace_back(static_cast<const char *>(buffer), static_cast<size_t>(count));
        };
        sock.OnSocketError = [this](TDRSock *, int32_t code) {
            order.push_back("error");
            errors.push_back(code);
        };
        sock.OnSocketClose = [this](TDRSock *) { order.push_back("close"); };
        sock.OnFailure = [this](TDRSock *, const std::string &reason, bool fatal) {
            order.push_back(fatal ? "fatal" : "failure");
            failures.push_back(reason);
        };
    }
    [[nodiscard]] int Count(const std::string &kind) const
    {
        return static_cast<int>(std::count(order.begin(), order.end(), kind));
    }
};

} // namespace kestrune::test
