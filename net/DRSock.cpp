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
#include <optional>
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

// A socket of the family; an IPv6 one also takes IPv4 (as ::ffff:a.b.c.d).
// A host without IPv6 gets an IPv4 socket, and family says so.
int openSocket(int type, int &family)
{
    if (family == AF_INET6) {
        const int fd = ::socket(AF_INET6, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd >= 0) {
            const int off = 0;
            ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
            return fd;
        }
        if (errno != EAFNOSUPPORT)
            return -1;
        family = AF_INET;
    }
    return ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

// "Error bind sock to 13005: Address already in use."
std::string bindError(std::int32_t port, int error)
{
    return "Error bind sock to " + std::to_string(port) + ": " + ErrorText(error) + ".";
}

void bindTo(int fd, int family, std::int32_t port)
{
    const TSockAddress local = AnySockAddress(family, port);
    if (::bind(fd, local.Get(), local.Length) != 0)
        throw ESocketError(bindError(port, errno));
}

TSockAddress peerOf(int fd, const TSockAddress &fallback)
{
    TSockAddress peer;
    peer.Length = sizeof peer.Storage;
    if (::getpeername(fd, peer.Get(), &peer.Length) != 0)
        return fallback;
    return peer;
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
    FClients.clear();
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
    int family = AF_INET6;
    TFileDescriptor fd(openSocket(SOCK_STREAM, family));
    if (!fd.IsOpen())
        throw ESocketError("Error create a socket");
    // Lets a restarted server bind while connections of the last run linger.
    const int on = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    bindTo(fd.Get(), family, LocalPort);
    // Clients that come together all wait their turn to be accepted.
    if (::listen(fd.Get(), SeveralClients ? SOMAXCONN : 1) != 0)
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
    const TSockAddress remote = ResolveEndpoint(RemoteHost, RemotePort);
    TFileDescriptor fd(::socket(remote.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.IsOpen())
        throw ESocketError("Error create a socket");
    // May run other handlers, which may stop or delete this endpoint: after a
    // failure nothing of it is touched.
    const int error = connectWaiting(fd.Get(), remote);
    if (error != 0)
        throw ESocketError(std::string(kConnectError) + " " + std::strerror(error));

    FClientAddress = remote;
    attachDataSocket(fd.Release(), true);
    FState = 2;
}

int TDRSock::connectWaiting(int fd, const TSockAddress &to)
{
    // A connect interrupted by a signal goes on in the background, as one
    // still in progress does.
    if (::connect(fd, to.Get(), to.Length) == 0)
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
    // Resolved first, as the destination decides the socket; a failure is
    // raised after the bind, whose failure comes first.
    std::optional<TSockAddress> to;
    try {
        to = ResolveEndpoint(RemoteHost, RemotePort);
    } catch (const ESocketError &) {
    }
    const bool group = to && to->IsMulticast();
    // An IPv4 group is joined on an IPv4 socket; everything else shares one
    // socket of both families.
    int family = group && to->Family() == AF_INET ? AF_INET : AF_INET6;
    TFileDescriptor fd(openSocket(SOCK_DGRAM, family));
    if (!fd.IsOpen())
        throw ESocketError("Error create a socket");
    const int on = 1;
    // Members of a group on one host listen on the same port.
    if (group)
        ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    bindTo(fd.Get(), family, LocalPort);
    requestReceiveBuffer(fd.Get());
    if (!to || (family == AF_INET && !to->IsIPv4()))
        throw ESocketError("Error remote address.");
    // A broadcast address is a destination like any other.
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (group)
        joinGroup(fd.Get(), *to);
    FSendTo = family == AF_INET6 ? MappedToIPv6(*to) : *to;
    FLastSender = {};

    attachDataSocket(fd.Release(), false);
    FState = 3;
}

void TDRSock::joinGroup(int fd, const TSockAddress &group)
{
    const auto failed = [](int error) {
        return ESocketError("Error join multicast group: " + ErrorText(error) + ".");
    };
    const int ttl = std::clamp(MulticastTtl, 0, 255);
    const int loop = MulticastLoop ? 1 : 0;
    if (group.Family() == AF_INET) {
        ip_mreqn request{};
        request.imr_multiaddr = reinterpret_cast<const sockaddr_in *>(group.Get())->sin_addr;
        request.imr_address.s_addr = htonl(INADDR_ANY);
        if (::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0)
            throw failed(errno);
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
        return;
    }
    const auto &in = *reinterpret_cast<const sockaddr_in6 *>(group.Get());
    ipv6_mreq request{};
    request.ipv6mr_multiaddr = in.sin6_addr;
    // A scope ("ff02::1%eth0") names the interface; otherwise the route decides.
    request.ipv6mr_interface = in.sin6_scope_id;
    if (::setsockopt(fd, IPPROTO_IPV6, IPV6_JOIN_GROUP, &request, sizeof request) != 0)
        throw failed(errno);
    if (in.sin6_scope_id != 0) {
        const int index = static_cast<int>(in.sin6_scope_id);
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index);
    }
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &ttl, sizeof ttl);
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, &loop, sizeof loop);
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
    FClients.clear();
    closeDataSocket();
    closeListenSocket();
    FState = 0;
}

