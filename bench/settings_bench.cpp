// The settings file at sizes users reach: 1,000 relay sections, and files of
// 100 MB in three shapes. The targets are absolute (1,000 relays load and save
// in under a second; a 100 MB file starts and exits the window in under 2 s);
// each 100 MB figure is also given as a ratio to plainly reading and
// atomically rewriting the same file, measured in the same run.
#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "common/AppPaths.h"
#include "common/AtomicFile.h"
#include "common/IniFile.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

namespace kestrune {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

constexpr std::size_t HundredMegabytes = 100u * 1000u * 1000u;

std::string relaySection(int i)
{
    return "[Trans" + std::to_string(i) +
           "]\r\nEnable=1\r\nMethod=UDP\r\nPort=COM1\r\nBaudrate=9600\r\nByteSize=8\r\n"
           "ParityBit=None\r\nStopBits=1\r\nReadIntervalTimeout=100\r\n"
           "ReadTimeoutMultiplier=0\r\nReadTimeoutConstant=1000\r\nWriteTimeoutMultiplier=0\r\n"
           "WriteTimeoutConstant=0\r\nIPAddr=127.0.0.1\r\nLocalPort=" +
           std::to_string(20000 + i) + "\r\nRemotePort=13002\r\n";
}

std::string relayFile(int relays)
{
    std::string text = "[Main]\r\nMethod=UDP\r\n[Other]\r\nTransNum=" + std::to_string(relays) +
                       "\r\nDataMode=0\r\n";
    for (int i = 0; i < relays; ++i)
        text += relaySection(i);
    return text;
}

// 100 MB in the shapes a damaged or hostile file takes.
std::string largeFile(const std::string &shape)
{
    if (shape == "ManyKeysInOther") {
        // The section the program reads, its own keys after millions of others.
        std::string text = "[Main]\r\nMethod=UDP\r\n[Other]\r\n";
        for (int i = 0; text.size() < HundredMegabytes; ++i)
            text += "Key" + std::to_string(i) + "=value " + std::to_string(i) + "\r\n";
        text += "TransNum=10\r\nDataMode=0\r\n";
        for (int i = 0; i < 10; ++i)
            text += relaySection(i);
        return text;
    }
    std::string text = relayFile(10);
    if (shape == "ManySections") {
        for (int i = 0; text.size() < HundredMegabytes; ++i)
            text += "[Unknown" + std::to_string(i) + "]\r\nA=1\r\nB=some text\r\n";
    } else {
        text += "[Other2]\r\nHuge=" + std::string(HundredMegabytes, 'h') + "\r\n";
    }
    return text;
}

void writeFile(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A folder of its own for the window's settings file, log and current directory.
class TWindowPlace
{
public:
    TWindowPlace()
    {
        paths::SetDataDirOverride(FDir.path().toStdString());
        FPrevious = QDir::currentPath();
        QDir::setCurrent(FDir.path());
        dialogs::SetMessageHook([this](const QString &, const QString &text, dialogs::TMsgIcon) {
            FMessages += text.toStdString() + "\n";
        });
    }
    ~TWindowPlace()
    {
        dialogs::SetMessageHook({});
        paths::SetDataDirOverride({});
        QDir::setCurrent(FPrevious);
    }
    [[nodiscard]] std::string Settings() const { return paths::SettingsFilePath(); }
    [[nodiscard]] const std::string &Messages() const { return FMessages; }

private:
    QTemporaryDir FDir;
    QString FPrevious;
    std::string FMessages;
};

// Start-up and exit of the real window on `text`, in seconds.
std::pair<double, double> windowStartExit(const std::string &text, std::size_t expectRelays,
                                          benchmark::State &state)
{
    TWindowPlace place;
    writeFile(place.Settings(), text);
    const auto start = Clock::now();
    auto window = std::make_unique<TfrmMain>();
    const double started = secondsSince(start);
    if (window->Engine().Relays().size() != expectRelays)
        state.SkipWithError("wrong relay count after start-up");
    const auto exit = Clock::now();
    window.reset();
    const double exited = secondsSince(exit);
    if (!place.Messages().empty())
        state.SkipWithError(place.Messages().c_str());
    return {started, exited};
}

void BM_Document1000RelaysLoadAndRead(benchmark::State &state)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("s.ini").toStdString();
    writeFile(path, relayFile(1000));
    const char *keys[] = {"Enable",
                          "Method",
                          "Port",
                          "Baudrate",
                          "ByteSize",
                          "ParityBit",
                          "StopBits",
                          "ReadIntervalTimeout",
                          "ReadTimeoutMultiplier",
                          "ReadTimeoutConstant",
                          "WriteTimeoutMultiplier",
                          "WriteTimeoutConstant",
                          "IPAddr",
                          "LocalPort",
                          "RemotePort"};
    for (auto _ : state) {
        const TIniFile ini(path);
        std::size_t found = 0;
        for (int i = 0; i < 1000; ++i)
            for (const char *key : keys)
                found += ini.Read("Trans" + std::to_string(i), key).has_value();
        benchmark::DoNotOptimize(found);
    }
}

void BM_Document1000RelaysWriteAndSave(benchmark::State &state)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("s.ini").toStdString();
    writeFile(path, relayFile(1000));
    for (auto _ : state) {
        TIniFile ini(path);
        for (int i = 0; i < 1000; ++i) {
            const std::string section = "Trans" + std::to_string(i);
            ini.WriteBool(section, "Enable", true);
            ini.WriteString(section, "Method", "TCPClient");
            ini.WriteInteger(section, "LocalPort", 30000 + i);
            ini.WriteString(section, "NewKey", "added at the end of the section");
        }
        ini.UpdateFile();
    }
}

