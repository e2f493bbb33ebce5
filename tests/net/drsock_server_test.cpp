#include "common/AppPaths.h"
#include "net/DRSock.h"

#include "socket_support.h"

#include <QTemporaryDir>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <sys/resource.h>

namespace kestrune {

namespace {

using test::ConnectTo;
using test::Receive;
using test::WaitUntil;

class DRSockServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        paths::SetDataDirOverride(dir.path().toStdString());
        log.Wire(*sock);
        sock->StartServer();
        port = sock->BoundPort();
    }
    void TearDown() override { paths::SetDataDirOverride({}); }

    [[nodiscard]] static std::vector<std::string> LoginLines()
    {
        std::ifstream in(paths::LoginFilePath(), std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    int Attach() // a client the endpoint has accepted
    {
        const int fd = ConnectTo(port);
        const int before = log.Count("connected");
        EXPECT_TRUE(WaitUntil([&] { return log.Count("connected") > before; }));
        return fd;
    }

    QTemporaryDir dir;
    std::unique_ptr<TDRSock> sock = std::make_unique<TDRSock>();
    test::EventLog log;
    int port = 0;
};

TEST_F(DRSockServer, ServesOneClientAtATimeAndLogsEachVisit)
{
    const int first = Attach();
    ::send(first, "hello", 5, 0);
    ASSERT_TRUE(WaitUntil([&] { return log.data == "hello"; }));
    EXPECT_EQ(sock->SendData("hi"), 2);
    EXPECT_EQ(Receive(first), "hi");

    // A second client is dropped at once, with no event and no log line.
    const int second = ConnectTo(port);
    EXPECT_TRUE(WaitUntil([&] { return test::ConnectionGone(second, 0); }));
    ::close(second);
    EXPECT_EQ(log.order, (std::vector<std::string>{"connected", "data"}));
    EXPECT_EQ(sock->SendData("still"), 5);
    EXPECT_EQ(Receive(first), "still");

    // The first leaves: end of stream, then the close as a later event.
    const int firstPort = test::PortOf(first);
    ::close(first);
    ASSERT_TRUE(WaitUntil([&] { return log.Count("close") == 1; }));
    EXPECT_EQ(log.order, (std::vector<std::string>{"connected", "data", "data0", "close"}));
    EXPECT_EQ(sock->SendData("x"), -1);

    const int third = Attach();
    const auto lines = LoginLines();
    const std::string visits[] = {std::to_string(firstPort) + " Connected",
                                  std::to_string(firstPort) + " Disconnected",
                                  std::to_string(test::PortOf(third)) + " Connected"};
    ASSERT_EQ(lines.size(), 3u);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::regex shape(R"(\S.*\S  127\.0\.0\.1:)" + visits[i] + R"(\.\r)");
        EXPECT_TRUE(std::regex_match(lines[i], shape)) << lines[i];
    }
    ::close(third);
}

TEST_F(DRSockServer, ResetBurstAndVanishingClientsLeakNothing)
{
    sock->StopSocket();
    test::Pump(1);
    const int fdsBefore = test::OpenFdCount();
    sock->LocalPort = port;
    sock->StartServer();
    const int first = Attach();

    // 200 clients at once while one is served; a third of them leave at once.
    std::vector<int> burst;
    for (int i = 0; i < 200; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const sockaddr_in to = test::Loopback(port);
        ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        i % 3 ? burst.push_back(fd) : (void)::close(fd);
    }
    test::Pump(1000);
    for (const int fd : burst)
        ::close(fd);
    EXPECT_EQ(log.Count("connected"), 1);
    EXPECT_EQ(sock->SendData("ok"), 2);
    EXPECT_EQ(Receive(first), "ok");

    const linger reset{1, 0};
    ::setsockopt(first, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(first);
    ASSERT_TRUE(WaitUntil([&] { return log.Count("close") == 1; }));
    for (const int code : log.errors)
        EXPECT_EQ(code, ECONNRESET);
    EXPECT_EQ(LoginLines().size(), 2u);

    const int next = Attach();
    EXPECT_EQ(sock->SendData("next"), 4);
    EXPECT_EQ(Receive(next), "next");
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
    const std::string events[] = {"connected", "data", "data0", "close"};
    const std::string when = events[GetParam()];
    const auto dropIf = [&](const std::string &what) {
        if (what == when && sock) {
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
    EXPECT_TRUE(WaitUntil([&] { return !sock; }));
    test::Pump(50);
    EXPECT_TRUE(test::ConnectionGone(client));
    ::close(client);
    EXPECT_EQ(LoginLines().size(), when == "close" ? 2u : 1u);
    TDRSock again;
    again.LocalPort = port;
    EXPECT_NO_THROW(again.StartServer()) << "the port is free";
}

INSTANTIATE_TEST_SUITE_P(Events, DRSockDeletedInHandler, ::testing::Range(0, 4));

TEST_F(DRSockServer, LoginFileFailureIsReportedAndTheVisitGoesOn)
{
    std::filesystem::create_directory(paths::LoginFilePath()); // cannot be opened as a file
    const int client = Attach();
    ASSERT_TRUE(WaitUntil([&] { return log.order.size() == 2; }));
    EXPECT_EQ(log.order, (std::vector<std::string>{"connected", "failure"}));
    EXPECT_NE(log.failures[0].find(paths::LoginFilePath()), std::string::npos) << log.failures[0];
    EXPECT_EQ(sock->SendData("served"), 6);
    EXPECT_EQ(Receive(client), "served");

    ::close(client);
    ASSERT_TRUE(WaitUntil([&] { return log.order.size() == 5; }));
    EXPECT_EQ(log.order,
              (std::vector<std::string>{"connected", "failure", "data0", "close", "failure"}));

    // The close went through: the next client is served.
    const int next = Attach();
    EXPECT_EQ(sock->SendData("again"), 5);
    EXPECT_EQ(Receive(next), "again");
    ::close(next);
    EXPECT_EQ(sock->State(), 1);
}

// Out of descriptors, accept cannot succeed however often it is retried.
TEST_F(DRSockServer, FatalAcceptFailureStopsTheServerAndIsReportedOnce)
{
    const int client = ConnectTo(port); // waits in the kernel's accept queue
    ASSERT_GE(client, 0);
    rlimit old{};
    ::getrlimit(RLIMIT_NOFILE, &old);
    rlimit low = old;
    low.rlim_cur = static_cast<rlim_t>(test::OpenFdCount() + 16);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        fillers.push_back(fd);
    TDRSockTestAccess::Accept(*sock);
    for (const int fd : fillers)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &old);

    EXPECT_EQ(log.order, std::vector<std::string>{"fatal"});
    EXPECT_EQ(log.failures, std::vector<std::string>{"Accept error. Too many open files"});
    EXPECT_EQ(sock->State(), 0);
    EXPECT_TRUE(test::ConnectionGone(client)) << "the waiting client is let go";
    EXPECT_EQ(ConnectTo(port), -1) << "nothing listens any more";
    test::Pump(50);
    EXPECT_EQ(log.order.size(), 1u);
    ::close(client);
}

} // namespace
} // namespace kestrune
