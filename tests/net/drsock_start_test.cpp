#include "net/DRSock.h"
#include "net/SocketError.h"

#include "socket_support.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

std::string StartError(TDRSock &sock, int role)
{
    try {
        if (role == 1)
            sock.StartServer();
        else if (role == 2)
            sock.StartClient();
        else
            sock.StartUDP();
    } catch (const ESocketError &e) {
        return e.what();
    }
    return "started";
}

// Each case sets the endpoint up so that its start must fail.
struct FailedStart
{
    const char *name;
    int busyType; // a plain socket holds LocalPort when non-zero
    const char *remoteHost;
    int role; // 1 server, 2 client, 3 UDP
    const char *message;
};

void PrintTo(const FailedStart &c, std::ostream *os)
{
    *os << c.name;
}

class DRSockFailedStart : public ::testing::TestWithParam<FailedStart>
{
};

TEST_P(DRSockFailedStart, ReportsAndLeavesNothingOpen)
{
    const FailedStart &c = GetParam();
    test::Pump(1);
    const int fdsBefore = test::OpenFdCount();
    const int busy = test::BoundSocket(c.busyType ? c.busyType : SOCK_DGRAM, true);
    if (c.busyType == SOCK_STREAM)
        ::listen(busy, 1);
    const int vacant = test::BoundSocket(SOCK_STREAM); // bound, not listening: refuses

    TDRSock sock;
    sock.LocalPort = test::PortOf(busy);
    sock.RemotePort = test::PortOf(vacant);
    sock.RemoteHost = c.remoteHost;
    if (!c.busyType)
        ::close(busy);
    std::string expected = c.message;
    // The system's reason follows the port, as it follows a failed connect.
    if (expected == "Error bind sock to ")
        expected += std::to_string(sock.LocalPort) + ": Address already in use.";
    EXPECT_EQ(StartError(sock, c.role), expected);
    EXPECT_EQ(sock.State(), 0);
    if (c.busyType)
        ::close(busy);
    ::close(vacant);
    EXPECT_EQ(test::OpenFdCount(), fdsBefore);

    // The port is free again and the endpoint can take a role.
    sock.RemoteHost = "127.0.0.1";
    EXPECT_EQ(StartError(sock, 3), "started");
    EXPECT_EQ(sock.BoundPort(), sock.LocalPort);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DRSockFailedStart,
    ::testing::Values(
        FailedStart{"ServerPortInUse", SOCK_STREAM, "127.0.0.1", 1, "Error bind sock to "},
        FailedStart{"UdpPortInUse", SOCK_DGRAM, "127.0.0.1", 3, "Error bind sock to "},
        FailedStart{"UdpUnknownHost", 0, "not a host", 3, "Error remote address."},
        FailedStart{"ClientUnknownHost", 0, "not a host", 2, "Error remote address."},
        FailedStart{"ClientRefused", 0, "127.0.0.1", 2,
                    "Error while try establish a TCP connect. Connection refused"}),
    [](const auto &p) { return std::string(p.param.name); });

TEST(DRSockLifecycle, SecondStartIsRefusedAndTheRoleStays)
{
    TDRSock idle;
    idle.StopSocket();
    EXPECT_EQ(idle.SendData("abc"), -1);
    const int listener = test::BoundSocket(SOCK_STREAM);
    ::listen(listener, 4);
    for (int role = 1; role <= 3; ++role) {
        TDRSock sock;
        sock.RemotePort = test::PortOf(listener);
        ASSERT_EQ(StartError(sock, role), "started");
        const int port = sock.BoundPort();
        for (int again = 1; again <= 3; ++again)
            EXPECT_EQ(StartError(sock, again), "Control already started.");
        EXPECT_EQ(sock.State(), role);
        EXPECT_EQ(sock.BoundPort(), port);
        EXPECT_EQ(port != 0, role != 2) << "LocalPort 0 lets the system choose";
        if (role == 1) {
            EXPECT_EQ(sock.SendData("abc"), -1) << "a server without a client";
        }
        sock.StopSocket();
        sock.StopSocket();
        EXPECT_EQ(sock.State(), 0);
        EXPECT_EQ(sock.BoundPort(), 0);
    }
    ::close(listener);
}

} // namespace
} // namespace kestrune
