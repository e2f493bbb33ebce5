#include "net/DRSock.h"

#include "socket_support.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::Receive;
using test::WaitUntil;

class DRSockUdp : public ::testing::Test
{
protected:
    void SetUp() override
    {
        log.Wire(sock);
        sock.RemotePort = test::PortOf(destination);
        sock.StartUDP();
    }
    void TearDown() override
    {
        ::close(destination);
        ::close(stranger);
    }
    void FromStranger(const std::string &bytes)
    {
        const sockaddr_in to = test::Loopback(sock.BoundPort());
        ::sendto(stranger, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                 sizeof to);
    }

    int destination = test::BoundSocket(SOCK_DGRAM);
    int stranger = test::BoundSocket(SOCK_DGRAM);
    TDRSock sock;
    test::EventLog log;
};

TEST_F(DRSockUdp, RepliesGoOnlyToTheConfiguredPeer)
{
    FromStranger("ping");
    ASSERT_TRUE(WaitUntil([&] { return log.data == "ping"; }));
    EXPECT_EQ(sock.SendData("pong"), 4);
    EXPECT_EQ(Receive(destination), "pong");
    EXPECT_EQ(Receive(stranger, 100), std::nullopt);
}

TEST_F(DRSockUdp, DatagramSizesAtTheEdges)
{
    FromStranger(std::string(2049, 'x')); // too long: a failed read, never cut
    FromStranger(std::string(2048, 'y'));
    FromStranger("");
    ASSERT_TRUE(WaitUntil([&] { return log.order.size() == 3; }));
    EXPECT_EQ(log.order, (std::vector<std::string>{"error", "data", "data0"}));
    EXPECT_EQ(log.errors, std::vector<int>{EMSGSIZE});
    EXPECT_EQ(log.data.size(), 2048u);
    EXPECT_EQ(log.data.find_first_not_of('y'), std::string::npos) << "only the datagram that fits";
    test::Pump(50);
    EXPECT_EQ(log.Count("close"), 0) << "an empty datagram closes nothing";

    EXPECT_EQ(sock.SendData(""), 0);
    EXPECT_EQ(Receive(destination), "") << "an empty frame is an empty datagram";
    EXPECT_EQ(sock.SendData(std::string(3000, 'z')), 3000);
    EXPECT_EQ(Receive(destination)->size(), 3000u) << "one datagram, not pieces";
}

} // namespace
} // namespace kestrune
