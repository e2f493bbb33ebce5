// A Hex flood into the real window: a loopback client writes 128 MiB to the
// window's TCP server channel, with the history size set to 64k, 16M, 256M and
// 1024M in turn, in one run. Each run reports the display rate (bytes until the
// receive pane counts them all, the views redrawn as in use) and the growth of
// resident memory; the table compares every rate with the 64k run's. On the
// 256M run it also times a change of representation with its repaint, and
// scrolling to the top with its repaint, without and then with "Show frames".
//
// A last run repeats the first size with "Capture to file..." on, so the
// table gives the display rate with the capture against the rate without it.
// Then the same flood of ASCII text in Character mode with a 16M history, shown
// as Latin-1 and as UTF-8 in turn: the ratio of their rates is what decoding
// costs on text that needs none (each run also times a change to Mixed with
// its repaint).
//
// KESTRUNE_FLOOD_MB sets the flood size (default 128), KESTRUNE_FLOOD_SIZES the
// history sizes (default "64k,16M,256M,1024M").
#include "app/MainFrm.h"
#include "app/view/HistoryView.h"
#include "common/AppPaths.h"
#include "tests/support/LoopbackPort.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrune {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from)
{
    return std::chrono::duration<double>(Clock::now() - from).count();
}

double ResidentMB()
{
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

// Connects to the window (retrying while it comes up) and writes `total` bytes.
void Push(int port, std::uint64_t total, bool ascii, std::atomic<bool> &stop)
{
    int fd = -1;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!stop && Clock::now() < deadline) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
            break;
        ::close(fd);
        fd = -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (fd < 0)
        return;
    std::vector<char> block(65536);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = ascii ? (i % 64 == 63 ? '\n' : static_cast<char>(' ' + (i * 7) % 95))
                         : static_cast<char>(i * 31 + i / 251);
    std::uint64_t sent = 0;
    while (!stop && sent < total) {
        const ssize_t n = ::send(fd, block.data(),
                                 std::min<std::uint64_t>(block.size(), total - sent), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::uint64_t>(n);
    }
    while (!stop)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::close(fd);
}

struct TResult
{
    std::string Size;
    double Rate = 0;      // MB/s
    double GrowthMB = 0;  // resident memory growth
    double HistoryMB = 0; // bytes kept at the end
    bool Whole = false;
    double ToMixedMs = 0;
};

double TimeRepaint(THistoryView *view, const std::function<void()> &change)
{
    const auto begin = Clock::now();
    change();
    view->viewport()->repaint();
    return Seconds(begin) * 1000;
}

// `capture`: with "Capture to file..." on. `text`: an ASCII flood shown in
// Character mode in that encoding; else a Hex flood.
TResult Flood(const std::string &size, std::uint64_t total, bool timeChanges, bool capture = false,
              const char *text = nullptr)
{
    TResult result{capture ? size + "+cap" : size};
    QTemporaryDir dir;
    paths::SetDataDirOverride(dir.path().toStdString());
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const int port = kestrune::testing::FreeLoopbackPort();
    std::ofstream(paths::SettingsFilePath(), std::ios::binary)
        << "[Main]\r\nMethod=TCPServer\r\nLocalPort=" << port
        << "\r\n[Other]\r\nDataMode=" << (text ? 1 : 0) << "\r\nBufSize=" << size
        << "\r\nEncoding=" << (text ? text : "Latin-1") << "\r\nCaptureToFile=" << capture
        << "\r\nCaptureFile=" << dir.filePath("flood.pcapng").toStdString() << "\r\n";
    {
        TfrmMain window;
        window.resize(1000, 700);
        window.show();
        QCoreApplication::processEvents();
        // Memory the previous run freed would otherwise be reused unseen.
        malloc_trim(0);
        const double residentBefore = ResidentMB();
        window.findChild<QPushButton *>(QStringLiteral("btnStart"))->click();
        auto *pane = window.findChild<QLabel *>(QStringLiteral("stpRecv"));
        auto *view = window.findChild<THistoryView *>(QStringLiteral("mmoRecv"));
        const QString done = QStringLiteral("Recv: %1B.").arg(total);
        std::atomic<bool> stop{false};
        const auto begin = Clock::now();
        std::thread pusher(Push, port, total, text != nullptr, std::ref(stop));
        const auto deadline = begin + std::chrono::seconds(600);
        while (pane->text() != done && Clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        window.FlushViewRedraw();
        const double seconds = Seconds(begin);
        result.Whole = pane->text() == done;
        result.Rate = static_cast<double>(total) / 1e6 / seconds;
        result.GrowthMB = ResidentMB() - residentBefore;
        result.HistoryMB = static_cast<double>(view->Layout().Bytes().Size()) / 1e6;
        if (text) {
            auto *modes = window.findChild<QComboBox *>(QStringLiteral("cboDataMode"));
            result.ToMixedMs = TimeRepaint(view, [&] { modes->setCurrentIndex(2); });
        }
        if (timeChanges) {
            auto *modes = window.findChild<QComboBox *>(QStringLiteral("cboDataMode"));
            auto *brackets = window.findChild<QComboBox *>(QStringLiteral("cboEscChar"));
            const double toMixed = TimeRepaint(view, [&] { modes->setCurrentIndex(2); });
            const double bracket = TimeRepaint(view, [&] { brackets->setCurrentIndex(1); });
            const double toCharacter = TimeRepaint(view, [&] { modes->setCurrentIndex(1); });
            const double toHex = TimeRepaint(view, [&] { modes->setCurrentIndex(0); });
            const double top = TimeRepaint(view, [&] { view->verticalScrollBar()->setValue(0); });
            std::printf("%s history of %.0f MB: Hex->Mixed %.1f ms, bracket change %.1f ms, "
                        "Mixed->Character %.1f ms, Character->Hex %.1f ms, scroll to top %.2f ms "
                        "(repaints included)\n",
                        size.c_str(), result.HistoryMB, toMixed, bracket, toCharacter, toHex, top);
            // The same with "Show frames" on: one frame per socket read.
            view->ScrollToEnd();
            const double framesOn = TimeRepaint(view, [&] { emit view->showFramesToggled(true); });
            const double framedMixed = TimeRepaint(view, [&] { modes->setCurrentIndex(2); });
            const double framedBracket = TimeRepaint(view, [&] { brackets->setCurrentIndex(0); });
            const double framedCharacter = TimeRepaint(view, [&] { modes->setCurrentIndex(1); });
            const double framedTop =
                TimeRepaint(view, [&] { view->verticalScrollBar()->setValue(0); });
            std::printf("with frames: Show frames on %.1f ms, Hex->Mixed %.1f ms, bracket change "
                        "%.1f ms, Mixed->Character %.1f ms, scroll to top %.2f ms\n",
                        framesOn, framedMixed, framedBracket, framedCharacter, framedTop);
        }
        stop = true;
        pusher.join();
    }
    QDir::setCurrent(previousDir);
    paths::SetDataDirOverride({});
    return result;
}

std::vector<std::string> Sizes()
{
    const char *env = std::getenv("KESTRUNE_FLOOD_SIZES");
    std::string list = env ? env : "64k,16M,256M,1024M";
    std::vector<std::string> sizes;
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        if (comma > at)
            sizes.push_back(list.substr(at, comma - at));
        at = comma + 1;
    }
    return sizes;
}

} // namespace
} // namespace kestrune

