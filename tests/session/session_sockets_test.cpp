// The session over real loopback sockets: datagrams of every length relayed
// whole, and a relay whose peer stops reading, fed by a source that cannot be
// held back (its queue stays at the limit and the rest is dropped and counted)
// or by one that can (nothing is lost).
#include "engine/ChannelTransports.h"
#include "net/socket_support.h"
#include "session/Session.h"

#include <QObject>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kestrune {
namespace {

using test::WaitUntil;

// 65,535 less the IPv4 and UDP headers: the longest datagram IPv4 carries.
constexpr std::size_t kLargestDatagram = 65507;

TChannel Udp(int localPort, int remotePort)
{
    TChannel c;
    c.Method = cmUDP;
    c.IPAddr = "127.0.0.1";
    c.LocalPort = localPort;
    c.RemotePort = remotePort;
    return c;
}

TChannel TcpClient(int remotePort)
{
    TChannel c;
    c.Method = cmTCPClient;
    c.IPAddr = "127.0.0.1";
    c.RemotePort = remotePort;
    return c;
}

// A port nobody holds right now, for a channel that must bind it itself.
int FreeUdpPort()
{
    const int fd = test::BoundSocket(SOCK_DGRAM);
    const int port = test::PortOf(fd);
    ::close(fd);
    return port;
}

int Listener(int receiveBuffer = 0)
{
    const int fd = test::BoundSocket(SOCK_STREAM);
    // Set before listen, so the accepted socket has it from its start.
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    ::listen(fd, 1);
    return fd;
}

int AcceptOne(int listener)
{
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1)
        return -1;
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
}

