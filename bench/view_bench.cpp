// Redraw cost of the receive and send views: the history view against a
// QPlainTextEdit, for histories of several sizes in each data mode. One redraw
// is what the send and receive paths do per block: a 2 KiB block appended to a
// full history, the view brought up to it, scrolled to the end and painted.
// The QPlainTextEdit is handed the formatted history, as a plain memo would be.
// Painting goes into an offscreen pixmap. The history view runs once more with
// "Show frames" on and a frame every 32 bytes, as short Modbus frames give.
#include "app/view/HistoryView.h"
#include "codec/Format.h"
#include "exchange/BoundedHistory.h"
#include "exchange/FrameIndex.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace kestrune {
namespace {

constexpr QSize kViewSize(800, 400);

struct TModeCase
{
    const char *Name;
    TDataMode Mode;
};
constexpr TModeCase kModes[] = {{"Hex", dmHex}, {"Character", dmCharacter}, {"Mixed", dmMixed}};
constexpr std::size_t kSizes[] = {4 * 1024, 64 * 1024, 512 * 1024, 2 * 1024 * 1024};

// Traffic as a device might send it: text lines ending in CR LF, now and then
// a line of binary bytes, so Character mode has line breaks and escapes occur.
ByteString TrafficBytes(std::size_t size)
{
    std::mt19937 random(11);
    ByteString bytes;
    bytes.reserve(size + 128);
    while (bytes.size() < size) {
        const std::size_t length = 20 + random() % 80;
        const bool binary = random() % 10 == 0;
        for (std::size_t i = 0; i < length; ++i)
            bytes += static_cast<char>(binary ? random() % 256 : 0x20 + random() % 0x5F);
        bytes += "\r\n";
    }
    bytes.resize(size);
    return bytes;
}

const std::string &DisplayText(TDataMode mode, std::size_t size)
{
    static std::map<std::pair<int, std::size_t>, std::string> cache;
    std::string &text = cache[{mode, size}];
    if (text.empty())
        text = FormatData(TrafficBytes(size), mode, '{');
    return text;
}

template <typename TView> void Prepare(TView &view)
{
    view.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view.resize(kViewSize);
    view.show();
    QApplication::processEvents();
}

void RedrawHistoryView(benchmark::State &state, TDataMode mode, std::size_t size)
{
    const ByteString traffic = TrafficBytes(size + 64 * 1024);
    const auto limit = static_cast<std::int32_t>(size);
    TBoundedHistory history;
    history.Append(std::string_view(traffic).substr(0, size), limit);
    THistoryView view;
    Prepare(view);
    view.ShowHistory(history, mode, '{');
    QPixmap pixmap(view.size());
    std::size_t at = 0;
    for (auto _ : state) {
        history.Append(std::string_view(traffic).substr(at, 2048), limit);
        at = (at + 2048) % (64 * 1024);
        view.ShowHistory(history, mode, '{');
        view.ScrollToEnd();
        view.render(&pixmap);
    }
}

constexpr std::size_t kFrameBytes = 32;

// Notes frames of kFrameBytes in a block just appended, as serial reads
// after silences would.
void NoteFrames(TFrameIndex &frames, const TBoundedHistory &history, std::size_t length,
                std::int64_t &clock)
{
    std::vector<TReadQuiet> quiet;
    for (std::uint32_t at = 0; at < length; at += kFrameBytes)
        quiet.push_back({at, clock, 10'000'000});
    TBlockTiming timing;
    timing.Quiet = &quiet;
    timing.GapNs = 5'000'000;
    timing.NowMonoNs = clock;
    timing.NowWallMs = clock / 1'000'000;
    NoteBlockFrames(frames, history.End() - length, length, timing);
    frames.TrimTo(history.Begin());
    clock += 20'000'000;
}

void RedrawFramedView(benchmark::State &state, TDataMode mode, std::size_t size)
{
    const ByteString traffic = TrafficBytes(size + 64 * 1024);
    const auto limit = static_cast<std::int32_t>(size);
    TBoundedHistory history;
    TFrameIndex frames;
    std::int64_t clock = 1'000'000'000;
    for (std::size_t at = 0; at < size; at += 2048) {
        history.Append(std::string_view(traffic).substr(at, 2048), limit);
        NoteFrames(frames, history, 2048, clock);
    }
    THistoryView view;
    Prepare(view);
    view.ShowHistory(history, mode, '{', &frames);
    QPixmap pixmap(view.size());
    std::size_t at = 0;
    for (auto _ : state) {
        history.Append(std::string_view(traffic).substr(at, 2048), limit);
        NoteFrames(frames, history, 2048, clock);
        at = (at + 2048) % (64 * 1024);
        view.ShowHistory(history, mode, '{', &frames);
        view.ScrollToEnd();
        view.render(&pixmap);
    }
}

void RedrawPlainTextEdit(benchmark::State &state, TDataMode mode, std::size_t size)
{
    const std::string &text = DisplayText(mode, size);
    QPlainTextEdit view;
    view.setReadOnly(true);
    Prepare(view);
    QPixmap pixmap(view.size());
    for (auto _ : state) {
        view.setPlainText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
        view.render(&pixmap);
    }
}

std::string CaseName(const char *view, const TModeCase &mode, std::size_t size)
{
    return std::string("Redraw/") + view + "/" + mode.Name + "/" + std::to_string(size / 1024) +
           "KiB";
}

// Keeps each run's CPU time (ms) so the ratios can be printed after the runs.
// CPU time, because the work is single-threaded and wall time on a shared
// machine mostly measures the neighbours.
class TRatioReporter : public benchmark::ConsoleReporter
{
public:
    TRatioReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Iteration)
                Times[run.benchmark_name()] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> Times;
};

void PrintRatios(const std::map<std::string, double> &times)
{
    std::printf("\n%-10s %9s %14s %16s %10s %10s %8s\n", "mode", "history", "HistoryView ms",
                "QPlainTextEdit ms", "speed-up", "framed ms", "framed/plain");
    for (const TModeCase &mode : kModes)
        for (std::size_t size : kSizes) {
            const auto ours = times.find(CaseName("HistoryView", mode, size));
            const auto theirs = times.find(CaseName("QPlainTextEdit", mode, size));
            if (ours == times.end())
                continue;
            const double plainEdit = theirs == times.end() ? 0 : theirs->second;
            const auto framed = times.find(CaseName("FramedView", mode, size));
            const double framedMs = framed == times.end() ? 0 : framed->second;
            std::printf("%-10s %6zu KiB %14.3f %16.3f %9.0fx %10.3f %7.2fx\n", mode.Name,
                        size / 1024, ours->second, plainEdit, plainEdit / ours->second, framedMs,
                        framedMs / ours->second);
        }
}

} // namespace
} // namespace kestrune

int main(int argc, char **argv)
{
    using namespace kestrune;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (const TModeCase &mode : kModes)
        for (std::size_t size : kSizes) {
            benchmark::RegisterBenchmark(CaseName("HistoryView", mode, size).c_str(),
                                         RedrawHistoryView, mode.Mode, size)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(CaseName("FramedView", mode, size).c_str(),
                                         RedrawFramedView, mode.Mode, size)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(CaseName("QPlainTextEdit", mode, size).c_str(),
                                         RedrawPlainTextEdit, mode.Mode, size)
                ->Unit(benchmark::kMillisecond);
        }
    benchmark::Initialize(&argc, argv);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter.Times);
    benchmark::Shutdown();
    return 0;
}
