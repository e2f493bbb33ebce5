#include "common/AppPaths.h"
#include "net/DRSock.h"
#include "net/SocketError.h"

#include "socket_support.h"

#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <sys/resource.h>

namespace kestrune {

// Drives the notification handlers without the event loop, so a throw meant
// for the application's error box can be caught here.
struct TDRSockTestAccess
{
    static void Accept(TDRSock &s) { s.handleAccept(); }
    static void Read(TDRSock &s) { s.handleRead(); }
    static void Close(TDRSock &s) { s.handleClose(s.FDataGeneration); }
};

namespace {

using test::ConnectTo;
using test::EventLog;
using test::WaitUntil;

class DRSockServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        paths::SetDataDirOverride(dir.path().toStdString());
        log.Wire(*sock);
        sock->StartServer();
        port = sock->BoundPort();
    }
    void TearDown() override { paths::SetDataDirOverride({}); }

    [[nodiscard]] std::vector<std::string> LoginLines() const
    {
        return test::FileLines(paths::LoginFilePath());
    }
    // A client the endpoint has accepted.
    int Attach()
    {
        const int fd = ConnectTo(port);
        const int before = log.Count("connected");
        EXPECT_TRUE(WaitUntil([&] { return log.Count("connected") > before; }));
        return fd;
    }

    QTemporaryDir dir;
    std::unique_ptr<TDRSock> sock = std::make_unique<TDRSock>();
    EventLog log;
    int port = 0;
};

TEST_F(DRSockServer, ServesOneClientAtATimeAndLogsEachVisit)
{
    const int first = Attach();
    ASSERT_EQ(::send(first, "hello", 5, 0), 5);
    ASSERT_TRUE(WaitUntil([&] { return log.data == "hello"; }));
    EXPECT_EQ(sock->SendData("hi"), 2);
    EXPECT_EQ(test::ReadSome(first), "hi");

    // A second client is dropped at once, with no event and no log line.
    const int second = ConnectTo(port);
    EXPECT_TRUE(WaitUntil([&] { return test::SeesEndOfStream(second, 0); }));
    ::close(second);
    EXPECT_EQ(log.order, (std::vector<std::string>{"connected", "data"}));
    EXPECT_EQ(sock->SendData("still"), 5);
    EXPECT_EQ(test::ReadSome(first), "still");

    // The first leaves: end of stream, then the close as a separate event.
    const int firstPort = test::PortOf(first);
    ::close(first);
    ASSERT_TRUE(WaitUntil([&] { return log.Count("close") == 1; }));
    EXPECT_EQ(log.order, (std::vector<std::string>{"connected", "data", "data0", "close"}));
    EXPECT_FALSE(log.closeInsideDataEvent);
    EXPECT_EQ(sock->SendData("x"), -1);

    const int third = Attach();
    const std::regex shape(R"(^\S.*\S  127\.0\.0\.1:(\d+) (Connected|Disconnected)\.\r$)");
    const auto lines = LoginLines();
    ASSERT_EQ(lines.size(), 3u);
    const char *kinds[] = {"Connected", "Disconnected", "Connected"};
    const int ports[] = {firstPort, firstPort, test::PortOf(third)};
    for (size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, shape)) << lines[i];
        EXPECT_EQ(m[1], std::to_string(ports[i]));
        EXPECT_EQ(m[2], kinds[i]);
    }
    ::close(third);
}