void BM_Window1000RelaysStartAndExit(benchmark::State &state)
{
    const std::string text = relayFile(1000);
    double started = 0;
    double exited = 0;
    for (auto _ : state) {
        const auto [s, e] = windowStartExit(text, 1000, state);
        started += s;
        exited += e;
        state.SetIterationTime(s + e);
    }
    state.counters["start_ms"] = 1000 * started / static_cast<double>(state.iterations());
    state.counters["exit_ms"] = 1000 * exited / static_cast<double>(state.iterations());
}

// Reading the file whole and replacing it atomically: what any program must pay.
double rawCopySeconds(const std::string &text)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("raw.ini").toStdString();
    writeFile(path, text);
    const auto start = Clock::now();
    const auto content = ReadWholeFile(path);
    if (!content || ReplaceFileAtomically(path, *content) != 0)
        return -1;
    return secondsSince(start);
}

void BM_Window100MB(benchmark::State &state, const std::string &shape)
{
    const std::string text = largeFile(shape);
    double total = 0;
    double started = 0;
    double exited = 0;
    double baseline = 0;
    for (auto _ : state) {
        baseline += rawCopySeconds(text);
        const auto [s, e] = windowStartExit(text, 10, state);
        started += s;
        exited += e;
        total += s + e;
        state.SetIterationTime(s + e);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
    state.counters["start_ms"] = 1000 * started / n;
    state.counters["exit_ms"] = 1000 * exited / n;
    state.counters["raw_copy_ms"] = 1000 * baseline / n;
    state.counters["x_raw_copy"] = total / baseline;
}

} // namespace
} // namespace kestrune

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    using namespace kestrune;
    benchmark::RegisterBenchmark("Settings/Document1000Relays/LoadAndRead",
                                 BM_Document1000RelaysLoadAndRead)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Settings/Document1000Relays/WriteAndSave",
                                 BM_Document1000RelaysWriteAndSave)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Settings/Window1000Relays/StartAndExit",
                                 BM_Window1000RelaysStartAndExit)
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    for (const char *shape : {"ManySections", "ManyKeysInOther", "OneLongValue"}) {
        benchmark::RegisterBenchmark(
            (std::string("Settings/Window100MB/") + shape).c_str(),
            [shape](benchmark::State &state) { BM_Window100MB(state, shape); })
            ->Iterations(2)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
