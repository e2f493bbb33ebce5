#include "net/DRSock.h"

#include "common/AppPaths.h"
#include "common/FileDescriptor.h"
#include "net/AddressHelpers.h"
#include "net/LoginLog.h"
#include "net/SocketError.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace kestrune {

// The hidden window: receives the notifiers' signals and the posted close
// notice. It outlives its endpoint until the event loop deletes it, so a
// handler may delete the endpoint from inside a notifier's signal.
class TSockWindow : public QObject
{
public:
    explicit TSockWindow(TDRSock *owner) : Owner(owner) {}
    TDRSock *Owner;
};

namespace {

constexpr std::size_t kCompactAt = 1 << 20;
// What one read wake-up may take before other sockets and the GUI get a turn.
constexpr int kReadsPerWake = 64;
constexpr std::size_t kBytesPerWake = 128 * 1024;
constexpr std::size_t kBlockBytes = 2048;
constexpr std::size_t kStreamReadBytes = 32 * 1024;
// A UDP datagram's length field is 16 bits, so every datagram fits whole.
constexpr std::size_t kDatagramBytes = 65535;
// Room for a burst of datagrams while the GUI thread is busy elsewhere.
constexpr int kUdpReceiveBuffer = 4 << 20;
constexpr const char *kConnectError = "Error while try establish a TCP connect.";

sockaddr_in ipv4Address(std::uint32_t netAddr, std::int32_t port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = netAddr;
    return addr;
}

// accept() passes on network errors of the pending connection; retrying on
// the next notification is the answer to all of them.
bool isTransientAcceptError(int error)
{
    switch (error) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case EPERM:
        return true;
    default:
        return false;
    }
}

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

// The outcome of a non-blocking connect: 0 once connected, EINPROGRESS while
// the server has not answered, otherwise the reason it failed.
int connectOutcome(int fd)
{
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) == 0)
        return EINPROGRESS;
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
        return errno;
    return error;
}

void requestReceiveBuffer(int fd)
{
    // The forced form goes past net.core.rmem_max but needs CAP_NET_ADMIN;
    // without it the kernel caps the plain request at rmem_max.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kUdpReceiveBuffer,
                     sizeof kUdpReceiveBuffer) == 0)
        return;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kUdpReceiveBuffer, sizeof kUdpReceiveBuffer);
}

void retire(QSocketNotifier *&notifier)
{
    if (!notifier)
        return;
    // Disabled before the descriptor closes, so a reused descriptor number is
    // never watched by a stale notifier; deleted later, as we may be inside
    // its own signal.
    notifier->setEnabled(false);
    QObject::disconnect(notifier, nullptr, nullptr, nullptr);
    notifier->deleteLater();
    notifier = nullptr;
}

} // namespace

TDRSock::TDRSock() : FWindow(new TSockWindow(this)) {}

TDRSock::~TDRSock()
{
    *FAlive = false;
    if (FConnectLoop)
        FConnectLoop->quit();
    // Owners stop before deleting; an endpoint deleted while open still
    // closes its sockets rather than leaking them.
    closeDataSocket();
    closeListenSocket();
    FState = 0;
    FWindow->Owner = nullptr;
    QCoreApplication::removePostedEvents(FWindow);
    FWindow->deleteLater();
}

void TDRSock::StartServer()
{
    if (FState != 0 || FConnectLoop)
        throw ESocketError("Control already started.");
    TFileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.IsOpen())
        throw ESocketError("Error create a socket");
    // Lets a restarted server bind while connections of the last run linger.
    const int on = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in local = ipv4Address(htonl(INADDR_ANY), LocalPort);
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0)
        throw ESocketError("Error bind sock to " + std::to_string(LocalPort) + ".");
    if (::listen(fd.Get(), 1) != 0)
        throw ESocketError("Error on listen.");

    FListenSocket = fd.Release();
    FListenNotifier = new QSocketNotifier(FListenSocket, QSocketNotifier::Read, FWindow);
    QObject::connect(FListenNotifier, &QSocketNotifier::activated, FWindow,
                     [this] { handleAccept(); });
    FState = 1;
}

void TDRSock::StartClient()
{
    if (FState != 0 || FConnectLoop)
        throw ESocketError("Control already started.");
    const sockaddr_in remote = ipv4Address(ResolveHost(RemoteHost), RemotePort);
    TFileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.IsOpen())
        throw ESocketError("Error create a socket");
    // May run other handlers, which may stop or delete this endpoint: after a
    // failure nothing of it is touched.
    const int error = connectWaiting(fd.Get(), remote);
    if (error != 0)
        throw ESocketError(std::string(kConnectError) + " " + std::strerror(error));

    attachDataSocket(fd.Release(), true);
    FState = 2;
}

