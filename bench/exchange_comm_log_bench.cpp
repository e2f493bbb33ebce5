// Communication log: 16-byte frames as Hex records, each appended with the file
// opened and closed for the record (what the log does, so every record is in
// the file when the call returns) against one stream kept open for the run.
#include "exchange/CommLog.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace kestrune {
namespace {

std::string TempLogPath(const char *name)
{
    static const std::string dir = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kestrune-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        return pattern;
    }();
    return dir + "/" + name;
}

std::string Record()
{
    const ByteString frame("\x01\x03\x00\x00\x00\x01\x84\x0A\x10\x20\x30\x40\x50\x60\x70\x80", 16);
    return CommLogRecord(CurrentLocalTime(), LogDirSend, frame, dmHex, '{');
}

void BM_LogOpenClosePerRecord(benchmark::State &state)
{
    const std::string path = TempLogPath("per-record.txt");
    const std::string record = Record();
    for (auto _ : state) {
        if (!AppendCommLog(path, record).Ok())
            state.SkipWithError("log write failed");
    }
    state.SetItemsProcessed(state.iterations());
    std::filesystem::remove(path);
}

void BM_LogOneOpenStream(benchmark::State &state)
{
    const std::string path = TempLogPath("one-stream.txt");
    const std::string record = Record();
    std::FILE *file = std::fopen(path.c_str(), "ab");
    for (auto _ : state)
        std::fwrite(record.data(), 1, record.size(), file);
    std::fclose(file);
    state.SetItemsProcessed(state.iterations());
    std::filesystem::remove(path);
}

BENCHMARK(BM_LogOpenClosePerRecord);
BENCHMARK(BM_LogOneOpenStream);

} // namespace
} // namespace kestrune

BENCHMARK_MAIN();
