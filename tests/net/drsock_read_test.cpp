#include "net/DRSock.h"

#include "socket_support.h"

#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sys/ioctl.h>
#include <thread>

namespace kestrune {
namespace {

using test::WaitUntil;

// One endpoint, TCP client or UDP peer, with a plain socket of the test
// feeding it. Bytes are put in place before one wake-up is driven by hand.
class ReadOnEndpoint
{
public:
    explicit ReadOnEndpoint(bool tcp) : FTcp(tcp)
    {
        log.Wire(*Sock);
        if (tcp) {
            FListener = test::BoundSocket(SOCK_STREAM);
            ::listen(FListener, 1);
            Sock->RemotePort = test::PortOf(FListener);
            Sock->StartClient();
            FPeer = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
        } else {
            FPeer = test::BoundSocket(SOCK_DGRAM);
            Sock->StartUDP();
        }
    }
    ~ReadOnEndpoint()
    {
        ::close(FPeer);
        if (FListener >= 0)
            ::close(FListener);
    }
    ReadOnEndpoint(const ReadOnEndpoint &) = delete;
    ReadOnEndpoint &operator=(const ReadOnEndpoint &) = delete;

    // TCP: the pieces as one stream; UDP: one datagram each. Returns once
    // the endpoint's socket holds them all, with no event loop run meanwhile.
    void Feed(const std::vector<std::string> &pieces)
    {
        const int fd = TDRSockTestAccess::DataSocket(*Sock);
        std::size_t total = 0;
        for (const std::string &piece : pieces) {
            total += piece.size();
            if (FTcp) {
                ASSERT_EQ(::send(FPeer, piece.data(), piece.size(), 0), ssize_t(piece.size()));
            } else {
                const sockaddr_in to = test::Loopback(Sock->BoundPort());
                ::sendto(FPeer, piece.data(), piece.size(), 0,
                         reinterpret_cast<const sockaddr *>(&to), sizeof to);
            }
        }
        if (FTcp) {
            int ready = 0;
            for (int i = 0; i < 500 && ready != static_cast<int>(total); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                ::ioctl(fd, FIONREAD, &ready);
            }
            ASSERT_EQ(ready, static_cast<int>(total));
        } else {
            // Loopback datagrams are queued by the time sendto returns; a
            // short settle covers a delayed softirq.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    std::unique_ptr<TDRSock> Sock = std::make_unique<TDRSock>();
    test::EventLog log;

private:
    bool FTcp;
    int FListener = -1;
    int FPeer = -1;
};

std::string Pattern(std::size_t size, std::uint32_t seed)
{
    std::string bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>((seed = seed * 1664525u + 1013904223u) >> 24);
    return bytes;
}

// What a handler does in the third event of a wake-up.
struct ReadOnCase
{
    const char *name;
    bool tcp;
    const char *act; // "", "pause", "stop" or "delete"
};

void PrintTo(const ReadOnCase &c, std::ostream *os)
{
    *os << c.name;
}

class DRSockReadOn : public ::testing::TestWithParam<ReadOnCase>
{
};

TEST_P(DRSockReadOn, OneWakeDeliversEveryReadyBlockInOrderUntilAHandlerEndsIt)
{
    const ReadOnCase &c = GetParam();
    const std::string act = c.act;
    ReadOnEndpoint ep(c.tcp);
    // 20 full blocks and a short one; as datagrams, sizes from 1 to 2,048.
    std::vector<std::string> pieces;
    for (int i = 0; i < 21; ++i)
        pieces.push_back(Pattern(c.tcp ? (i < 20 ? 2048 : 100) : 1 + i * 2047 / 20, i));
    std::string stream;
    for (const std::string &piece : pieces)
        stream += piece;
    if (c.tcp)
        pieces = {stream};
    ep.Feed(pieces);

    const auto record = ep.Sock->OnDataArrival;
    TDRSock *raw = ep.Sock.get();
    ep.Sock->OnDataArrival = [&](TDRSock *sender, const void *buffer, std::int32_t count) {
        record(sender, buffer, count);
        if (ep.log.blocks.size() != 3)
            return;
        if (act == "pause")
            sender->PauseReading(true);
        else if (act == "stop")
            sender->StopSocket();
        else if (act == "delete")
            ep.Sock.reset();
    };
    TDRSockTestAccess::Read(*raw);

    const std::size_t expected = act.empty() ? 21 : 3;
    ASSERT_EQ(ep.log.blocks.size(), expected);
    EXPECT_EQ(ep.log.data, stream.substr(0, ep.log.data.size()));
    for (std::size_t i = 0; i < expected; ++i) {
        EXPECT_LE(ep.log.blocks[i].size(), 2048u);
        if (!c.tcp) {
            EXPECT_EQ(ep.log.blocks[i], Pattern(1 + i * 2047 / 20, i)) << "datagram " << i;
        }
    }
    if (act == "pause") {
        test::Pump(50);
        EXPECT_EQ(ep.log.blocks.size(), 3u) << "paused";
        ep.Sock->PauseReading(false);
        EXPECT_TRUE(WaitUntil([&] { return ep.log.data.size() == stream.size(); }));
        EXPECT_EQ(ep.log.data, stream) << "resumed where it stopped";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DRSockReadOn,
                         ::testing::Values(ReadOnCase{"Tcp", true, ""},
                                           ReadOnCase{"TcpPaused", true, "pause"},
                                           ReadOnCase{"TcpStopped", true, "stop"},
                                           ReadOnCase{"TcpDeleted", true, "delete"},
                                           ReadOnCase{"Udp", false, ""},
                                           ReadOnCase{"UdpPaused", false, "pause"},
                                           ReadOnCase{"UdpStopped", false, "stop"},
                                           ReadOnCase{"UdpDeleted", false, "delete"}),
                         [](const auto &p) { return std::string(p.param.name); });

// One wake-up takes at most 64 reads, so other sockets and the GUI get their
// turn in a flood; the rest follows through the event loop.
TEST(DRSockReadBudget, AWakeStopsAt64ReadsAndTheRestFollows)
{
    for (const bool tcp : {true, false}) {
        ReadOnEndpoint ep(tcp);
        std::vector<std::string> pieces;
        for (int i = 0; i < 100; ++i)
            pieces.push_back(Pattern(tcp ? 2000 : 10, i));
        std::string stream;
        for (const std::string &piece : pieces)
            stream += piece;
        // Room for more than a wake-up takes (the default window holds less).
        const int room = 1 << 20;
        ::setsockopt(TDRSockTestAccess::DataSocket(*ep.Sock), SOL_SOCKET, SO_RCVBUF, &room,
                     sizeof room);
        ep.Feed(tcp ? std::vector<std::string>{stream} : pieces);
        TDRSockTestAccess::Read(*ep.Sock);
        EXPECT_EQ(ep.log.blocks.size(), 64u) << tcp;
        EXPECT_TRUE(WaitUntil([&] { return ep.log.data.size() == stream.size(); })) << tcp;
        EXPECT_EQ(ep.log.data, stream) << tcp;
    }
}

TEST(DRSockUdpBuffer, AsksForFourMebibytes)
{
    TDRSock sock;
    sock.StartUDP();
    int granted = 0;
    socklen_t len = sizeof granted;
    ASSERT_EQ(
        ::getsockopt(TDRSockTestAccess::DataSocket(sock), SOL_SOCKET, SO_RCVBUF, &granted, &len),
        0);
    // Without the privilege to force it the kernel caps the request at rmem_max;
    // it reports twice what it grants, for its own bookkeeping.
    const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int want = 4 << 20;
    const bool forced = ::setsockopt(probe, SOL_SOCKET, SO_RCVBUFFORCE, &want, sizeof want) == 0;
    ::close(probe);
    int rmemMax = 0;
    std::ifstream("/proc/sys/net/core/rmem_max") >> rmemMax;
    EXPECT_EQ(granted, 2 * (forced ? want : std::min(want, rmemMax)));
}

} // namespace
} // namespace kestrune
