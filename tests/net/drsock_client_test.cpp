#include "net/DRSock.h"

#include "socket_support.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace kestrune {
namespace {

using test::EventLog;
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
    EventLog log;
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

std::uint64_t Fnv1a(const char *p, size_t n, std::uint64_t h = 14695981039346656037ull)
{
    for (size_t i = 0; i < n; ++i)
        h = (h ^ static_cast<unsigned char>(p[i])) * 1099511628211ull;
    return h;
}

TEST_F(DRSockClient, TcpSendLosesNothingToASlowReader)
{
    constexpr size_t total = 50u << 20;
    std::string payload(total, '\0');
    std::uint32_t x = 12345;
    for (char &c : payload) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }

    std::atomic<size_t> received{0};
    std::uint64_t hash = 14695981039346656037ull;
    std::thread reader([&] {
        ::usleep(300'000); // slow at first, so the kernel buffers fill up
        std::vector<char> buf(1 << 16);
        pollfd p{server, POLLIN, 0};
        while (::poll(&p, 1, 10'000) == 1) {
            const ssize_t n = ::recv(server, buf.data(), buf.size(), 0);
            if (n <= 0)
                break;
            hash = Fnv1a(buf.data(), static_cast<size_t>(n), hash);
            received += static_cast<size_t>(n);
        }
    });

    int drained = 0;
    sock->OnSendQueueDrained = [&](TDRSock *) { ++drained; };
    for (size_t at = 0; at < total; at += 2048)
        ASSERT_GE(sock->SendData(payload.data() + at, 2048), 0);
    EXPECT_GT(sock->QueuedBytes(), 0u) << "the reader was still asleep";
    EXPECT_TRUE(WaitUntil([&] { return sock->QueuedBytes() == 0; }, 60'000));
    EXPECT_EQ(drained, 1);
    sock->StopSocket();
    reader.join();
    EXPECT_EQ(received.load(), total);
    EXPECT_EQ(hash, Fnv1a(payload.data(), payload.size()));
}

} // namespace
} // namespace kestrune
