#include "common/AppPaths.h"
#include "net/DRSock.h"

#include "socket_support.h"
#include "support/SocatPeer.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>

namespace kestrune {
namespace {

using test::TSocatPeer;
using test::WaitUntil;

std::string LoginText()
{
    std::ifstream in(paths::LoginFilePath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int Count(const std::string &text, const std::string &part)
{
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class DRSockFamilies : public ::testing::Test
{
protected:
    void SetUp() override { paths::SetDataDirOverride(dir.path().toStdString()); }
    void TearDown() override { paths::SetDataDirOverride({}); }

    QTemporaryDir dir;
    test::EventLog log;
};

struct FamilyCase
{
    const char *name;
    int role; // 1 server, 2 client, 3 UDP
    bool ipv6;
    const char *peerHost; // as the endpoint shows the peer
};

class DRSockEveryRole : public DRSockFamilies, public ::testing::WithParamInterface<FamilyCase>
{
};

// socat on the far side, over IPv6 or IPv4; both directions carry bytes and
// the peer is named as the family has it, IPv4 never as ::ffff:.
TEST_P(DRSockEveryRole, CarriesBytesBothWaysAndNamesThePeer)
{
    const FamilyCase &c = GetParam();
    const std::string loop = c.ipv6 ? "[::1]" : "127.0.0.1";
    const std::string v = c.ipv6 ? "6" : "4";
    TDRSock sock;
    log.Wire(sock);
    std::unique_ptr<TSocatPeer> peer;
    const int peerPort = test::VacantPort(c.role == 3 ? SOCK_DGRAM : SOCK_STREAM);
    if (c.role == 1) {
        sock.StartServer();
        peer = std::make_unique<TSocatPeer>("TCP" + v + ":" + loop + ":" +
                                            std::to_string(sock.BoundPort()));
        ASSERT_TRUE(WaitUntil([&] { return log.Count("connected") == 1; }));
    } else if (c.role == 2) {
        peer = std::make_unique<TSocatPeer>("TCP" + v + "-LISTEN:" + std::to_string(peerPort) +
                                            ",bind=" + loop + ",reuseaddr");
        ASSERT_TRUE(test::WaitBound(c.ipv6 ? "tcp6" : "tcp", peerPort));
        sock.RemoteHost = c.ipv6 ? "::1" : "127.0.0.1";
        sock.RemotePort = peerPort;
        sock.StartClient();
    } else {
        sock.LocalPort = test::VacantPort(SOCK_DGRAM);
        sock.RemoteHost = c.ipv6 ? "::1" : "127.0.0.1";
        sock.RemotePort = peerPort;
        sock.StartUDP();
        peer = std::make_unique<TSocatPeer>("UDP" + v + ":" + loop + ":" +
                                            std::to_string(sock.LocalPort) + ",bind=" + loop + ":" +
                                            std::to_string(peerPort));
        ASSERT_TRUE(test::WaitBound(c.ipv6 ? "udp6" : "udp", peerPort));
    }
    ASSERT_TRUE(peer->Started());

    ASSERT_TRUE(peer->Send("ping"));
    ASSERT_TRUE(WaitUntil([&] { return log.data == "ping"; })) << log.data;
    EXPECT_EQ(sock.PeerText().rfind(std::string(c.peerHost) + ":", 0), 0u) << sock.PeerText();
    if (c.role != 1) {
        EXPECT_EQ(sock.PeerText(), std::string(c.peerHost) + ":" + std::to_string(peerPort));
    }
    ASSERT_GE(sock.SendData("pong"), 0);
    EXPECT_TRUE(WaitUntil([&] { return peer->Output() == "pong"; })) << peer->Output();
    if (c.role == 1) {
        EXPECT_EQ(Count(LoginText(), "  " + std::string(c.peerHost) + ":"), 1) << LoginText();
        EXPECT_EQ(Count(LoginText(), "::ffff:"), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Roles, DRSockEveryRole,
                         ::testing::Values(FamilyCase{"ServerIPv6Client", 1, true, "[::1]"},
                                           FamilyCase{"ServerIPv4Client", 1, false, "127.0.0.1"},
                                           FamilyCase{"ClientToIPv6", 2, true, "[::1]"},
                                           FamilyCase{"UdpIPv6", 3, true, "[::1]"},
                                           FamilyCase{"UdpIPv4", 3, false, "127.0.0.1"}),
                         [](const auto &p) { return std::string(p.param.name); });

// Three clients at once, of both families: each one's bytes arrive from its
// own endpoint, each gets every frame sent, and they may leave in any order.
TEST_F(DRSockFamilies, SeveralClientsAreServedAtOnce)
{
    TDRSock sock;
    sock.SeveralClients = true;
    std::map<std::string, std::string> bySender;
    int closes = 0;
    std::vector<int> countsAtClose;
    sock.OnDataArrival = [&](TDRSock *from, const void *buffer, std::int32_t n) {
        bySender[from->PeerText()].append(static_cast<const char *>(buffer),
                                          static_cast<std::size_t>(n));
    };
    sock.OnSocketClose = [&](TDRSock *) {
        ++closes;
        countsAtClose.push_back(sock.ClientCount());
    };
    sock.StartServer();
    const std::string port = std::to_string(sock.BoundPort());
    std::vector<std::unique_ptr<TSocatPeer>> peers;
    for (const char *address : {"TCP6:[::1]:", "TCP4:127.0.0.1:", "TCP6:[::1]:"}) {
        peers.push_back(std::make_unique<TSocatPeer>(address + port));
        const int want = static_cast<int>(peers.size());
        ASSERT_TRUE(WaitUntil([&] { return sock.ClientCount() == want; }));
    }
    for (std::size_t i = 0; i < peers.size(); ++i)
        ASSERT_TRUE(peers[i]->Send("from" + std::to_string(i)));
    ASSERT_TRUE(WaitUntil([&] { return bySender.size() == 3; }));
    ASSERT_TRUE(WaitUntil([&] {
        std::string all;
        for (const auto &[sender, bytes] : bySender)
            all += bytes;
        return all.size() == 15;
    }));
    int ipv4 = 0;
    for (const auto &[sender, bytes] : bySender) {
        EXPECT_EQ(bytes.size(), 5u) << sender;
        ipv4 += sender.rfind("127.0.0.1:", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(ipv4, 1);

    EXPECT_GE(sock.SendData("frame1"), 0);
    EXPECT_GE(sock.SendData("frame2"), 0);
    for (auto &peer : peers) {
        EXPECT_TRUE(WaitUntil([&] { return peer->Output() == "frame1frame2"; })) << peer->Output();
    }

    // The middle one first, then the last, then the first.
    for (std::size_t i : {1u, 2u, 0u}) {
        peers[i]->CloseInput();
        const int want = closes + 1;
        ASSERT_TRUE(WaitUntil([&] { return closes == want; }));
        if (closes < 3) {
            EXPECT_GE(sock.SendData("more"), 0);
        }
    }
    EXPECT_EQ(countsAtClose, (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(sock.SendData("nobody"), -1);
    const std::string login = LoginText();
    EXPECT_EQ(Count(login, " Connected."), 3) << login;
    EXPECT_EQ(Count(login, " Disconnected."), 3) << login;
    EXPECT_EQ(Count(login, "[::1]:"), 4) << login;
    EXPECT_EQ(peers[0]->Output(), "frame1frame2moremore");
    EXPECT_EQ(peers[2]->Output(), "frame1frame2more");
}

// Replies go to whoever spoke last, not to the fixed destination.
TEST_F(DRSockFamilies, UdpRepliesToTheLastSender)
{
    TDRSock sock;
    log.Wire(sock);
    sock.ReplyToSender = true;
    sock.LocalPort = test::VacantPort(SOCK_DGRAM);
    const int fixed = test::BoundSocket(SOCK_DGRAM);
    sock.RemotePort = test::PortOf(fixed);
    sock.StartUDP();
    const std::string local = std::to_string(sock.LocalPort);
    const int port1 = test::VacantPort(SOCK_DGRAM);
    const int port2 = test::VacantPort(SOCK_DGRAM);
    TSocatPeer one("UDP4:127.0.0.1:" + local + ",bind=127.0.0.1:" + std::to_string(port1));
    TSocatPeer two("UDP6:[::1]:" + local + ",bind=[::1]:" + std::to_string(port2));
    ASSERT_TRUE(test::WaitBound("udp", port1) && test::WaitBound("udp6", port2));

    ASSERT_TRUE(one.Send("one"));
    ASSERT_TRUE(WaitUntil([&] { return log.data == "one"; }));
    ASSERT_GE(sock.SendData("to one"), 0);
    ASSERT_TRUE(two.Send("two"));
    ASSERT_TRUE(WaitUntil([&] { return log.data == "onetwo"; }));
    ASSERT_GE(sock.SendData("to two"), 0);
    EXPECT_TRUE(WaitUntil([&] { return one.Output() == "to one" && two.Output() == "to two"; }))
        << one.Output() << "|" << two.Output();
    test::Pump(50);
    EXPECT_EQ(one.Output(), "to one");
    EXPECT_EQ(test::Receive(fixed, 0), std::nullopt);
    ::close(fixed);
}

} // namespace
} // namespace kestrune
