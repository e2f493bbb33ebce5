// Receive throughput of the serial component against a plain read loop, both
// fed the same 50 MB through a pty pair. Prints both rates, their ratio and
// the CPU the receiving side spends per MB.

#include "serial/Comm.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// A whole number of 4096-byte blocks, so the last block needs no interval time-out.
constexpr std::size_t TotalBytes = 50u * 1024 * 1024;
constexpr double Megabytes = double(TotalBytes) / 1e6;

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double ThreadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// A pty pair with the slave closed, so the receiver opens it by path.
struct TPty
{
    int Master = -1;
    std::string SlavePath;

    TPty()
    {
        int slave = -1;
        char name[256] = {};
        if (openpty(&Master, &slave, name, nullptr, nullptr) != 0)
            return;
        termios tio{};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        close(slave);
        SlavePath = name;
    }
    ~TPty()
    {
        if (Master >= 0)
            close(Master);
    }
};

// Feeds TotalBytes into the master; reports its own CPU time, which both
// benchmarks share and which is taken out of the receiver's figure.
class TFeeder
{
public:
    explicit TFeeder(int Master)
        : FThread([this, Master] {
              const double cpuStart = ThreadCpuSeconds();
              std::string chunk(65536, '\0');
              for (std::size_t i = 0; i < chunk.size(); ++i)
                  chunk[i] = char(i * 31);
              std::size_t sent = 0;
              while (sent < TotalBytes && !FStop) {
                  const std::size_t want = std::min(chunk.size(), TotalBytes - sent);
                  const ssize_t n = write(Master, chunk.data(), want);
                  if (n > 0) {
                      sent += std::size_t(n);
                      continue;
                  }
                  pollfd fd{Master, POLLOUT, 0};
                  poll(&fd, 1, 100);
              }
              FCpu = ThreadCpuSeconds() - cpuStart;
          })
    {
    }
    ~TFeeder() { Join(); }
    void Stop() { FStop = true; }
    double Join()
    {
        if (FThread.joinable())
            FThread.join();
        return FCpu;
    }

private:
    std::atomic<bool> FStop{false};
    double FCpu = 0;
    std::thread FThread;
};

// Seconds spent over all iterations, for a ratio of average rates.
double ComponentSeconds = 0;
double PlainSeconds = 0;

struct TTotals
{
    double Seconds = 0;
    double ReceiverCpu = 0;
};

void Record(benchmark::State &State, double Seconds, double ReceiverCpu, TTotals &Totals)
{
    State.SetIterationTime(Seconds);
    Totals.Seconds += Seconds;
    Totals.ReceiverCpu += ReceiverCpu;
}

void Report(benchmark::State &State, const TTotals &Totals, double &Seconds)
{
    Seconds = Totals.Seconds;
    const double megabytes = Megabytes * double(State.iterations());
    if (Totals.Seconds > 0)
        State.counters["MB_per_s"] = megabytes / Totals.Seconds;
    State.counters["receiver_cpu_ms_per_MB"] = Totals.ReceiverCpu * 1000 / megabytes;
    State.SetBytesProcessed(std::int64_t(State.iterations()) * std::int64_t(TotalBytes));
}

void BM_CommReceive(benchmark::State &State)
{
    TTotals totals;
    for (auto _ : State) {
        TPty pty;
        if (pty.Master < 0) {
            State.SkipWithError("no pty");
            return;
        }
        kestrune::TComm comm;
        comm.SetCommName(pty.SlavePath);
        std::size_t received = 0;
        QEventLoop loop;
        comm.OnReceiveData = [&](kestrune::TComm *, const char *, std::uint16_t Length) {
            received += Length;
            if (received >= TotalBytes)
                loop.quit();
        };
        comm.OpenPort();
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(60000);

        const double cpuStart = ProcessCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        TFeeder feeder(pty.Master);
        loop.exec();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        feeder.Stop();
        const double feederCpu = feeder.Join();
        const double cpu = ProcessCpuSeconds() - cpuStart - feederCpu;
        comm.ClosePort();
        if (received != TotalBytes) {
            State.SkipWithError("bytes lost or time-out");
            return;
        }
        Record(State, elapsed.count(), cpu, totals);
    }
    Report(State, totals, ComponentSeconds);
}

void BM_PlainReadLoop(benchmark::State &State)
{
    TTotals totals;
    for (auto _ : State) {
        TPty pty;
        const int fd = pty.Master < 0 ? -1 : open(pty.SlavePath.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0) {
            State.SkipWithError("no pty");
            return;
        }
        const double cpuStart = ProcessCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        TFeeder feeder(pty.Master);
        char buffer[4096];
        std::size_t received = 0;
        while (received < TotalBytes) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            received += std::size_t(n);
            benchmark::DoNotOptimize(buffer[0]);
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        feeder.Stop();
        const double feederCpu = feeder.Join();
        const double cpu = ProcessCpuSeconds() - cpuStart - feederCpu;
        close(fd);
        if (received != TotalBytes) {
            State.SkipWithError("bytes lost");
            return;
        }
        Record(State, elapsed.count(), cpu, totals);
    }
    Report(State, totals, PlainSeconds);
}

BENCHMARK(BM_PlainReadLoop)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CommReceive)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Both ran the same number of iterations of the same size.
    if (ComponentSeconds > 0 && PlainSeconds > 0)
        std::printf("component / plain read loop (average rates): %.2f\n",
                    PlainSeconds / ComponentSeconds);
    return 0;
}
