#include "common/AppPaths.h"
#include "net/DRSock.h"

#include "socket_support.h"
#include "support/SocatPeer.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
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
