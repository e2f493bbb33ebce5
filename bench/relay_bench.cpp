// Relay throughput of the real main window against socat. Both relay one TCP
// stream from a loopback client, through a listening socket, to a counting sink
// behind a connecting socket. The window runs headless with its receive view in
// Hex mode and the default 64 KiB history, so every block is also kept, counted
// and shown as in use. Each run reports its rate, the relay's CPU seconds per MB
// and the bytes lost or changed; the later runs add their ratio to socat's rate.
//
// KESTRUNE_RELAY_BENCH_MB sets the stream size (default 200).
#include "app/MainFrm.h"
#include "common/AppPaths.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace kestrune {
namespace {

using Clock = std::chrono::steady_clock;

// A prime period, so no read or write size lines up with it and a block that
// went missing, twice or out of order changes what the sink compares.
constexpr std::size_t kPatternPeriod = 1'000'003;

const std::vector<char> &Pattern()
{
    static const std::vector<char> pattern = [] {
        std::vector<char> p(kPatternPeriod + 65536);
        std::uint32_t x = 2463534242u;
        for (std::size_t i = 0; i < kPatternPeriod; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            p[i] = static_cast<char>(x);
        }
        // The tail repeats the start, so a chunk may run past the period.
        std::memcpy(p.data() + kPatternPeriod, p.data(), 65536);
        return p;
    }();
    return pattern;
}

std::uint64_t StreamBytes()
{
    const char *mb = std::getenv("KESTRUNE_RELAY_BENCH_MB");
    const long n = mb ? std::atol(mb) : 200;
    return static_cast<std::uint64_t>(n > 0 ? n : 200) * 1'000'000;
}

sockaddr_in Loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int ListenOnFreePort(int &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

int FreePort()
{
    int port = 0;
    const int fd = ListenOnFreePort(port);
    ::close(fd);
    return port;
}

// Accepts one connection and reads it to the end, comparing every byte.
class TCountingSink
{
public:
    explicit TCountingSink(std::uint64_t total) : FTotal(total)
    {
        FListen = ListenOnFreePort(FPort);
    }
    ~TCountingSink()
    {
        Stop();
        if (FListen >= 0)
            ::close(FListen);
    }
    [[nodiscard]] int Port() const { return FPort; }

    void Start()
    {
        FThread = std::thread([this] {
            pollfd p{FListen, POLLIN, 0};
            while (!FStop && ::poll(&p, 1, 50) != 1) {
            }
            if (FStop)
                return;
            const int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            std::vector<char> buf(256 * 1024);
            const std::vector<char> &pattern = Pattern();
            std::uint64_t got = 0;
            while (!FStop && got < FTotal) {
                pollfd q{fd, POLLIN, 0};
                if (::poll(&q, 1, 50) != 1)
                    continue;
                const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
                if (n <= 0)
                    break;
                std::size_t done = 0;
                while (done < static_cast<std::size_t>(n)) {
                    const std::size_t at = (got + done) % kPatternPeriod;
                    const std::size_t len = std::min<std::size_t>(n - done, 65536);
                    if (std::memcmp(buf.data() + done, pattern.data() + at, len) != 0)
                        Mismatch = true;
                    done += len;
                }
                got += static_cast<std::uint64_t>(n);
                Received = got;
            }
            ::close(fd);
        });
    }
    void Stop()
    {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
    }

    std::atomic<std::uint64_t> Received{0};
    std::atomic<bool> Mismatch{false};

private:
    std::uint64_t FTotal;
    int FListen = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

// Connects to `port` (retrying while the relay comes up) and writes the stream.
class TPusher
{
public:
    ~TPusher() { Stop(); }
    void Start(int port, std::uint64_t total)
    {
        FThread = std::thread([this, port, total] {
            int fd = -1;
            const auto deadline = Clock::now() + std::chrono::seconds(10);
            while (!FStop && Clock::now() < deadline) {
                fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in a = Loopback(port);
                if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
                    break;
                ::close(fd);
                fd = -1;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (fd < 0)
                return;
            const std::vector<char> &pattern = Pattern();
            std::uint64_t sent = 0;
            while (!FStop && sent < total) {
                const std::size_t at = sent % kPatternPeriod;
                const std::size_t n = std::min<std::uint64_t>(65536, total - sent);
                pollfd p{fd, POLLOUT, 0};
                if (::poll(&p, 1, 50) != 1)
                    continue;
                const ssize_t w = ::send(fd, pattern.data() + at, n, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (w > 0)
                    sent += static_cast<std::uint64_t>(w);
                else if (w < 0 && errno != EAGAIN && errno != EINTR)
                    break;
            }
            ::shutdown(fd, SHUT_WR);
            // Kept open until the sink has everything, so no relay sees an early close.
            while (!FStop)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ::close(fd);
        });
    }
    void Stop()
    {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
    }

private:
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

double ThreadCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double ChildrenCpuSeconds()
{
    rusage r{};
    ::getrusage(RUSAGE_CHILDREN, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

double gSocatRate = 0; // MB/s of the socat run, for the window's ratio

void Report(benchmark::State &state, std::uint64_t total, const TCountingSink &sink, double seconds,
            double cpuSeconds)
{
    const double mb = static_cast<double>(total) / 1e6;
    state.SetIterationTime(seconds);
    state.counters["MB_per_s"] = mb / seconds;
    state.counters["cpu_s_per_MB"] = cpuSeconds / mb;
    state.counters["lost_bytes"] = static_cast<double>(total - sink.Received);
    state.counters["changed"] = sink.Mismatch ? 1 : 0;
    if (sink.Received != total || sink.Mismatch)
        state.SkipWithError("the stream did not arrive whole");
}

void BM_RelaySocat(benchmark::State &state)
{
    const std::uint64_t total = StreamBytes();
    for (auto _ : state) {
        TCountingSink sink(total);
        sink.Start();
        const int port = FreePort();
        const std::string listen =
            "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr";
        const std::string connect = "TCP:127.0.0.1:" + std::to_string(sink.Port());
        std::vector<char *> argv = {const_cast<char *>("socat"), const_cast<char *>(listen.c_str()),
                                    const_cast<char *>(connect.c_str()), nullptr};
        const double cpuBefore = ChildrenCpuSeconds();
        pid_t pid = 0;
        if (::posix_spawnp(&pid, "socat", nullptr, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("socat is not installed");
            return;
        }
        const auto begin = Clock::now();
        TPusher pusher;
        pusher.Start(port, total);
        const auto deadline = begin + std::chrono::seconds(300);
        while (sink.Received < total && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        pusher.Stop();
        sink.Stop();
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        Report(state, total, sink, seconds, ChildrenCpuSeconds() - cpuBefore);
        gSocatRate = static_cast<double>(total) / 1e6 / seconds;
    }
}

// The floor the window's design sets: one poll, one 2,048-byte read and one
// send per block, as the socket endpoint does per read notification, with no
// event loop and no window. The gap to socat is the read size; the gap to the
// window is the event loop and the receive path.
void BM_RelayPlainLoop2048(benchmark::State &state)
{
    const std::uint64_t total = StreamBytes();
    for (auto _ : state) {
        TCountingSink sink(total);
        sink.Start();
        int port = 0;
        const int listener = ListenOnFreePort(port);
        const int out = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in to = Loopback(sink.Port());
        ::connect(out, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        TPusher pusher;
        pusher.Start(port, total);
        const int in = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        const double cpuBefore = ThreadCpuSeconds();
        const auto begin = Clock::now();
        char buf[2048];
        std::uint64_t relayed = 0;
        while (relayed < total) {
            pollfd p{in, POLLIN, 0};
            if (::poll(&p, 1, 1000) != 1)
                break;
            const ssize_t n = ::recv(in, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            for (ssize_t done = 0; done < n;) {
                const ssize_t w =
                    ::send(out, buf + done, static_cast<std::size_t>(n - done), MSG_NOSIGNAL);
                if (w <= 0)
                    break;
                done += w;
            }
            relayed += static_cast<std::uint64_t>(n);
        }
        while (sink.Received < total && Clock::now() < begin + std::chrono::seconds(10))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        const double cpu = ThreadCpuSeconds() - cpuBefore;
        pusher.Stop();
        sink.Stop();
        ::close(in);
        ::close(out);
        ::close(listener);
        Report(state, total, sink, seconds, cpu);
        if (gSocatRate > 0)
            state.counters["rate_vs_socat"] =
                static_cast<double>(total) / 1e6 / seconds / gSocatRate;
    }
}

void BM_RelayMainWindow(benchmark::State &state)
{
    const std::uint64_t total = StreamBytes();
    for (auto _ : state) {
        QTemporaryDir dir;
        paths::SetDataDirOverride(dir.path().toStdString());
        const QString previousDir = QDir::currentPath();
        QDir::setCurrent(dir.path());

        TCountingSink sink(total);
        sink.Start();
        const int port = FreePort();
        std::ofstream(paths::SettingsFilePath(), std::ios::binary)
            << "[Main]\r\nMethod=TCPServer\r\nLocalPort=" << port
            << "\r\n[Other]\r\nDataMode=0\r\nBufSize=64k\r\nTransNum=1\r\n[Trans0]\r\nEnable=1\r\n"
               "Method=TCPClient\r\nIPAddr=127.0.0.1\r\nRemotePort="
            << sink.Port() << "\r\n";
        {
            TfrmMain window;
            window.show();
            window.findChild<QPushButton *>(QStringLiteral("btnStart"))->click();
            QCoreApplication::processEvents();

            // The window's work all happens on this thread: its CPU time is the relay's cost.
            const double cpuBefore = ThreadCpuSeconds();
            const auto begin = Clock::now();
            TPusher pusher;
            pusher.Start(port, total);
            const auto deadline = begin + std::chrono::seconds(300);
            while (sink.Received < total && Clock::now() < deadline)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
            const double cpu = ThreadCpuSeconds() - cpuBefore;
            pusher.Stop();
            sink.Stop();
            Report(state, total, sink, seconds, cpu);
            if (gSocatRate > 0)
                state.counters["rate_vs_socat"] =
                    static_cast<double>(total) / 1e6 / seconds / gSocatRate;
        }
        QDir::setCurrent(previousDir);
        paths::SetDataDirOverride({});
    }
}

} // namespace
} // namespace kestrune

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    // socat first: the window's run reports its rate against socat's.
    benchmark::RegisterBenchmark("Relay/socat", kestrune::BM_RelaySocat)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Relay/PlainLoop2048", kestrune::BM_RelayPlainLoop2048)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Relay/MainWindow", kestrune::BM_RelayMainWindow)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