TEST_F(DRSockServer, ResetBurstAndVanishingClientsLeakNothing)
{
    test::Pump(1);
    sock->StopSocket();
    const int fdsBefore = test::OpenFdCount();
    sock->LocalPort = port;
    sock->StartServer();
    const int first = Attach();

    // 200 clients at once while one is served; some of them leave at once.
    std::vector<int> burst;
    for (int i = 0; i < 200; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const sockaddr_in to = test::Loopback(port);
        ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        if (i % 3 == 0)
            ::close(fd);
        else
            burst.push_back(fd);
    }
    test::Pump(1000);
    for (const int fd : burst)
        ::close(fd);
    EXPECT_EQ(log.Count("connected"), 1);
    EXPECT_EQ(sock->SendData("ok"), 2);
    EXPECT_EQ(test::ReadSome(first), "ok");

    // The served client resets its connection.
    const linger abort{1, 0};
    ::setsockopt(first, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(first);
    ASSERT_TRUE(WaitUntil([&] { return log.Count("close") == 1; }));
    for (const int code : log.errors)
        EXPECT_EQ(code, ECONNRESET);
    EXPECT_EQ(LoginLines().size(), 2u);

    const int next = Attach();
    EXPECT_EQ(sock->SendData("next"), 4);
    EXPECT_EQ(test::ReadSome(next), "next");
    ::close(next);
    ASSERT_TRUE(WaitUntil([&] { return log.Count("close") == 2; }));
    sock->StopSocket();
    test::Pump(1);
    EXPECT_EQ(test::OpenFdCount(), fdsBefore);
}

// A handler may stop and delete the endpoint inside any event.
class DRSockDeletedInHandler : public DRSockServer, public ::testing::WithParamInterface<int>
{
};

TEST_P(DRSockDeletedInHandler, NothingTouchesItAfterwards)
{
    const std::string wanted[] = {"connected", "data", "data0", "close"};
    const std::string when = wanted[GetParam()];
    bool deleted = false;
    const auto dropIf = [&](const std::string &what) {
        if (what == when && !deleted) {
            deleted = true;
            sock->StopSocket();
            sock.reset();
        }
    };
    sock->OnConnected = [&](TDRSock *) { dropIf("connected"); };
    sock->OnDataArrival = [&](TDRSock *, const void *, int32_t n) { dropIf(n ? "data" : "data0"); };
    sock->OnSocketClose = [&](TDRSock *) { dropIf("close"); };

    const int client = ConnectTo(port);
    ::send(client, "abc", 3, 0);
    ::shutdown(client, SHUT_WR);
    EXPECT_TRUE(WaitUntil([&] { return deleted; }));
    test::Pump(50);
    EXPECT_TRUE(test::ConnectionGone(client));
    ::close(client);
    EXPECT_EQ(LoginLines().size(), GetParam() == 3 ? 2u : 1u);
    TDRSock again;
    again.LocalPort = port;
    EXPECT_NO_THROW(again.StartServer()) << "the port is free";
}

INSTANTIATE_TEST_SUITE_P(Events, DRSockDeletedInHandler, ::testing::Range(0, 4));

TEST_F(DRSockServer, LoginFileFailureIsRaisedAfterTheEndpointIsConsistent)
{
    std::filesystem::create_directory(paths::LoginFilePath()); // cannot be opened as a file
    const int client = ConnectTo(port);
    EXPECT_THROW(TDRSockTestAccess::Accept(*sock), std::runtime_error);
    EXPECT_EQ(log.Count("connected"), 1);
    EXPECT_EQ(sock->SendData("served"), 6);
    EXPECT_EQ(test::ReadSome(client), "served");

    ::close(client);
    QDeadlineTimer deadline(2000);
    while (log.order.back() != "data0" && !deadline.hasExpired()) {
        TDRSockTestAccess::Read(*sock);
        ::usleep(1000);
    }
    ASSERT_EQ(log.order.back(), "data0");
    EXPECT_THROW(TDRSockTestAccess::Close(*sock), std::runtime_error);
    EXPECT_EQ(log.order.back(), "close");
    EXPECT_EQ(sock->State(), 1);

    // Ready for the next client; the stale close notice posted by the read
    // does nothing.
    const int next = ConnectTo(port);
    EXPECT_THROW(TDRSockTestAccess::Accept(*sock), std::runtime_error);
    test::Pump(50);
    EXPECT_EQ(log.Count("close"), 1);
    EXPECT_EQ(sock->SendData("again"), 5);
    EXPECT_EQ(test::ReadSome(next), "again");
    ::close(next);
}

TEST_F(DRSockServer, AcceptOutOfDescriptorsStopsTheServer)
{
    const int client = ConnectTo(port);
    // The lowest free descriptor number becomes the limit, so accept fails.
    int lowestFree = 0;
    while (::fcntl(lowestFree, F_GETFD) != -1)
        ++lowestFree;
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);
    ::setrlimit(RLIMIT_NOFILE, &tight);
    std::string message;
    try {
        TDRSockTestAccess::Accept(*sock);
    } catch (const ESocketError &e) {
        message = e.what();
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(message, "Accept error.");
    EXPECT_EQ(sock->State(), 0);
    EXPECT_TRUE(test::ConnectionGone(client)) << "the listening socket is closed";
    ::close(client);
    sock->LocalPort = port;
    EXPECT_NO_THROW(sock->StartServer());
}

} // namespace
} // namespace kestrune
