#include "net/DRSock.h"
#include "net/SocketError.h"

#include "socket_support.h"

#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace kestrune {
namespace {

using test::WaitUntil;

// A TCP client endpoint connected to a plain listening socket of the test.
class DRSockClient : public ::testing::Test
{
protected:
    void SetUp() override
    {
        listener = test::BoundSocket(SOCK_STREAM);
        ::listen(listener, 1);
        log.Wire(*sock);
        sock->RemotePort = test::PortOf(listener);
        sock->StartClient();
        server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(server, 0);
    }
    void TearDown() override
    {
        ::close(server);
        ::close(listener);
    }

    int listener = -1;
    int server = -1;
    std::unique_ptr<TDRSock> sock = std::make_unique<TDRSock>();
    test::EventLog log;
};

TEST_F(DRSockClient, ServerCloseIsReportedAndTheOwnerMayDropTheEndpoint)
{
    EXPECT_EQ(sock->State(), 2);
    // What the main window does for a TCP client main channel; a client
    // keeps its socket until then.
    int stateAtClose = -1;
    sock->OnSocketClose = [&](TDRSock *s) {
        log.order.push_back("close");
        stateAtClose = s->State();
        s->StopSocket();
        sock.reset();
    };
    ::send(server, "abc", 3, 0);
    ::close(server);
    server = -1;
    ASSERT_TRUE(WaitUntil([&] { return !sock; }));
    EXPECT_EQ(log.data, "abc");
    EXPECT_EQ(log.order, (std::vector<std::string>{"data", "data0", "close"}));
    EXPECT_EQ(stateAtClose, 2);
    test::Pump(20);
}

TEST_F(DRSockClient, PausedReadingHoldsDataUntilResumed)
{
    sock->PauseReading(true);
    ::send(server, "held", 4, 0);
    test::Pump(150);
    EXPECT_TRUE(log.order.empty());
    sock->PauseReading(false);
    EXPECT_TRUE(WaitUntil([&] { return log.data == "held"; }));
}

TEST_F(DRSockClient, TcpSendLosesNothingToASlowReader)
{
    std::string payload(50u << 20, '\0');
    std::uint32_t x = 12345;
    for (char &c : payload)
        c = static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);

    std::string got;
    std::thread reader([&] {
        ::usleep(300'000); // slow at first, so the kernel buffers fill up
        while (const auto bytes = test::Receive(server, 10'000)) {
            if (bytes->empty())
                break;
            got += *bytes;
        }
    });
    int drained = 0;
    int refused = 0;
    sock->OnSendQueueDrained = [&](TDRSock *) { ++drained; };
    for (size_t at = 0; at < payload.size(); at += 2048)
        refused += sock->SendData(payload.data() + at, 2048) < 0;
    EXPECT_EQ(refused, 0);
    EXPECT_GT(sock->QueuedBytes(), 0u) << "the reader was still asleep";
    EXPECT_TRUE(WaitUntil([&] { return sock->QueuedBytes() == 0; }, 60'000));
    EXPECT_EQ(drained, 1);
    sock->StopSocket();
    reader.join();
    EXPECT_EQ(got.size(), payload.size());
    EXPECT_TRUE(got == payload) << "bytes out of order";
}

// A server that does not answer: the start gives up, or is ended by a handler
// that stops or deletes the endpoint, while the event loop keeps running.
struct UnansweredConnect
{
    const char *name;
    int timeoutMs;
    // "", "stop", "delete" or "quit" (the application quits, as on a
    // termination signal), done 100 ms into the wait
    const char *meanwhile;
    const char *reason;
};

void PrintTo(const UnansweredConnect &c, std::ostream *os)
{
    *os << c.name;
}

class DRSockUnansweredConnect : public ::testing::TestWithParam<UnansweredConnect>
{
};

TEST_P(DRSockUnansweredConnect, EndsWithTheReasonAndLeavesNothingOpen)
{
    const UnansweredConnect &c = GetParam();
    test::TUnansweredServer server;
    ASSERT_TRUE(server.Full());
    test::Pump(1);
    const int fdsBefore = test::OpenFdCount();

    auto sock = std::make_unique<TDRSock>();
    sock->RemotePort = server.Port();
    sock->ConnectTimeoutMs = c.timeoutMs;
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &tick, [&] { ++ticks; });
    tick.start(10);
    std::string secondStart;
    QTimer::singleShot(100, &tick, [&] {
        try {
            sock->StartUDP();
        } catch (const ESocketError &e) {
            secondStart = e.what();
        }
        if (std::string(c.meanwhile) == "stop")
            sock->StopSocket();
        else if (std::string(c.meanwhile) == "delete")
            sock.reset();
        else if (std::string(c.meanwhile) == "quit")
            QCoreApplication::exit(0);
    });

    std::string error = "connected";
    try {
        sock->StartClient();
    } catch (const ESocketError &e) {
        error = e.what();
    }
    if (std::string(c.meanwhile) == "quit")
        test::EndQuitting();
    EXPECT_EQ(error, std::string("Error while try establish a TCP connect. ") + c.reason);
    EXPECT_GT(ticks, 3) << "the event loop kept running";
    EXPECT_EQ(secondStart, "Control already started.");
    if (sock) {
        EXPECT_EQ(sock->State(), 0);
        sock->RemoteHost = "127.0.0.1";
        sock->StartUDP(); // usable again
        sock->StopSocket();
    }
    test::Pump(1);
    EXPECT_EQ(test::OpenFdCount(), fdsBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DRSockUnansweredConnect,
    ::testing::Values(UnansweredConnect{"GivesUp", 400, "", "Connection timed out"},
                      UnansweredConnect{"Stopped", 10'000, "stop", "Operation canceled"},
                      UnansweredConnect{"Deleted", 10'000, "delete", "Operation canceled"},
                      UnansweredConnect{"ApplicationQuits", 10'000, "quit", "Operation canceled"}),
    [](const auto &p) { return std::string(p.param.name); });

// A start that begins after the application was told to quit (a relay
// connected on the way out): every event loop returns at once then, so the
// wait ends at once instead of spinning until the system gives up.
TEST(DRSockConnectWhileQuitting, IsCancelledAtOnce)
{
    test::TUnansweredServer server;
    ASSERT_TRUE(server.Full());
    TDRSock sock;
    sock.RemotePort = server.Port();
    QCoreApplication::exit(0);
    std::string error = "connected";
    try {
        sock.StartClient();
    } catch (const ESocketError &e) {
        error = e.what();
    }
    test::EndQuitting();
    EXPECT_EQ(error, "Error while try establish a TCP connect. Operation canceled");
    EXPECT_EQ(sock.State(), 0);
}

} // namespace
} // namespace kestrune