int TDRSock::connectWaiting(int fd, const sockaddr_in &to)
{
    // A connect interrupted by a signal goes on in the background, as one
    // still in progress does.
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0)
        return 0;
    if (errno != EINPROGRESS && errno != EINTR)
        return errno;

    const int timeoutMs = std::max(0, ConnectTimeoutMs);
    if (!QCoreApplication::instance()) {
        // No event loop to keep going: wait here.
        pollfd p{fd, POLLOUT, 0};
        int ready;
        while ((ready = ::poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
        }
        return ready == 0 ? ETIMEDOUT : connectOutcome(fd);
    }

    const std::shared_ptr<bool> alive = FAlive;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    QEventLoop loop;
    QSocketNotifier answered(fd, QSocketNotifier::Write);
    QTimer timer;
    timer.setSingleShot(true);
    bool woken = false;
    bool timedOut = false;
    QObject::connect(&answered, &QSocketNotifier::activated, &loop, [&] {
        woken = true;
        loop.quit();
    });
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        woken = timedOut = true;
        loop.quit();
    });
    timer.start(timeoutMs);
    for (;;) {
        FConnectLoop = &loop;
        woken = false;
        // Paint events and other sockets' notifications still run; the user
        // cannot click or type into a window that is half way through Start.
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        if (!*alive)
            return ECANCELED;
        if (!FConnectLoop) // StopSocket ran meanwhile
            return ECANCELED;
        FConnectLoop = nullptr;
        // Neither the socket nor the timer ended the wait: the application
        // is quitting (a termination signal), which ends every event loop,
        // and this one at once each time it starts again.
        if (!woken)
            return ECANCELED;
        const int outcome = connectOutcome(fd);
        if (outcome != EINPROGRESS)
            return outcome;
        if (timedOut || std::chrono::steady_clock::now() >= deadline)
            return ETIMEDOUT;
    }
}

void TDRSock::StartUDP()
{
    if (FState != 0 || FConnectLoop)
        throw ESocketError("Control already started.");
    TFileDescriptor fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.IsOpen())
        throw ESocketError("Error create a socket");
    const sockaddr_in local = ipv4Address(htonl(INADDR_ANY), LocalPort);
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0)
        throw ESocketError("Error bind sock to " + std::to_string(LocalPort) + ".");
    requestReceiveBuffer(fd.Get());
    FSendToAddr = ResolveHost(RemoteHost);
    FSendToPort = static_cast<std::uint16_t>(RemotePort);

    attachDataSocket(fd.Release(), false);
    FState = 3;
}

void TDRSock::StopSocket()
{
    if (FConnectLoop) {
        // Ends a StartClient that is still waiting; it then raises.
        FConnectLoop->quit();
        FConnectLoop = nullptr;
    }
    if (FState == 0)
        return;
    closeDataSocket();
    closeListenSocket();
    FState = 0;
}

