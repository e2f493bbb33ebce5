// Receive throughput of a remote serial port: bytes written into a pty that
// ser2net serves over RFC 2217, read by the real main window (main channel
// "rfc2217://...", receive view in Hex mode), against a plain TCP read loop
// on the same ser2net that only counts what arrives. Both runs carry the same
// stream, every byte value with runs of 0xFF, which Telnet doubles on the
// wire. The window's runs report their rates as ratios to the plain loop's;
// the same window reading the pty as a local port shows what the remote
// port itself costs.
//
// KESTRUNE_RFC2217_BENCH_MB sets the stream size (default 20).
#include "app/MainFrm.h"
#include "common/AppPaths.h"
#include "serial/Comm.h"

#include "../tests/serial/rfc2217_peers.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

namespace kestrune {
namespace {

using Clock = std::chrono::steady_clock;
using testing::TSer2net;

std::uint64_t StreamBytes()
{
    const char *mb = std::getenv("KESTRUNE_RFC2217_BENCH_MB");
    const long n = mb ? std::atol(mb) : 20;
    return static_cast<std::uint64_t>(n > 0 ? n : 20) * 1'000'000;
}

// 64 KiB of every byte value, one block in four of it 0xFF.
const std::vector<char> &Pattern()
{
    static const std::vector<char> pattern = [] {
        std::vector<char> p(65536);
        for (std::size_t i = 0; i < p.size(); ++i)
            p[i] = (i / 1024) % 4 == 0 ? '\xFF' : static_cast<char>(i * 7 + i / 256);
        return p;
    }();
    return pattern;
}

std::uint64_t WireBytes(std::uint64_t Total)
{
    const std::vector<char> &p = Pattern();
    const auto perPattern = static_cast<std::uint64_t>(std::count(p.begin(), p.end(), '\xFF'));
    const std::uint64_t whole = Total / p.size();
    const auto rest = static_cast<std::ptrdiff_t>(Total % p.size());
    return Total + whole * perPattern +
           static_cast<std::uint64_t>(std::count(p.begin(), p.begin() + rest, '\xFF'));
}

// Writes the stream into the pty's master from a thread of its own.
class TPtyFeeder
{
public:
    ~TPtyFeeder() { Stop(); }
    void Start(int Master, std::uint64_t Total)
    {
        FThread = std::thread([this, Master, Total] {
            const std::vector<char> &pattern = Pattern();
            for (std::uint64_t sent = 0; !FStop && sent < Total;) {
                const std::size_t n = std::min<std::uint64_t>(pattern.size(), Total - sent);
                pollfd p{Master, POLLOUT, 0};
                if (::poll(&p, 1, 50) != 1)
                    continue;
                const ssize_t w =
                    ::write(Master, pattern.data() + sent % pattern.size(),
                            std::min<std::uint64_t>(n, pattern.size() - sent % pattern.size()));
                if (w > 0)
                    sent += static_cast<std::uint64_t>(w);
            }
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

double gPlainRate = 0; // MB/s of the plain loop, for the window's ratio

bool StartServer(benchmark::State &State, TSer2net &Server)
{
    std::string error;
    if (Server.Start(error))
        return true;
    State.SkipWithError(error.c_str());
    return false;
}

void BM_PlainTcpLoop(benchmark::State &state)
{
    const std::uint64_t total = StreamBytes();
    const std::uint64_t wire = WireBytes(total);
    for (auto _ : state) {
        TSer2net server;
        if (!StartServer(state, server))
            return;
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(server.Port()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            ::close(fd);
            state.SkipWithError("cannot connect to ser2net");
            return;
        }
        // Let ser2net open the pty before the stream starts.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto begin = Clock::now();
        TPtyFeeder feeder;
        feeder.Start(server.Master(), total);
        std::vector<char> buffer(65536);
        std::uint64_t got = 0;
        while (got < wire) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5000) != 1)
                break;
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                break;
            got += static_cast<std::uint64_t>(n);
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        feeder.Stop();
        ::close(fd);
        state.SetIterationTime(seconds);
        state.counters["MB_per_s"] = static_cast<double>(total) / 1e6 / seconds;
        if (got < wire)
            state.SkipWithError("the stream did not arrive whole");
        gPlainRate = static_cast<double>(total) / 1e6 / seconds;
    }
}

// Remote: through ser2net; local: the same kind of pty opened directly.
void MainWindowHexView(benchmark::State &state, bool Remote)
{
    const std::uint64_t total = StreamBytes();
    for (auto _ : state) {
        TSer2net server;
        if (Remote && !StartServer(state, server))
            return;
        QTemporaryDir dir;
        paths::SetDataDirOverride(dir.path().toStdString());
        const QString previousDir = QDir::currentPath();
        QDir::setCurrent(dir.path());
        std::ofstream(paths::SettingsFilePath(), std::ios::binary)
            << "[Main]\r\nMethod=Serial\r\nBaudrate=115200\r\nPort="
            << (Remote ? server.Url() : server.SlavePath()) << "\r\n[Other]\r\nDataMode=0\r\n";

        // Counts what reaches the window, then hands the block on unchanged.
        // The port's own handler is set once its channel has wired it, so the
        // count goes in after Start.
        std::uint64_t received = 0;
        std::uint64_t mismatched = 0;
        TComm *created = nullptr;
        TfrmMain::OnCommCreated = [&](TComm &comm) { created = &comm; };
        {
            TfrmMain window;
            window.show();
            window.findChild<QPushButton *>(QStringLiteral("btnStart"))->click();
            QCoreApplication::processEvents();
            if (created) {
                created->OnReceiveData = [&, inner = created->OnReceiveData](TComm *sender,
                                                                             const char *buffer,
                                                                             std::uint16_t length) {
                    const std::vector<char> &pattern = Pattern();
                    for (std::uint16_t k = 0; k < length; ++k) {
                        if (buffer[k] != pattern[(received + k) % pattern.size()])
                            ++mismatched;
                    }
                    received += length;
                    inner(sender, buffer, length);
                };
            }
            const bool ready =
                created && (!Remote || server.WaitForBaudRate(115200, std::chrono::seconds(5)));
            const auto begin = Clock::now();
            TPtyFeeder feeder;
            if (ready)
                feeder.Start(server.Master(), total);
            const auto deadline = begin + std::chrono::seconds(ready ? 300 : 0);
            while (received < total && Clock::now() < deadline)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
            feeder.Stop();
            state.SetIterationTime(seconds);
            state.counters["MB_per_s"] = static_cast<double>(total) / 1e6 / seconds;
            state.counters["changed_bytes"] = static_cast<double>(mismatched);
            if (gPlainRate > 0)
                state.counters["rate_vs_plain_tcp"] =
                    static_cast<double>(total) / 1e6 / seconds / gPlainRate;
            if (!created)
                state.SkipWithError("the serial port did not open");
            else if (received != total || mismatched != 0)
                state.SkipWithError("the stream did not arrive whole");
        }
        TfrmMain::OnCommCreated = {};
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
    // The plain loop first: the window's run reports its rate against it.
    benchmark::RegisterBenchmark("Rfc2217/PlainTcpLoop", kestrune::BM_PlainTcpLoop)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Rfc2217/MainWindowHexView", kestrune::MainWindowHexView, true)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Rfc2217/LocalPtyMainWindowHexView", kestrune::MainWindowHexView,
                                 false)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