void SendTo(int fd, int port, const std::string &bytes)
{
    const sockaddr_in to = test::Loopback(port);
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

// Reads what a non-blocking stream socket has now.
std::string Drain(int fd)
{
    std::string got;
    std::vector<char> buf(256 * 1024);
    for (;;) {
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
        if (n <= 0)
            return got;
        got.append(buf.data(), static_cast<std::size_t>(n));
    }
}

class SessionSockets : public ::testing::Test
{
protected:
    SessionSockets()
        : session([this](std::function<void()> action) {
              QTimer::singleShot(0, &context, std::move(action));
          })
    {
        // As the window does: each block is seen, then routed by its origin.
        session.OnData = [this](bool fromRelay, std::string_view block) {
            blocks.push_back({fromRelay, std::string(block)});
            taken += block.size();
            session.Route(fromRelay, block);
            for (std::size_t i = 0; i < session.RelayCount(); ++i)
                mostQueued = std::max(mostQueued, session.RelayQueuedBytes(i));
        };
        session.OnStopped = [this](const std::string &) { stopped = true; };
    }
    ~SessionSockets() override
    {
        session.CloseAll();
        test::Pump(10);
        for (const int fd : fds)
            ::close(fd);
    }

    int Keep(int fd)
    {
        fds.push_back(fd);
        return fd;
    }
    void OpenMain(const TChannel &channel) { session.OpenMain(OpenChannelTransport(channel)); }
    void OpenRelay(const TChannel &channel)
    {
        session.AddRelay(true);
        session.OpenRelay(session.RelayCount() - 1, OpenChannelTransport(channel));
    }
    [[nodiscard]] std::size_t BlocksSeen() const { return blocks.size(); }

    struct TBlock
    {
        bool FromRelay;
        std::string Bytes;
    };
    QObject context; // runs the session's deferred work; goes after it
    TSession session;
    std::vector<TBlock> blocks;
    std::size_t taken = 0; // bytes of all blocks seen
    std::size_t mostQueued = 0;
    bool stopped = false;
    std::vector<int> fds;
};

// Each datagram is one block however long, goes to a UDP relay as one datagram
// and to a TCP relay as its bytes; what comes back over TCP is in blocks of
// at most 2,048 bytes, each a datagram of its own on the main channel.
TEST_F(SessionSockets, DatagramsOfEveryLengthAreRelayedWhole)
{
    const int sender = Keep(test::BoundSocket(SOCK_DGRAM));
    const int udpPeer = Keep(test::BoundSocket(SOCK_DGRAM));
    const int listener = Keep(Listener());
    const int mainPort = FreeUdpPort();
    OpenMain(Udp(mainPort, test::PortOf(sender)));
    OpenRelay(Udp(0, test::PortOf(udpPeer)));
    OpenRelay(TcpClient(test::PortOf(listener)));
    const int tcpPeer = Keep(AcceptOne(listener));
    ASSERT_GE(tcpPeer, 0);

    std::vector<std::string> datagrams;
    std::string stream;
    for (const std::size_t size : {kLargestDatagram, std::size_t{2049}, std::size_t{2048},
                                   std::size_t{40000}, std::size_t{1}}) {
        std::string d(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            d[i] = static_cast<char>(i * 7 + size);
        SendTo(sender, mainPort, d);
        datagrams.push_back(d);
        stream += d;
    }
    ASSERT_TRUE(WaitUntil([&] { return BlocksSeen() == datagrams.size(); }));
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
        SCOPED_TRACE(datagrams[i].size());
        EXPECT_FALSE(blocks[i].FromRelay);
        EXPECT_EQ(blocks[i].Bytes, datagrams[i]) << "one block per datagram, whole";
        EXPECT_EQ(test::Receive(udpPeer), datagrams[i]) << "one datagram on the UDP relay";
    }
    std::string onTcp;
    ASSERT_TRUE(WaitUntil([&] {
        onTcp += Drain(tcpPeer);
        return onTcp.size() >= stream.size();
    }));
    EXPECT_EQ(onTcp, stream);

    const std::string back(10000, 'b');
    ASSERT_EQ(::send(tcpPeer, back.data(), back.size(), MSG_NOSIGNAL), 10000);
    std::string fromTcp;
    std::size_t datagramsBack = 0;
    ASSERT_TRUE(WaitUntil([&] {
        while (const auto d = test::Receive(sender, 0)) {
            EXPECT_LE(d->size(), 2048u);
            fromTcp += *d;
            ++datagramsBack;
        }
        return fromTcp.size() >= back.size();
    }));
    EXPECT_EQ(fromTcp, back);
    EXPECT_GE(datagramsBack, 5u);
    EXPECT_FALSE(stopped);
}

// A flood into a relay whose peer stops reading. The datagrams of the UDP
// source each carry their number and a pattern, so what arrives can be checked
// to be whole datagrams in order with the dropped ones left out.
struct TFloodCase
{
    const char *Name;
    bool UdpSource;
};

class SessionFlood : public SessionSockets, public ::testing::WithParamInterface<TFloodCase>
{
protected:
    static constexpr std::size_t kDatagram = 8192;
    static constexpr std::size_t kLimit = 256 * 1024;
    // Past the kernel's buffers for the relay's connection, whatever their size.
    static constexpr std::size_t kMostFlood = 64 * 1024 * 1024;

    void SetUp() override
    {
        sink = Keep(Listener(16 * 1024));
        if (GetParam().UdpSource) {
            source = Keep(test::BoundSocket(SOCK_DGRAM));
            mainPort = FreeUdpPort();
            OpenMain(Udp(mainPort, test::PortOf(source)));
        } else {
            // The main channel is a TCP client of this test's server.
            const int server = Keep(Listener());
            OpenMain(TcpClient(test::PortOf(server)));
            source = Keep(AcceptOne(server));
        }
        session.SetQueueLimit(kLimit);
        session.OnRelayDropping = [this](int channel, std::uint64_t bytes) {
            reports.emplace_back(channel, bytes);
        };
        OpenRelay(TcpClient(test::PortOf(sink)));
        peer = Keep(AcceptOne(sink));
        ASSERT_GE(source, 0);
        ASSERT_GE(peer, 0);
    }

    static std::string Datagram(std::uint32_t number)
    {
        std::string d(kDatagram, '\0');
        std::memcpy(d.data(), &number, sizeof number);
        for (std::size_t i = sizeof number; i < d.size(); ++i)
            d[i] = static_cast<char>(number * 31 + i);
        return d;
    }

    // Sends bursts from the source, each taken by the session before the next
    // (so the kernel drops no datagram), until the relay's queue has been at
    // its limit `episodes` times (UDP) or the source is held back (TCP), and
    // a few bursts more.
    void Flood(std::size_t episodes)
    {
        const auto held = [&] {
            return GetParam().UdpSource ? reports.size() >= episodes : session.MainPaused();
        };
        std::size_t after = 0;
        for (std::size_t burst = 0; after < 8 && burst * 64 * kDatagram < kMostFlood; ++burst) {
            for (int i = 0; i < 64; ++i) {
                const std::string d = Datagram(next++);
                if (GetParam().UdpSource) {
                    SendTo(source, mainPort, d);
                    sent += d.size();
                    continue;
                }
                const ssize_t n = ::send(source, d.data(), d.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                const std::size_t took = n > 0 ? static_cast<std::size_t>(n) : 0;
                sent += took;
                streamSent.append(d, 0, took);
                if (took < d.size())
                    return; // the kernel holds no more: the source is held back for good
            }
            ASSERT_TRUE(WaitUntil([&] { return taken >= sent || session.MainPaused(); }));
            if (held())
                ++after;
        }
    }

    // The peer reads again until everything the relay kept has arrived.
    void PeerReadsAll()
    {
        ASSERT_TRUE(WaitUntil(
            [&] {
                received += Drain(peer);
                return received.size() + session.OverflowBytes(0) >= sent &&
                       session.RelayQueuedBytes(0) == 0;
            },
            20000));
    }

    int mainPort = 0;
    int source = -1;
    int sink = -1;
    int peer = -1;
    std::uint32_t next = 0;
    std::size_t sent = 0;
    std::string streamSent;
    std::string received;
    std::vector<std::pair<int, std::uint64_t>> reports;
};

TEST_P(SessionFlood, TheQueueStaysAtItsLimitAndOnlyWhatCannotWaitIsDropped)
{
    Flood(1);
    // A source that can wait is held back at the high mark, whatever the
    // limit; its last block before the hold still goes in.
    const std::size_t bound = GetParam().UdpSource ? kLimit : TSession::HighWater + 2048;
    EXPECT_LE(mostQueued, bound) << "queued bytes stay bounded";
    PeerReadsAll();
    EXPECT_FALSE(stopped);

    if (!GetParam().UdpSource) {
        EXPECT_EQ(session.OverflowBytes(0), 0u);
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(received, streamSent) << "nothing lost";
        return;
    }
    const std::uint64_t dropped = session.OverflowBytes(0);
    EXPECT_GE(dropped, 16 * kDatagram);
    EXPECT_EQ(received.size() + dropped, sent);
    ASSERT_EQ(received.size() % kDatagram, 0u) << "only whole datagrams are dropped";
    std::uint32_t last = 0;
    for (std::size_t at = 0; at < received.size(); at += kDatagram) {
        std::uint32_t number = 0;
        std::memcpy(&number, received.data() + at, sizeof number);
        ASSERT_TRUE(at == 0 || number > last) << "in order, none twice";
        ASSERT_EQ(received.compare(at, kDatagram, Datagram(number)), 0);
        last = number;
    }
    ASSERT_EQ(reports.size(), 1u) << "said once for the whole episode";
    EXPECT_EQ(reports[0].first, 0);
    EXPECT_EQ(reports[0].second, kDatagram);

    // Drained, the episode is over: the next flood is a new one.
    Flood(2);
    EXPECT_LE(mostQueued, kLimit);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].second, dropped + kDatagram);
}

INSTANTIATE_TEST_SUITE_P(Sources, SessionFlood,
                         ::testing::Values(TFloodCase{"Udp", true}, TFloodCase{"Tcp", false}),
                         [](const auto &p) { return std::string(p.param.Name); });

} // namespace
} // namespace kestrune