std::int32_t TDRSock::SendData(const void *Buffer, std::int32_t Count)
{
    if (FDataSocket < 0 || Count < 0 || (Count > 0 && !Buffer))
        return -1;
    const auto size = static_cast<std::size_t>(Count);
    if (!FDataIsTcp) {
        const sockaddr_in to = ipv4Address(FSendToAddr, FSendToPort);
        ssize_t n;
        do {
            n = ::sendto(FDataSocket, Buffer, size, MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr *>(&to), sizeof to);
        } while (n < 0 && errno == EINTR);
        return static_cast<std::int32_t>(n);
    }

    // Bytes already waiting go first: the stream keeps its order.
    if (QueuedBytes() > 0) {
        FSendQueue.append(static_cast<const char *>(Buffer), size);
        return 0;
    }
    ssize_t n;
    do {
        n = ::send(FDataSocket, Buffer, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && !wouldBlock(errno))
        return -1;
    const auto taken = static_cast<std::size_t>(n < 0 ? 0 : n);
    if (taken < size) {
        FSendQueue.assign(static_cast<const char *>(Buffer) + taken, size - taken);
        FSendQueueHead = 0;
        FWriteNotifier->setEnabled(true);
    }
    return static_cast<std::int32_t>(taken);
}

void TDRSock::PauseReading(bool Pause)
{
    FReadPaused = Pause;
    updateReadNotifier();
    // Bytes read before the pause are handed on first, even if the socket
    // has nothing new to wake the notifier.
    if (!Pause && FStreamHead < FStreamTail)
        scheduleRead();
}

void TDRSock::scheduleRead()
{
    TSockWindow *window = FWindow;
    const std::uint64_t generation = FDataGeneration;
    QMetaObject::invokeMethod(
        window,
        [window, generation] {
            if (window->Owner && window->Owner->FDataGeneration == generation)
                window->Owner->handleRead();
        },
        Qt::QueuedConnection);
}

int TDRSock::BoundPort() const
{
    const int fd = FListenSocket >= 0 ? FListenSocket : (FState == 3 ? FDataSocket : -1);
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

void TDRSock::attachDataSocket(int fd, bool tcp)
{
    FDataSocket = fd;
    FDataIsTcp = tcp;
    FPeerClosed = false;
    ++FDataGeneration;
    FRecvBuffer.resize(std::max(FRecvBuffer.size(), tcp ? kStreamReadBytes : kDatagramBytes));
    FReadNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, FWindow);
    QObject::connect(FReadNotifier, &QSocketNotifier::activated, FWindow, [this] { handleRead(); });
    if (tcp) {
        // On only while bytes wait, so an idle connection costs no wake-ups.
        FWriteNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, FWindow);
        FWriteNotifier->setEnabled(false);
        QObject::connect(FWriteNotifier, &QSocketNotifier::activated, FWindow,
                         [this] { handleWritable(); });
    }
    updateReadNotifier();
}

void TDRSock::closeDataSocket()
{
    retire(FReadNotifier);
    retire(FWriteNotifier);
    if (FDataSocket >= 0)
        ::close(FDataSocket);
    FDataSocket = -1;
    FPeerClosed = false;
    FStreamHead = FStreamTail = 0;
    ++FDataGeneration;
    FSendQueue.clear();
    FSendQueue.shrink_to_fit();
    FSendQueueHead = 0;
}

void TDRSock::closeListenSocket()
{
    retire(FListenNotifier);
    if (FListenSocket >= 0)
        ::close(FListenSocket);
    FListenSocket = -1;
}

void TDRSock::updateReadNotifier()
{
    // After end of stream the socket stays readable; watching it would spin.
    if (FReadNotifier)
        FReadNotifier->setEnabled(!FReadPaused && !FPeerClosed);
}