int main(int argc, char **argv)
{
    using namespace kestrune;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const char *mb = std::getenv("KESTRUNE_FLOOD_MB");
    const std::uint64_t total = static_cast<std::uint64_t>(mb ? std::atol(mb) : 128) << 20;
    std::vector<TResult> results;
    // KESTRUNE_FLOOD_CAPTURE_ONLY: the smallest history with and without the
    // capture, nothing else (for profiling the capture).
    const bool captureOnly = !qEnvironmentVariableIsEmpty("KESTRUNE_FLOOD_CAPTURE_ONLY");
    for (const std::string &size : Sizes()) {
        if (!captureOnly || size == Sizes().front())
            results.push_back(Flood(size, total, size == "256M"));
    }
    results.push_back(Flood(Sizes().front(), total, false, true));
    if (captureOnly) {
        std::printf("capture on / off: %.1f / %.1f MB/s = %.2f\n", results.back().Rate,
                    results.front().Rate, results.back().Rate / results.front().Rate);
        return 0;
    }
    std::printf("\nHex flood of %llu MiB over loopback TCP into the window\n",
                static_cast<unsigned long long>(total >> 20));
    std::printf("%-8s %10s %12s %14s %16s %8s\n", "history", "MB/s", "vs first", "memory MB",
                "kept history MB", "whole");
    for (const TResult &r : results)
        std::printf("%-8s %10.1f %12.2f %14.1f %16.1f %8s\n", r.Size.c_str(), r.Rate,
                    r.Rate / results.front().Rate, r.GrowthMB, r.HistoryMB, r.Whole ? "yes" : "NO");

    const TResult latin1 = Flood("16M", total, false, false, "Latin-1");
    const TResult utf8 = Flood("16M", total, false, false, "UTF-8");
    std::printf("\nASCII text flood of %llu MiB in Character mode, 16M history\n",
                static_cast<unsigned long long>(total >> 20));
    std::printf("%-8s %10s %16s %8s\n", "encoding", "MB/s", "to Mixed ms", "whole");
    for (const auto &[name, r] : {std::pair{"Latin-1", latin1}, std::pair{"UTF-8", utf8}})
        std::printf("%-8s %10.1f %16.1f %8s\n", name, r.Rate, r.ToMixedMs, r.Whole ? "yes" : "NO");
    std::printf("UTF-8 / Latin-1 rate: %.2f\n", utf8.Rate / latin1.Rate);
    return 0;
}
