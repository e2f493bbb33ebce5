// UDP receive loss under a flood, in one run: a plain poll/recv loop, the
// socket endpoint alone in an event loop, and the real main window headless
// (main channel UDP on 127.0.0.1, Hex view, default 64 KiB history). Each gets
// the same socket options (a 4 MiB receive buffer) and the same flood: 1 KiB
// datagrams from another thread, as fast as it can send, for a few seconds.
// A last run paces 20,000 datagrams a second into the window, which should
// lose nothing. Each run prints the datagrams sent and the loss in percent;
// the endpoint and window runs add their loss minus the plain receiver's.
//
// KESTRUNE_UDP_BENCH_S sets the flood's length in seconds (default 5).
#include "app/MainFrm.h"
#include "common/AppPaths.h"
#include "net/DRSock.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace kestrune {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kDatagram = 1024;
constexpr int kPacedRate = 20'000;

std::chrono::milliseconds FloodLength()
{
    const char *s = std::getenv("KESTRUNE_UDP_BENCH_S");
    const long n = s ? std::atol(s) : 5;
    return std::chrono::milliseconds(1000 * (n > 0 ? n : 5));
}

sockaddr_in Loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int FreeUdpPort()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Sends 1 KiB datagrams to `port` for `length`: as fast as it can (rate 0),
// or `rate` a second in steps of one millisecond.
class TFlooder
{
public:
    ~TFlooder()
    {
        if (FThread.joinable())
            FThread.join();
    }
    void Start(int port, std::chrono::milliseconds length, int rate)
    {
        FThread = std::thread([this, port, length, rate] {
            const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            const sockaddr_in to = Loopback(port);
            ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to);
            const std::string payload(kDatagram, 'u');
            const auto begin = Clock::now();
            const auto end = begin + length;
            std::uint64_t due = 0;
            timespec tick{};
            ::clock_gettime(CLOCK_MONOTONIC, &tick);
            while (Clock::now() < end) {
                if (rate > 0) {
                    const auto elapsed =
                        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin);
                    due = static_cast<std::uint64_t>(elapsed.count()) * rate / 1'000'000;
                    if (Sent >= due) {
                        tick.tv_nsec += 1'000'000;
                        if (tick.tv_nsec >= 1'000'000'000) {
                            tick.tv_nsec -= 1'000'000'000;
                            ++tick.tv_sec;
                        }
                        ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &tick, nullptr);
                        continue;
                    }
                }
                if (::send(fd, payload.data(), payload.size(), 0) == ssize_t(kDatagram))
                    ++Sent;
            }
            ::close(fd);
            Done = true;
        });
    }

    std::atomic<std::uint64_t> Sent{0};
    std::atomic<bool> Done{false};

private:
    std::thread FThread;
};

// Runs `pump` until the flood is over and `received` has not moved for 300 ms.
void PumpUntilQuiet(const TFlooder &flooder, const std::function<void()> &pump,
                    const std::function<std::uint64_t()> &received)
{
    while (!flooder.Done)
        pump();
    std::uint64_t last = received();
    auto still = Clock::now();
    while (Clock::now() - still < std::chrono::milliseconds(300)) {
        pump();
        if (const std::uint64_t now = received(); now != last) {
            last = now;
            still = Clock::now();
        }
    }
}

double gPlainLoss = -1; // percent, for the later runs' difference

double ThreadCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The receiving thread's CPU time per datagram received is its cost, which
// decides the loss once the sender outruns it.
void Report(benchmark::State &state, const TFlooder &flooder, std::uint64_t received,
            double seconds, double cpuSeconds)
{
    const double sent = static_cast<double>(flooder.Sent);
    const double loss = sent > 0 ? 100.0 * (sent - static_cast<double>(received)) / sent : 0;
    state.SetIterationTime(seconds);
    state.counters["sent"] = sent;
    state.counters["sent_per_s"] = sent / seconds;
    state.counters["lost_pct"] = loss;
    state.counters["cpu_us_per_dgram"] =
        received > 0 ? cpuSeconds * 1e6 / static_cast<double>(received) : 0;
    if (gPlainLoss >= 0)
        state.counters["minus_plain_pp"] = loss - gPlainLoss;
}

// The socket options the endpoint uses, on a socket of our own.
int PlainReceiver(int port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int want = 4 << 20;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &want, sizeof want) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &want, sizeof want);
    sockaddr_in a = Loopback(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    return fd;
}

