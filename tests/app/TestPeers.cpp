#include "TestPeers.h"

#include <QThread>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace kestrune::testing {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int boundPort(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    return ntohs(a.sin_port);
}

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

std::string readFd(int fd, std::size_t count, int ms)
{
    std::string out;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    char buf[65536];
    while (out.size() < count && Clock::now() < deadline) {
        const ssize_t n = ::read(fd, buf, std::min(sizeof buf, count - out.size()));
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break;
        Pump(2);
    }
    return out;
}

} // namespace

bool WaitFor(const std::function<bool()> &done, int ms)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

void Pump(int ms)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    } while (Clock::now() < deadline);
}

TPty::TPty()
{
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0) {
        CloseMaster();
        return;
    }
    FSlave = ::ptsname(FMaster);
    // Raw on the master side too, so bytes pass unchanged in both directions.
    termios t{};
    ::tcgetattr(FMaster, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(FMaster, TCSANOW, &t);
    setNonBlocking(FMaster);
}

TPty::~TPty()
{
    CloseMaster();
}

void TPty::CloseMaster()
{
    if (FMaster >= 0)
        ::close(FMaster);
    FMaster = -1;
}

bool TPty::Write(const std::string &bytes)
{
    std::size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (done < bytes.size() && Clock::now() < deadline) {
        const ssize_t n = ::write(FMaster, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else
            Pump(2);
    }
    return done == bytes.size();
}

std::string TPty::Read(std::size_t count, int ms)
{
    return readFd(FMaster, count, ms);
}

TSocketPeer::~TSocketPeer()
{
    Close();
}

void TSocketPeer::Close()
{
    if (FSocket >= 0)
        ::close(FSocket);
    if (FListen >= 0)
        ::close(FListen);
    FSocket = FListen = -1;
}

int TSocketPeer::FreePort(bool udp)
{
    const int fd = ::socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    const int port = boundPort(fd);
    ::close(fd);
    return port;
}

bool TSocketPeer::Listen(int port)
{
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = loopback(port);
    if (::bind(FListen, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        ::listen(FListen, 4) != 0)
        return false;
    setNonBlocking(FListen);
    FPort = boundPort(FListen);
    return true;
}

bool TSocketPeer::Accept(int ms)
{
    return WaitFor(
        [this] {
            FSocket = ::accept4(FListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            return FSocket >= 0;
        },
        ms);
}

bool TSocketPeer::Connect(int port, int ms)
{
    FSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a = loopback(port);
    if (::connect(FSocket, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
        return true;
    if (errno != EINPROGRESS)
        return false;
    return WaitFor(
        [this] {
            pollfd p{FSocket, POLLOUT, 0};
            if (::poll(&p, 1, 0) <= 0)
                return false;
            int err = 0;
            socklen_t len = sizeof err;
            ::getsockopt(FSocket, SOL_SOCKET, SO_ERROR, &err, &len);
            return err == 0;
        },
        ms);
}

bool TSocketPeer::BindUdp(int port)
{
    FSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a = loopback(port);
    if (::bind(FSocket, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        return false;
    FPort = boundPort(FSocket);
    return true;
}

bool TSocketPeer::Send(const std::string &bytes, int ms)
{
    std::size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (done < bytes.size() && Clock::now() < deadline) {
        const ssize_t n = ::send(FSocket, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        else
            Pump(1);
    }
    return done == bytes.size();
}

bool TSocketPeer::SendTo(const std::string &bytes, int port)
{
    sockaddr_in a = loopback(port);
    return ::sendto(FSocket, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&a),
                    sizeof a) == static_cast<ssize_t>(bytes.size());
}

std::string TSocketPeer::Read(std::size_t count, int ms)
{
    return readFd(FSocket, count, ms);
}

bool TSocketPeer::WaitClosed(int ms)
{
    return WaitFor(
        [this] {
            char c;
            const ssize_t n = ::recv(FSocket, &c, 1, MSG_PEEK | MSG_DONTWAIT);
            return n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR);
        },
        ms);
}

} // namespace kestrune::testing