std::int32_t TDRSock::SendData(const void *Buffer, std::int32_t Count)
{
    if (SeveralClients && FState == 1 && !FClients.empty() && Count >= 0 &&
        (Count == 0 || Buffer)) {
        // A send raises no event, so the list holds while it runs. A client
        // whose connection failed is skipped: its close follows.
        std::int32_t least = -1;
        for (const auto &client : FClients) {
            const std::int32_t n = client->SendData(Buffer, Count);
            if (n >= 0)
                least = least < 0 ? n : std::min(least, n);
        }
        return least;
    }
    if (FDataSocket < 0 || Count < 0 || (Count > 0 && !Buffer))
        return -1;
    const auto size = static_cast<std::size_t>(Count);
    if (!FDataIsTcp) {
        const TSockAddress &to = ReplyToSender && !FLastSender.Empty() ? FLastSender : FSendTo;
        ssize_t n;
        do {
            n = ::sendto(FDataSocket, Buffer, size, MSG_NOSIGNAL, to.Get(), to.Length);
        } while (n < 0 && errno == EINTR);
        return static_cast<std::int32_t>(n);
    }

    // Bytes already waiting go first: the stream keeps its order.
    if (ownQueuedBytes() > 0) {
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
    for (const auto &client : FClients)
        client->PauseReading(Pause);
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
    TSockAddress addr;
    addr.Length = sizeof addr.Storage;
    if (fd < 0 || ::getsockname(fd, addr.Get(), &addr.Length) != 0)
        return 0;
    return addr.Port();
}

std::size_t TDRSock::QueuedBytes() const
{
    std::size_t most = ownQueuedBytes();
    for (const auto &client : FClients)
        most = std::max(most, client->ownQueuedBytes());
    return most;
}

std::string TDRSock::PeerText() const
{
    if (FState == 3)
        return FLastSender.Empty() ? std::string() : EndpointText(FLastSender);
    if (FDataSocket < 0 || FClientAddress.Empty())
        return {};
    return EndpointText(FClientAddress);
}

int TDRSock::ClientCount() const
{
    if (FState != 1)
        return 0;
    return SeveralClients ? static_cast<int>(FClients.size()) : (FDataSocket >= 0 ? 1 : 0);
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
    TSockAddress peer;
    peer.Length = sizeof peer.Storage;
    const int fd = ::accept4(FListenSocket, peer.Get(), &peer.Length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (!SeveralClients && FDataSocket >= 0) {
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

    TDRSock *client = this;
    if (SeveralClients) {
        adoptClient(fd, peer);
        client = FClients.back().get();
    } else {
        FClientAddress = peer;
        attachDataSocket(fd, true);
    }

    // Prepared before the event: the handler may delete this endpoint.
    std::string line;
    std::string path;
    std::string logError;
    try {
        line = LoginLine(QDateTime::currentDateTime(), AddressText(peer), peer.Port(), true);
        path = paths::LoginFilePath();
    } catch (const std::exception &e) {
        logError = e.what();
    }
    if (const auto handler = OnConnected)
        handler(client);
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

void TDRSock::adoptClient(int fd, const TSockAddress &peer)
{
    auto client = std::make_unique<TDRSock>();
    client->FClientAddress = peer;
    client->FReadPaused = FReadPaused;
    client->attachDataSocket(fd, true);
    client->FState = 2;
    // Raised to this endpoint's handlers with the client as Sender.
    client->OnDataArrival = [this](TDRSock *from, const void *buffer, std::int32_t count) {
        if (const auto handler = OnDataArrival)
            handler(from, buffer, count);
    };
    client->OnSocketError = [this](TDRSock *from, std::int32_t code) {
        if (const auto handler = OnSocketError)
            handler(from, code);
    };
    client->OnSocketClose = [this](TDRSock *from) { clientClosed(from); };
    client->OnSendQueueDrained = [this](TDRSock *) {
        if (QueuedBytes() > 0)
            return;
        if (const auto handler = OnSendQueueDrained)
            handler(this);
    };
    FClients.push_back(std::move(client));
}

void TDRSock::clientClosed(TDRSock *client)
{
    const auto it = std::find_if(FClients.begin(), FClients.end(),
                                 [client](const auto &c) { return c.get() == client; });
    if (it == FClients.end())
        return;
    std::string logError;
    try {
        const TSockAddress peer = peerOf(client->FDataSocket, client->FClientAddress);
        AppendLoginLine(paths::LoginFilePath(), LoginLine(QDateTime::currentDateTime(),
                                                          AddressText(peer), peer.Port(), false));
    } catch (const std::exception &e) {
        logError = e.what();
    }
    // Out of the list before the event, alive until after it: the handler
    // sees the count without it and may still ask who it was.
    const std::unique_ptr<TDRSock> leaving = std::move(*it);
    FClients.erase(it);
    leaving->StopSocket();
    const std::shared_ptr<bool> alive = FAlive;
    if (const auto handler = OnSocketClose)
        handler(leaving.get());
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
        TSockAddress from;
        from.Length = sizeof from.Storage;
        const ssize_t n = FDataIsTcp
                              ? ::recv(FDataSocket, FRecvBuffer.data(), FRecvBuffer.size(), 0)
                              : ::recvfrom(FDataSocket, FRecvBuffer.data(), FRecvBuffer.size(), 0,
                                           from.Get(), &from.Length);
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
        FLastSender = from;
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
    while (ownQueuedBytes() > 0) {
        const ssize_t n =
            ::send(FDataSocket, FSendQueue.data() + FSendQueueHead, ownQueuedBytes(), MSG_NOSIGNAL);
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
    if (ownQueuedBytes() > 0) {
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
        const TSockAddress peer = peerOf(FDataSocket, FClientAddress);
        // A log failure must not keep the client attached: report it after
        // the endpoint is ready for the next client.
        try {
            AppendLoginLine(
                paths::LoginFilePath(),
                LoginLine(QDateTime::currentDateTime(), AddressText(peer), peer.Port(), false));
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
