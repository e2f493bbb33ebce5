// A 100 MB flood relayed into a TCP server that serves several clients: the
// main channel, a TCP client, reads the flood from a loopback feeder; the
// relay, a server of several clients, hands it to every client. One run
// times it with 1 client and with 3, and reports the ratio of the two times.
//
// KESTRUNE_CLIENTS_BENCH_MB sets the flood's size (default 100).
#include "engine/ChannelTransports.h"
#include "session/Session.h"
#include "tests/net/socket_support.h"
#include "tests/support/SocatPeer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrune {
namespace {

using Clock = std::chrono::steady_clock;

std::uint64_t FloodBytes()
{
    const char *mb = std::getenv("KESTRUNE_CLIENTS_BENCH_MB");
    const long n = mb ? std::atol(mb) : 100;
    return static_cast<std::uint64_t>(n > 0 ? n : 100) * 1'000'000;
}

// Connects to the server and counts what arrives, on a thread of its own.
struct TSink
{
    std::atomic<std::uint64_t> Received{0};
    std::atomic<bool> Stop{false};
    std::thread Thread;

    void Start(int port)
    {
        Thread = std::thread([this, port] {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in to = test::Loopback(port);
            if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
                ::close(fd);
                return;
            }
            std::vector<char> buf(256 * 1024);
            while (!Stop) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 50) != 1)
                    continue;
                const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
                if (n <= 0)
                    break;
                Received += static_cast<std::uint64_t>(n);
            }
            ::close(fd);
        });
    }
    ~TSink()
    {
        Stop = true;
        if (Thread.joinable())
            Thread.join();
    }
};

// Seconds until every one of `clients` has the whole flood; negative on a timeout.
double FloodSeconds(int clients)
{
    const std::uint64_t total = FloodBytes();
    QObject context;
    TSession session(
        [&context](std::function<void()> action) { QTimer::singleShot(0, &context, action); });
    session.OnData = [&session](bool fromRelay, std::string_view block) {
        session.Route(fromRelay, block);
    };

    TChannel server;
    server.Method = cmTCPServer;
    server.LocalPort = test::VacantPort(SOCK_STREAM);
    server.SeveralClients = true;
    session.AddRelay(true);
    session.OpenRelay(0, OpenChannelTransport(server));
    std::vector<std::unique_ptr<TSink>> sinks;
    for (int i = 0; i < clients; ++i) {
        sinks.push_back(std::make_unique<TSink>());
        sinks.back()->Start(server.LocalPort);
    }
    // Every client accepted before the flood starts.
    QDeadlineTimer settle(200);
    while (!settle.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in any = test::Loopback(0);
    ::bind(listener, reinterpret_cast<sockaddr *>(&any), sizeof any);
    ::listen(listener, 1);
    TChannel feed;
    feed.Method = cmTCPClient;
    feed.IPAddr = "127.0.0.1";
    feed.RemotePort = test::PortOf(listener);
    std::thread feeder([listener, total] {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        std::vector<char> chunk(64 * 1024, 'x');
        for (std::uint64_t sent = 0; sent < total;) {
            const ssize_t n =
                ::send(fd, chunk.data(), std::min<std::uint64_t>(chunk.size(), total - sent),
                       MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<std::uint64_t>(n);
        }
        ::close(fd);
    });
    const auto start = Clock::now();
    session.OpenMain(OpenChannelTransport(feed));
    const auto allThere = [&] {
        for (const auto &sink : sinks) {
            if (sink->Received < total)
                return false;
        }
        return true;
    };
    QDeadlineTimer deadline(300'000);
    while (!allThere() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const bool whole = allThere();
    session.CloseAll();
    feeder.join();
    ::close(listener);
    return whole ? seconds : -1;
}

void BM_FloodIntoSeveralClients(benchmark::State &state)
{
    double one = 0;
    double three = 0;
    for (auto _ : state) {
        one = FloodSeconds(1);
        three = FloodSeconds(3);
        state.SetIterationTime(one + three);
    }
    state.counters["one_client_s"] = one;
    state.counters["three_clients_s"] = three;
    state.counters["ratio"] = one > 0 && three > 0 ? three / one : -1;
    state.counters["MB"] = static_cast<double>(FloodBytes()) / 1e6;
}
BENCHMARK(BM_FloodIntoSeveralClients)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
} // namespace kestrune

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
