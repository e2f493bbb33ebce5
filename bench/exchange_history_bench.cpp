// Appending small blocks to a full history: the chunked history against the
// plain rule that moves every kept byte on each append. Items are blocks.
#include "exchange/BoundedHistory.h"

#include <benchmark/benchmark.h>

#include <string>

namespace kestrune {
namespace {

constexpr std::size_t BlockSize = 16;

// Fills the history to its limit first, so every timed append has to trim.
void BM_HistoryAppend(benchmark::State &state)
{
    const auto limit = static_cast<std::int32_t>(state.range(0));
    TBoundedHistory history;
    history.Append(std::string(static_cast<std::size_t>(limit), 'h'), limit);
    const std::string block(BlockSize, 'b');
    for (auto _ : state) {
        history.Append(block, limit);
        benchmark::DoNotOptimize(history.End());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_PlainRuleAppend(benchmark::State &state)
{
    const auto limit = static_cast<std::int32_t>(state.range(0));
    ByteString history(static_cast<std::size_t>(limit), 'h');
    const std::string block(BlockSize, 'b');
    for (auto _ : state) {
        BoundedAppend(history, block, limit);
        benchmark::DoNotOptimize(history.data());
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_HistoryAppend)->Arg(64 << 10)->Arg(2 << 20);
BENCHMARK(BM_PlainRuleAppend)->Arg(64 << 10)->Arg(2 << 20);

} // namespace
} // namespace kestrune

BENCHMARK_MAIN();
