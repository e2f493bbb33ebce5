#include "net/DRSock.h"

#include "socket_support.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::EventLog;
using test::WaitUntil;

class DRSockUdp : public ::testing::Test
{
protected:
    void SetUp() override
    {
        log.Wire(sock);
        sock.RemotePort = test::PortOf(destination);
        sock.StartUDP();
        to = test::Loopback(sock.BoundPort());
    }
    void TearDown() override
    {
        ::close(destination);
        ::close(stranger);
    }
    void FromStranger(const std::string &bytes)
    {
        ::sendto(stranger, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&to),
                 sizeof to);
    }
    // The next datagram at `fd`, or nullopt when none comes in time.
    static std::optional<std::string> Datagram(int fd, int timeoutMs = 2000)
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return std::nullopt;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        return std::string(buf, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    }

    int destination = test::BoundSocket(SOCK_DGRAM);
    int stranger = test::BoundSocket(SOCK_DGRAM);
    TDRSock sock;
    EventLog log;
    sockaddr_in to{};
};

TEST_F(DRSockUdp, RepliesGoOnlyToTheConfiguredPeer)
{
    EXPECT_NE(sock.BoundPort(), 0);
    FromStranger("ping");
    ASSERT_TRUE(WaitUntil([&] { return log.data == "ping"; }));
    EXPECT_EQ(sock.SendData("pong"), 4);
    EXPECT_EQ(Datagram(destination), "pong");
    EXPECT_EQ(Datagram(stranger, 100), std::nullopt);
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
    EXPECT_EQ(Datagram(destination), "") << "an empty frame is an empty datagram";
    EXPECT_EQ(sock.SendData(std::string(3000, 'z')), 3000);
    EXPECT_EQ(Datagram(destination)->size(), 3000u) << "one datagram, not pieces";
}

} // namespace
} // namespace kestrune
