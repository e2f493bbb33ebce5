#pragma once

#include "net/DRSock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

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

inline int OpenFdCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
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

// A plain socket bound to 127.0.0.1 (or every interface) on a port the
// system chooses.
inline int BoundSocket(int type, bool anyInterface = false)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(0);
    if (anyInterface)
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
    ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    return fd;
}

// A port with nobody on it, for starts that must fail or must bind.
inline int FreePort(int type)
{
    const int fd = BoundSocket(type, true);
    const int port = PortOf(fd);
    ::close(fd);
    return port;
}

inline int ConnectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = Loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads what arrives on `fd` within the time; "" also when the peer closed.
inline std::string ReadSome(int fd, int timeoutMs = 2000)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1)
        return {};
    char buf[4096];
    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// True when the peer closed `fd` within the time.
inline bool SeesEndOfStream(int fd, int timeoutMs = 2000)
{
    pollfd p{fd, POLLIN, 0};
    char c;
    return ::poll(&p, 1, timeoutMs) == 1 && ::recv(fd, &c, 1, MSG_DONTWAIT) == 0;
}

// True when the connection on `fd` ended within the time, closed or reset.
inline bool ConnectionGone(int fd, int timeoutMs = 2000)
{
    pollfd p{fd, POLLIN, 0};
    char c;
    return ::poll(&p, 1, timeoutMs) == 1 && ::recv(fd, &c, 1, MSG_DONTWAIT) <= 0;
}

inline std::vector<std::string> FileLines(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// What an endpoint raised, in order.
struct EventLog
{
    std::vector<std::string> order; // "connected", "data", "data0", "error", "close"
    std::string data;
    std::vector<int> errors;
    bool insideDataEvent = false;
    bool closeInsideDataEvent = false;

    void Wire(TDRSock &sock)
    {
        sock.OnConnected = [this](TDRSock *) { order.push_back("connected"); };
        sock.OnDataArrival = [this](TDRSock *, const void *buffer, int32_t count) {
            insideDataEvent = true;
            order.push_back(count == 0 ? "data0" : "data");
            data.append(static_cast<const char *>(buffer), static_cast<size_t>(count));
            insideDataEvent = false;
        };
        sock.OnSocketError = [this](TDRSock *, int32_t code) {
            order.push_back("error");
            errors.push_back(code);
        };
        sock.OnSocketClose = [this](TDRSock *) {
            closeInsideDataEvent = insideDataEvent;
            order.push_back("close");
        };
    }
    [[nodiscard]] int Count(const std::string &kind) const
    {
        return static_cast<int>(std::count(order.begin(), order.end(), kind));
    }
};

} // namespace kestrune::test
