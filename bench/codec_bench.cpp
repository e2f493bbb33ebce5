// Formatting and parsing speed of the text representations, and the cost of
// Hex formatting against a plain copy of the same number of output bytes.
#include "codec/Format.h"
#include "codec/Parse.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace kestrune {
namespace {

constexpr std::size_t Small = 64 * 1024;
constexpr std::size_t Large = 2 * 1024 * 1024;

const ByteString &RandomBytes(std::size_t size)
{
    static std::map<std::size_t, ByteString> cache;
    ByteString &bytes = cache[size];
    if (bytes.empty()) {
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> byte(0, 255);
        bytes.resize(size);
        for (char &b : bytes)
            b = static_cast<char>(byte(rng));
    }
    return bytes;
}

void Format(benchmark::State &state, TDataMode mode, std::size_t size)
{
    const ByteString &bytes = RandomBytes(size);
    for (auto _ : state)
        benchmark::DoNotOptimize(FormatData(bytes, mode, '{'));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// Parses what the formatter shows, so the text has the shape users see.
void Parse(benchmark::State &state, TDataMode mode, std::size_t size)
{
    const std::string text = FormatData(RandomBytes(size), mode, '{');
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseData(text, mode, '{'));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// The floor for Hex formatting: copying its output size without computing it.
void CopyHexOutputSize(benchmark::State &state, std::size_t size)
{
    const std::string source(size * 3 - 1, 'A');
    std::string target(source.size(), ' ');
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

const std::string HexSmallName = "Format/Hex/64KiB";
const std::string CopySmallName = "CopyHexOutputSize/64KiB";

// Prints the Hex-to-copy time ratio once both runs of this process are known,
// by wall-clock and by CPU time (the latter steadier on a shared machine); with
// repetitions, the best run of each counts.
class TRatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration)
                continue;
            auto [it, fresh] = FBest.try_emplace(run.benchmark_name(), run.GetAdjustedRealTime(),
                                                 run.GetAdjustedCPUTime());
            if (!fresh) {
                it->second.first = std::min(it->second.first, run.GetAdjustedRealTime());
                it->second.second = std::min(it->second.second, run.GetAdjustedCPUTime());
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const auto hex = FBest.find(HexSmallName);
        const auto copy = FBest.find(CopySmallName);
        if (hex == FBest.end() || copy == FBest.end())
            return;
        std::cout << "Hex formatting of 64 KiB / memcpy of its output size: "
                  << hex->second.first / copy->second.first << " (real time), "
                  << hex->second.second / copy->second.second << " (CPU time)\n";
    }

private:
    std::map<std::string, std::pair<double, double>> FBest;
};

void RegisterAll()
{
    const std::pair<TDataMode, const char *> modes[] = {
        {dmHex, "Hex"}, {dmCharacter, "Character"}, {dmMixed, "Mixed"}};
    const std::pair<std::size_t, const char *> sizes[] = {{Small, "64KiB"}, {Large, "2MiB"}};
    for (const auto &[size, sizeName] : sizes) {
        for (const auto &[mode, modeName] : modes) {
            benchmark::RegisterBenchmark(
                (std::string("Format/") + modeName + "/" + sizeName).c_str(), Format, mode, size);
            benchmark::RegisterBenchmark(
                (std::string("Parse/") + modeName + "/" + sizeName).c_str(), Parse, mode, size);
        }
    }
    benchmark::RegisterBenchmark(CopySmallName.c_str(), CopyHexOutputSize, Small);
}

} // namespace
} // namespace kestrune

int main(int argc, char **argv)
{
    kestrune::RegisterAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    kestrune::TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
