// Receive rates of the socket endpoint against a plain recv loop with the same
// 2,048-byte buffer, over loopback: TCP bytes per second, and 1,024-byte UDP
// datagrams per second with the sender kept within what the receiver has
// taken, so none are lost.
#include "net/DRSock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kestrune;

namespace {

constexpr std::int64_t kTcpBytes = 200ll << 20;
constexpr int kDatagrams = 200'000;
constexpr int kDatagramSize = 1024;
constexpr int kWindow = 64; // datagrams in flight; well inside the receive buffer

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int portOf(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    return ntohs(a.sin_port);
}

void pushTcp(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in to = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0) {
        std::vector<char> chunk(64 * 1024, 'k');
        for (std::int64_t sent = 0; sent < kTcpBytes;) {
            const ssize_t n = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
    }
    ::close(fd);
}

// Sends datagrams while fewer than kWindow are unaccounted for; after 50 ms
// without progress it assumes a loss and goes on, so a loss cannot stall it.
void pushUdp(int port, const std::atomic<int> &received)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = loopback(port);
    std::vector<char> datagram(kDatagramSize, 'u');
    int lost = 0;
    for (int sent = 0; sent < kDatagrams; ++sent) {
        auto waitedSince = std::chrono::steady_clock::now();
        while (sent - received.load() - lost >= kWindow) {
            if (std::chrono::steady_clock::now() - waitedSince > std::chrono::milliseconds(50)) {
                ++lost;
                waitedSince = std::chrono::steady_clock::now();
            }
            std::this_thread::yield();
        }
        ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                 sizeof to);
    }
    ::close(fd);
}

// Runs the event loop until `done` holds or nothing arrived for half a second.
template <typename Done, typename Progress> void runLoopUntil(Done done, Progress progress)
{
    QEventLoop loop;
    QTimer check;
    auto last = progress();
    auto lastChange = std::chrono::steady_clock::now();
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        const auto now = std::chrono::steady_clock::now();
        if (progress() != last) {
            last = progress();
            lastChange = now;
        }
        if (done() || now - lastChange > std::chrono::milliseconds(500))
            loop.quit();
    });
    check.start(5);
    loop.exec();
}

void BM_TcpServerEndpoint(benchmark::State &state)
{
    for (auto _ : state) {
        TDRSock sock;
        std::int64_t received = 0;
        sock.OnDataArrival = [&](TDRSock *, const void *, std::int32_t n) { received += n; };
        sock.StartServer();
        std::thread sender(pushTcp, sock.BoundPort());
        runLoopUntil([&] { return received >= kTcpBytes; }, [&] { return received; });
        sender.join();
        sock.StopSocket();
        if (received != kTcpBytes)
            state.SkipWithError("bytes missing");
    }
    state.SetBytesProcessed(state.iterations() * kTcpBytes);
}

void BM_TcpPlainRecv(benchmark::State &state)
{
    for (auto _ : state) {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in any = loopback(0);
        ::bind(listener, reinterpret_cast<const sockaddr *>(&any), sizeof any);
        ::listen(listener, 1);
        std::thread sender(pushTcp, portOf(listener));
        const int fd = ::accept(listener, nullptr, nullptr);
        char buf[2048];
        std::int64_t received = 0;
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
            received += n;
        sender.join();
        ::close(fd);
        ::close(listener);
        if (received != kTcpBytes)
            state.SkipWithError("bytes missing");
    }
    state.SetBytesProcessed(state.iterations() * kTcpBytes);
}

void reportDatagrams(benchmark::State &state, std::int64_t received)
{
    state.counters["datagrams_per_s"] =
        benchmark::Counter(static_cast<double>(received), benchmark::Counter::kIsRate);
    state.counters["lost"] = static_cast<double>(kDatagrams * state.iterations() - received);
}

void BM_UdpEndpoint(benchmark::State &state)
{
    std::int64_t total = 0;
    for (auto _ : state) {
        TDRSock sock;
        std::atomic<int> received{0};
        sock.OnDataArrival = [&](TDRSock *, const void *, std::int32_t) { ++received; };
        sock.StartUDP();
        std::thread sender(pushUdp, sock.BoundPort(), std::cref(received));
        runLoopUntil([&] { return received.load() >= kDatagrams; },
                     [&] { return received.load(); });
        sender.join();
        sock.StopSocket();
        total += received.load();
    }
    reportDatagrams(state, total);
}

void BM_UdpPlainRecv(benchmark::State &state)
{
    std::int64_t total = 0;
    for (auto _ : state) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in any = loopback(0);
        ::bind(fd, reinterpret_cast<const sockaddr *>(&any), sizeof any);
        std::atomic<int> received{0};
        std::thread sender(pushUdp, portOf(fd), std::cref(received));
        char buf[2048];
        pollfd p{fd, POLLIN, 0};
        while (received.load() < kDatagrams && ::poll(&p, 1, 500) == 1) {
            if (::recv(fd, buf, sizeof buf, 0) >= 0)
                ++received;
        }
        sender.join();
        ::close(fd);
        total += received.load();
    }
    reportDatagrams(state, total);
}

BENCHMARK(BM_TcpServerEndpoint)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TcpPlainRecv)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UdpEndpoint)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UdpPlainRecv)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv); // the endpoint's notifiers need an event loop
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