void BM_PlainReceiver(benchmark::State &state)
{
    for (auto _ : state) {
        const int port = FreeUdpPort();
        const int fd = PlainReceiver(port);
        std::uint64_t received = 0;
        char buf[2048];
        TFlooder flooder;
        const auto begin = Clock::now();
        const double cpuBefore = ThreadCpuSeconds();
        flooder.Start(port, FloodLength(), 0);
        PumpUntilQuiet(
            flooder,
            [&] {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 50) != 1)
                    return;
                while (::recv(fd, buf, sizeof buf, 0) >= 0)
                    ++received;
            },
            [&] { return received; });
        ::close(fd);
        Report(state, flooder, received,
               std::chrono::duration<double>(Clock::now() - begin).count(),
               ThreadCpuSeconds() - cpuBefore);
        gPlainLoss = state.counters["lost_pct"];
    }
}

void BM_EndpointAlone(benchmark::State &state)
{
    for (auto _ : state) {
        TDRSock sock;
        sock.LocalPort = FreeUdpPort();
        sock.RemotePort = FreeUdpPort();
        std::uint64_t received = 0;
        sock.OnDataArrival = [&](TDRSock *, const void *, std::int32_t) { ++received; };
        sock.StartUDP();
        TFlooder flooder;
        const auto begin = Clock::now();
        const double cpuBefore = ThreadCpuSeconds();
        flooder.Start(sock.LocalPort, FloodLength(), 0);
        PumpUntilQuiet(
            flooder, [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); },
            [&] { return received; });
        sock.StopSocket();
        Report(state, flooder, received,
               std::chrono::duration<double>(Clock::now() - begin).count(),
               ThreadCpuSeconds() - cpuBefore);
    }
}

// The window's receive counter, in datagrams.
std::uint64_t WindowReceived(const TfrmMain &window)
{
    const QString text = window.findChild<QLabel *>(QStringLiteral("stpRecv"))->text();
    const QString digits = text.section(QLatin1Char(' '), 1).chopped(2); // "Recv: NB."
    return digits.toULongLong() / kDatagram;
}

void FloodTheWindow(benchmark::State &state, int rate)
{
    for (auto _ : state) {
        QTemporaryDir dir;
        paths::SetDataDirOverride(dir.path().toStdString());
        const QString previousDir = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const int port = FreeUdpPort();
        std::ofstream(paths::SettingsFilePath(), std::ios::binary)
            << "[Main]\r\nMethod=UDP\r\nIPAddr=127.0.0.1\r\nLocalPort=" << port
            << "\r\nRemotePort=" << FreeUdpPort()
            << "\r\n[Other]\r\nDataMode=0\r\nBufSize=64k\r\nTransNum=0\r\n";
        {
            TfrmMain window;
            window.show();
            window.findChild<QPushButton *>(QStringLiteral("btnStart"))->click();
            QCoreApplication::processEvents();
            TFlooder flooder;
            const auto begin = Clock::now();
            const double cpuBefore = ThreadCpuSeconds();
            flooder.Start(port, FloodLength(), rate);
            PumpUntilQuiet(
                flooder, [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); },
                [&] { return WindowReceived(window); });
            Report(state, flooder, WindowReceived(window),
                   std::chrono::duration<double>(Clock::now() - begin).count(),
                   ThreadCpuSeconds() - cpuBefore);
            if (rate > 0 && state.counters["lost_pct"] > 0)
                state.SkipWithError("datagrams were lost at the paced rate");
        }
        QDir::setCurrent(previousDir);
        paths::SetDataDirOverride({});
    }
}

void BM_MainWindowFlood(benchmark::State &state)
{
    FloodTheWindow(state, 0);
}

void BM_MainWindowPaced(benchmark::State &state)
{
    FloodTheWindow(state, kPacedRate);
}

} // namespace
} // namespace kestrune

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    // The plain receiver first: the later runs report their loss against it.
    const std::pair<const char *, void (*)(benchmark::State &)> runs[] = {
        {"UdpFlood/PlainReceiver", kestrune::BM_PlainReceiver},
        {"UdpFlood/EndpointAlone", kestrune::BM_EndpointAlone},
        {"UdpFlood/MainWindow", kestrune::BM_MainWindowFlood},
        {"UdpPaced20k/MainWindow", kestrune::BM_MainWindowPaced},
    };
    for (const auto &[name, run] : runs)
        benchmark::RegisterBenchmark(name, run)->Iterations(1)->UseManualTime()->Unit(
            benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
