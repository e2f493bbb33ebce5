#include "net/DRSock.h"

#include "socket_support.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::Receive;
using test::WaitUntil;

// 65,535 less the IPv4 and UDP headers.
constexpr std::size_t kLargestDatagram = 65507;

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

// Every datagram arrives whole, as one event, up to the largest IPv4 can carry.
TEST_F(DRSockUdp, DatagramSizesAtTheEdges)
{
    const std::vector<std::size_t> sizes = {kLargestDatagram, 2049, 2048, 0, 40000};
    for (std::size_t i = 0; i < sizes.size(); ++i)
        FromStranger(std::string(sizes[i], static_cast<char>('a' + i)));
    ASSERT_TRUE(WaitUntil([&] { return log.blocks.size() == sizes.size(); }));
    EXPECT_TRUE(log.errors.empty());
    for (std::size_t i = 0; i < sizes.size(); ++i)
        EXPECT_EQ(log.blocks[i], std::string(sizes[i], static_cast<char>('a' + i)));
    test::Pump(50);
    EXPECT_EQ(log.Count("close"), 0) << "an empty datagram closes nothing";

    EXPECT_EQ(sock.SendData(""), 0);
    EXPECT_EQ(Receive(destination), "") << "an empty frame is an empty datagram";
    const std::string longest(kLargestDatagram, 'z');
    EXPECT_EQ(sock.SendData(longest), static_cast<int>(longest.size()));
    EXPECT_EQ(Receive(destination), longest) << "one datagram, not pieces";
}

} // namespace
} // namespace kestrune
