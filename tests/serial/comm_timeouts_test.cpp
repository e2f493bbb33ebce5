// When a read of the serial reader is complete, by time-outs and block size.

#include "serial/CommTimeouts.h"

#include <cctype>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using Clock = TReadCompletion::Clock;

struct TCompletionCase
{
    const char *What;
    TCommTimeouts Timeouts;
    // Bytes arrive at these offsets from the read's start (ms), one each.
    std::vector<int> Arrivals;
    int At;        // look at this offset (ms)
    bool Complete; // expected answer
    int DueMs;     // expected MsUntilDue at that moment
};

class ReadCompletion : public ::testing::TestWithParam<TCompletionCase>
{
};

TEST_P(ReadCompletion, DecidesByTimeouts)
{
    const TCompletionCase &c = GetParam();
    const Clock::time_point start{};
    TReadCompletion completion;
    completion.Start(c.Timeouts, start);
    std::size_t filled = 0;
    for (int at : c.Arrivals) {
        completion.ByteArrived(start + std::chrono::milliseconds(at));
        ++filled;
    }
    const auto now = start + std::chrono::milliseconds(c.At);
    EXPECT_EQ(completion.IsComplete(now, filled), c.Complete);
    EXPECT_EQ(completion.MsUntilDue(now, filled), c.DueMs);
}

constexpr std::uint32_t Max = MaxTimeout;

INSTANTIATE_TEST_SUITE_P(
    Timeouts, ReadCompletion,
    ::testing::Values(
        // Defaults: 100 ms between bytes ends a read; nothing ends an empty one.
        TCompletionCase{"empty read waits for data", {100, 0, 0, 0, 0}, {}, 5000, false, -1},
        TCompletionCase{"gap still open", {100, 0, 0, 0, 0}, {10, 50}, 120, false, 30},
        TCompletionCase{"gap elapsed", {100, 0, 0, 0, 0}, {10, 50}, 150, true, 0},
        // Total = multiplier * 4096 + constant, counted from the read's start.
        TCompletionCase{"constant only", {0, 0, 40, 0, 0}, {}, 39, false, 1},
        TCompletionCase{"constant elapsed", {0, 0, 40, 0, 0}, {}, 40, true, 0},
        TCompletionCase{"multiplier", {0, 1, 4, 0, 0}, {1}, 4000, false, 100},
        TCompletionCase{"total before interval", {100, 0, 30, 0, 0}, {20}, 30, true, 0},
        TCompletionCase{"interval before total", {20, 0, 500, 0, 0}, {5}, 25, true, 0},
        // No time-outs at all: only a full block ends the read.
        TCompletionCase{"no time-outs", {0, 0, 0, 0, 0}, {1, 2}, 100000, false, -1},
        // Return at once with what has arrived; an empty read waits, not spins.
        TCompletionCase{"immediate, nothing yet", {Max, 0, 0, 0, 0}, {}, 10, false, -1},
        TCompletionCase{"immediate, one byte", {Max, 0, 0, 0, 0}, {3}, 3, true, 0},
        // First bytes, or give up after the constant.
        TCompletionCase{"first or total, waiting", {Max, Max, 250, 0, 0}, {}, 100, false, 150},
        TCompletionCase{"first or total, byte", {Max, Max, 250, 0, 0}, {100}, 100, true, 0},
        TCompletionCase{"first or total, expired", {Max, Max, 250, 0, 0}, {}, 250, true, 0},
        // An endless interval with no total is no interval.
        TCompletionCase{"endless interval", {Max, 0, 60, 0, 0}, {1}, 59, false, 1}),
    [](const auto &param) {
        std::string name;
        for (const char *p = param.param.What; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST(ReadCompletionBlock, FullBlockIsCompleteWhateverTheTimeouts)
{
    TReadCompletion completion;
    completion.Start(TCommTimeouts{0, 0, 0, 0, 0}, Clock::time_point{});
    EXPECT_FALSE(completion.IsComplete(Clock::time_point{}, ReadBlockSize - 1));
    EXPECT_TRUE(completion.IsComplete(Clock::time_point{}, ReadBlockSize));
}

TEST(ReadCompletionBlock, HugeTotalDoesNotOverflow)
{
    TReadCompletion completion;
    const Clock::time_point start{};
    completion.Start(TCommTimeouts{0, 0xFFFFFFF0u, 0xFFFFFFF0u, 0, 0}, start);
    EXPECT_FALSE(completion.IsComplete(start + 24h, 0));
    EXPECT_GT(completion.MsUntilDue(start, 0), 0);
}

} // namespace
} // namespace kestrune