void TDRSock::handleAccept()
{
    if (FListenSocket < 0)
        return;
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const int fd = ::accept4(FListenSocket, reinterpret_cast<sockaddr *>(&peer), &len,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (FDataSocket >= 0) {
        // One client at a time: a newcomer is accepted and dropped at once.
        if (fd >= 0)
            ::close(fd);
        else if (!isTransientAcceptError(errno))
            FListenNotifier->setEnabled(
                false); // out of descriptors; resumes when the client leaves
        return;
    }
    const std::shared_ptr<bool> alive = FAlive;
    if (fd < 0) {
        const int error = errno;
        if (isTransientAcceptError(error))
            return;
        // Out of descriptors or memory: retrying would spin on the same
        // failure, so the server stops and says why.
        StopSocket();
        reportFailure(alive, std::string("Accept error. ") + std::strerror(error), true);
        return;
    }

    FClientAddr = peer.sin_addr.s_addr;
    FClientPort = ntohs(peer.sin_port);
    attachDataSocket(fd, true);

    // Prepared before the event: the handler may delete this endpoint.
    std::string line;
    std::string path;
    std::string logError;
    try {
        line =
            LoginLine(QDateTime::currentDateTime(), DottedAddress(FClientAddr), FClientPort, true);
        path = paths::LoginFilePath();
    } catch (const std::exception &e) {
        logError = e.what();
    }
    if (const auto handler = OnConnected)
        handler(this);
    if (logError.empty()) {
        try {
            AppendLoginLine(path, line);
        } catch (const std::exception &e) {
            logError = e.what();
        }
    }
    if (!logError.empty())
        reportFailure(alive, logError, false);
}

void TDRSock::handleRead()
{
    // Each event may stop, pause, restart or delete this endpoint: the loop
    // goes on only while the same connection is still wanted.
    const std::shared_ptr<bool> alive = FAlive;
    const std::uint64_t generation = FDataGeneration;
    const auto stillWanted = [&] {
        return *alive && generation == FDataGeneration && FDataSocket >= 0 && !FReadPaused &&
               !FPeerClosed;
    };
    std::size_t taken = 0;
    for (int events = 0; events < kReadsPerWake && taken < kBytesPerWake && stillWanted();
         ++events) {
        if (FDataIsTcp && FStreamHead < FStreamTail) {
            const std::size_t n = std::min(kBlockBytes, FStreamTail - FStreamHead);
            const char *block = FRecvBuffer.data() + FStreamHead;
            FStreamHead += n;
            taken += n;
            if (const auto handler = OnDataArrival)
                handler(this, block, static_cast<std::int32_t>(n));
            continue;
        }
        const ssize_t n = ::recv(FDataSocket, FRecvBuffer.data(), FRecvBuffer.size(), 0);
        if (n < 0) {
            const int error = errno;
            if (error == EINTR)
                continue;
            if (wouldBlock(error))
                return;
            // A failed read ends the wake-up: a lasting error must not spin.
            if (const auto handler = OnSocketError)
                handler(this, error);
            return;
        }
        if (FDataIsTcp && n == 0) {
            FPeerClosed = true;
            updateReadNotifier();
            TSockWindow *window = FWindow;
            QMetaObject::invokeMethod(
                window,
                [window, generation] {
                    if (window->Owner)
                        window->Owner->handleClose(generation);
                },
                Qt::QueuedConnection);
            if (const auto handler = OnDataArrival)
                handler(this, FRecvBuffer.data(), 0);
            return;
        }
        if (FDataIsTcp) {
            // Handed on in blocks by the next turns of this loop.
            FStreamHead = 0;
            FStreamTail = static_cast<std::size_t>(n);
            --events;
            continue;
        }
        taken += static_cast<std::size_t>(n);
        if (const auto handler = OnDataArrival)
            handler(this, FRecvBuffer.data(), static_cast<std::int32_t>(n));
    }
    // The budget ran out with bytes read but not handed on: they must not wait
    // for new data to wake the notifier.
    if (*alive && generation == FDataGeneration && FStreamHead < FStreamTail && !FReadPaused)
        scheduleRead();
}

void TDRSock::handleWritable()
{
    if (FDataSocket < 0)
        return;
    while (QueuedBytes() > 0) {
        const ssize_t n =
            ::send(FDataSocket, FSendQueue.data() + FSendQueueHead, QueuedBytes(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (wouldBlock(errno))
                break;
            // The connection failed: nothing queued can reach the peer any
            // more. The read side reports the close.
            FSendQueue.clear();
            FSendQueueHead = 0;
            FWriteNotifier->setEnabled(false);
            return;
        }
        FSendQueueHead += static_cast<std::size_t>(n);
    }
    if (QueuedBytes() > 0) {
        if (FSendQueueHead >= kCompactAt && FSendQueueHead * 2 >= FSendQueue.size()) {
            FSendQueue.erase(0, FSendQueueHead);
            FSendQueueHead = 0;
        }
        return;
    }
    FSendQueue.clear();
    FSendQueueHead = 0;
    FWriteNotifier->setEnabled(false);
    if (const auto handler = OnSendQueueDrained)
        handler(this);
}

void TDRSock::handleClose(std::uint64_t generation)
{
    if (generation != FDataGeneration || FDataSocket < 0)
        return;
    std::string logError;
    if (FState == 1) {
        // After a reset the kernel no longer knows the peer; the accept did.
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        std::uint32_t addr = FClientAddr;
        int port = FClientPort;
        if (::getpeername(FDataSocket, reinterpret_cast<sockaddr *>(&peer), &len) == 0) {
            addr = peer.sin_addr.s_addr;
            port = ntohs(peer.sin_port);
        }
        // A log failure must not keep the client attached: report it after
        // the endpoint is ready for the next client.
        try {
            AppendLoginLine(paths::LoginFilePath(), LoginLine(QDateTime::currentDateTime(),
                                                              DottedAddress(addr), port, false));
        } catch (const std::exception &e) {
            logError = e.what();
        }
        closeDataSocket();
        FListenNotifier->setEnabled(true);
    }
    const std::shared_ptr<bool> alive = FAlive;
    if (const auto handler = OnSocketClose)
        handler(this);
    if (!logError.empty())
        reportFailure(alive, logError, false);
}

void TDRSock::reportFailure(const std::shared_ptr<bool> &alive, const std::string &reason,
                            bool fatal)
{
    if (!*alive)
        return;
    if (const auto handler = OnFailure)
        handler(this, reason, fatal);
}

} // namespace kestrune
