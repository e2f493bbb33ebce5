// A command list of a million send lines in the real main window, headless.
// Reports how long the list took, the longest time the event loop went without
// a turn while it ran (a 1 ms timer measures the gaps), and, against a peer
// that reads nothing, how far the main channel's queue grew.
#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "common/AppPaths.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kestrune {
namespace {

constexpr int kLines = 1'000'000;

struct TListRun
{
    double Seconds = 0;
    double LongestGapMs = 0;
    std::size_t MostQueued = 0;
    bool Finished = false;
};

// Runs the list against a loopback peer that reads when `reading` is set,
// for at most `limitMs`.
TListRun RunList(bool reading, int limitMs)
{
    QTemporaryDir dir;
    paths::SetDataDirOverride(dir.path().toStdString());
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    dialogs::SetMessageHook([](const QString &, const QString &, dialogs::TMsgIcon) {});

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
    {
        std::ofstream ini(paths::SettingsFilePath(), std::ios::binary);
        ini << "[Main]\r\nMethod=TCPClient\r\nIPAddr=127.0.0.1\r\nRemotePort=" << ntohs(a.sin_port)
            << "\r\n";
        std::ofstream list(dir.filePath("list").toStdString(), std::ios::binary);
        // Against a silent peer the frames are longer, so that they outgrow
        // the kernel's socket buffers and the main channel's queue must wait.
        const std::string line =
            reading ? "S:H:01 02 03 04\n" : "S:S:" + std::string(64, 'x') + "\n";
        for (int i = 0; i < kLines; ++i)
            list << line;
    }
    std::atomic<bool> stop{false};
    std::thread sink([&] {
        pollfd waiting{listener, POLLIN, 0};
        if (::poll(&waiting, 1, 10'000) != 1)
            return;
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        char buf[65536];
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            if (reading && ::poll(&p, 1, 20) == 1 && ::read(fd, buf, sizeof buf) <= 0)
                break;
            if (!reading)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::close(fd);
    });

    TListRun run;
    {
        TfrmMain window;
        window.findChild<QPushButton *>(QStringLiteral("btnStart"))->click();
        const QString path = dir.filePath("list");
        dialogs::SetOpenFileHook([path](const QString &, const QString &) { return path; });
        QElapsedTimer clock;
        QElapsedTimer sinceTick;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            run.LongestGapMs =
                std::max(run.LongestGapMs, static_cast<double>(sinceTick.nsecsElapsed()) / 1e6);
            sinceTick.start();
            run.MostQueued = std::max(run.MostQueued, window.Engine().Session().MainQueuedBytes());
        });
        ticker.start(1);
        clock.start();
        sinceTick.start();
        window.findChild<QPushButton *>(QStringLiteral("btnCmdSequ"))->click();
        // The click itself is one turn of the loop too.
        run.LongestGapMs =
            std::max(run.LongestGapMs, static_cast<double>(sinceTick.nsecsElapsed()) / 1e6);
        while (window.Engine().ListRunning() && clock.elapsed() < limitMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        run.Finished = !window.Engine().ListRunning();
        run.Seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    }
    stop = true;
    sink.join();
    ::close(listener);
    dialogs::SetOpenFileHook({});
    dialogs::SetMessageHook({});
    QDir::setCurrent(previous);
    paths::SetDataDirOverride({});
    return run;
}

void BM_MillionLinesReadingPeer(benchmark::State &state)
{
    for (auto _ : state) {
        const TListRun run = RunList(true, 120'000);
        state.SetIterationTime(run.Seconds);
        state.counters["longest_gap_ms"] = run.LongestGapMs;
        state.counters["finished"] = run.Finished ? 1 : 0;
        state.counters["lines_per_s"] = kLines / run.Seconds;
    }
}

void BM_MillionLinesSilentPeer(benchmark::State &state)
{
    for (auto _ : state) {
        const TListRun run = RunList(false, 5'000);
        state.SetIterationTime(run.Seconds);
        state.counters["longest_gap_ms"] = run.LongestGapMs;
        state.counters["most_queued_MiB"] = static_cast<double>(run.MostQueued) / (1 << 20);
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
    benchmark::RegisterBenchmark("CommandList/MillionLines/ReadingPeer",
                                 kestrune::BM_MillionLinesReadingPeer)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("CommandList/MillionLines/SilentPeer5s",
                                 kestrune::BM_MillionLinesSilentPeer)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
