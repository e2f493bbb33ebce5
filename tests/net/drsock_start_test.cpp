#include "net/DRSock.h"
#include "net/SocketError.h"

#include "socket_support.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::FreePort;

std::string StartError(const std::function<void()> &start)
{
    try {
        start();
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
    const int busy = c.busyType ? test::BoundSocket(c.busyType, true) : -1;
    if (c.busyType == SOCK_STREAM)
        ::listen(busy, 1);

    TDRSock sock;
    sock.LocalPort = busy >= 0 ? test::PortOf(busy) : FreePort(SOCK_DGRAM);
    sock.RemotePort = FreePort(SOCK_STREAM); // nobody listens there
    sock.RemoteHost = c.remoteHost;
    std::string expected = c.message;
    if (expected == "Error bind sock to ")
        expected += std::to_string(sock.LocalPort) + ".";
    const auto start = [&] {
        if (c.role == 1)
            sock.StartServer();
        else if (c.role == 2)
            sock.StartClient();
        else
            sock.StartUDP();
    };
    EXPECT_EQ(StartError(start), expected);
    EXPECT_EQ(sock.State(), 0);
    if (busy >= 0)
        ::close(busy);
    EXPECT_EQ(test::OpenFdCount(), fdsBefore);

    // The port is free again and the endpoint can take another role.
    sock.RemoteHost = "127.0.0.1";
    EXPECT_EQ(StartError([&] { sock.StartUDP(); }), "started");
    EXPECT_EQ(sock.BoundPort(), sock.LocalPort);
    sock.StopSocket();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DRSockFailedStart,
    ::testing::Values(
        FailedStart{"ServerPortInUse", SOCK_STREAM, "127.0.0.1", 1, "Error bind sock to "},
        FailedStart{"UdpPortInUse", SOCK_DGRAM, "127.0.0.1", 3, "Error bind sock to "},
        FailedStart{"UdpUnknownHost", 0, "not a host", 3, "Error remote address."},
        FailedStart{"ClientUnknownHost", 0, "not a host", 2, "Error remote address."},
        FailedStart{"ClientRefused", 0, "127.0.0.1", 2,
                    "Error while try establish a TCP connect."}),
    [](const auto &p) { return std::string(p.param.name); });

TEST(DRSockLifecycle, SecondStartIsRefusedAndTheRoleStays)
{
    const int listener = test::BoundSocket(SOCK_STREAM);
    ::listen(listener, 4);
    for (int role = 1; role <= 3; ++role) {
        TDRSock sock;
        sock.RemotePort = test::PortOf(listener);
        if (role == 1)
            sock.StartServer();
        else if (role == 2)
            sock.StartClient();
        else
            sock.StartUDP();
        const int port = sock.BoundPort();
        EXPECT_EQ(StartError([&] { sock.StartServer(); }), "Control already started.");
        EXPECT_EQ(StartError([&] { sock.StartClient(); }), "Control already started.");
        EXPECT_EQ(StartError([&] { sock.StartUDP(); }), "Control already started.");
        EXPECT_EQ(sock.State(), role);
        EXPECT_EQ(sock.BoundPort(), port);
        if (role == 1) {
            EXPECT_NE(port, 0) << "LocalPort 0 lets the system choose";
        }
    }
    ::close(listener);
}

TEST(DRSockLifecycle, StopIsHarmlessTwiceAndAServerRestartsOnItsPort)
{
    TDRSock sock;
    sock.StopSocket();
    sock.StartServer();
    const int port = sock.BoundPort();
    sock.StopSocket();
    sock.StopSocket();
    EXPECT_EQ(sock.State(), 0);
    EXPECT_EQ(sock.BoundPort(), 0);

    sock.LocalPort = port;
    sock.StartServer();
    EXPECT_EQ(sock.BoundPort(), port);
    const int client = test::ConnectTo(port);
    EXPECT_GE(client, 0);
    ::close(client);
}

TEST(DRSockLifecycle, SendWithoutPeerSendsNothing)
{
    TDRSock sock;
    EXPECT_EQ(sock.SendData("abc"), -1);
    sock.StartServer();
    EXPECT_EQ(sock.SendData("abc"), -1) << "a server without a client";
    EXPECT_EQ(sock.QueuedBytes(), 0u);
}

} // namespace
} // namespace kestrune
