#include "exchange/BoundedHistory.h"

#include "row_name.h"

#include <gtest/gtest.h>

#include <ostream>

#include <climits>
#include <random>
#include <string>
#include <vector>

namespace kestrune {
namespace {

struct AppendCase
{
    const char *name;
    std::string history;
    std::string block;
    std::int32_t bufSize;
    std::string expected;
};

void PrintTo(const AppendCase &row, std::ostream *os)
{
    *os << row.name;
}

const std::string Eight = "ABCDEFGH";
const std::string Fifteen = "0123456789abcde";

const std::vector<AppendCase> AppendCases = {
    {"last six old bytes then four new", Eight, "1234", 10, "CDEFGH1234"},
    {"block longer than limit stays whole", Eight, Fifteen, 10, Fifteen},
    {"fits exactly", "ABCDEF", "1234", 10, "ABCDEF1234"},
    {"room to spare", "AB", "12", 10, "AB12"},
    {"three then three under four", "abc", "xyz", 4, "cxyz"},
    {"limit zero keeps just the last block", Eight, "xy", 0, "xy"},
    {"limit zero and an empty block", Eight, "", 0, ""},
    {"block exactly the limit", Eight, "0123456789", 10, "0123456789"},
    {"lowered limit cuts at the next append", "0123456789", "z", 4, "789z"},
    {"empty block trims to a lowered limit", "0123456789", "", 4, "6789"},
    {"empty block under the limit changes nothing", "abc", "", 10, "abc"},
    {"empty history", "", "abc", 10, "abc"},
    {"zero bytes are ordinary", std::string("a\0b", 3), std::string("\0\0", 2), 4,
     std::string("\0b\0\0", 4)},
    {"negative limit keeps just the block", Eight, "xy", -5, "xy"},
    {"largest limit", Eight, "xy", INT_MAX, Eight + "xy"},
};

class AppendTable : public ::testing::TestWithParam<AppendCase>
{
};

TEST_P(AppendTable, PlainRule)
{
    const AppendCase &c = GetParam();
    std::string history = c.history;
    BoundedAppend(history, c.block, c.bufSize);
    EXPECT_EQ(history, c.expected);
}

TEST_P(AppendTable, History)
{
    const AppendCase &c = GetParam();
    TBoundedHistory history;
    history.Append(c.history, INT_MAX);
    history.Append(c.block, c.bufSize);
    EXPECT_EQ(history.Bytes(), c.expected);
    EXPECT_EQ(history.Size(), c.expected.size());
}

INSTANTIATE_TEST_SUITE_P(Rows, AppendTable, ::testing::ValuesIn(AppendCases), RowName<AppendCase>);

TEST(BoundedHistory, TwoMegabyteLimitCutsAPreviouslyLargerHistory)
{
    TBoundedHistory history;
    const std::string big(3 * 1024 * 1024, 'a');
    history.Append(big, INT_MAX);
    history.Append("z", 2 * 1024 * 1024);
    ASSERT_EQ(history.Size(), 2097152u);
    EXPECT_EQ(history.Bytes().back(), 'z');
    EXPECT_EQ(history.Bytes().front(), 'a');
}

TEST(BoundedHistory, ClearEmptiesAndStartsAfresh)
{
    TBoundedHistory history;
    history.Append("abcdef", 4);
    history.Clear();
    EXPECT_TRUE(history.Empty());
    history.Append("xy", 4);
    EXPECT_EQ(history.Bytes(), "xy");
}

// The cheap history must equal the plain rule after every single block, across
// limit changes and blocks of every size from empty to beyond the limit.
TEST(BoundedHistory, MatchesThePlainRuleAfterEveryBlock)
{
    std::mt19937 random(12345);
    std::string reference;
    TBoundedHistory history;
    std::int32_t limit = 4096;
    unsigned counter = 0;
    for (int i = 0; i < 20000; ++i) {
        if (i % 1500 == 0)
            limit = static_cast<std::int32_t>(random() % 6000);
        const std::size_t size = random() % 8 == 0 ? random() % 7000 : random() % 40;
        std::string block(size, '\0');
        for (char &ch : block)
            ch = static_cast<char>(counter++ * 7);
        BoundedAppend(reference, block, limit);
        history.Append(block, limit);
        ASSERT_EQ(history.Bytes(), reference) << "after block " << i;
    }
}

// A copy shares the chunks: it keeps showing its bytes while the history is
// trimmed and cleared under it, and Follow brings it up to date again.
TEST(BoundedHistory, CopiesKeepTheirBytesAndFollowCatchesUp)
{
    TBoundedHistory history;
    const auto limit = static_cast<std::int32_t>(3 * HistoryChunkSize);
    std::string reference;
    unsigned counter = 0;
    const auto append = [&](std::size_t size) {
        std::string block(size, '\0');
        for (char &ch : block)
            ch = static_cast<char>(counter++ * 13);
        BoundedAppend(reference, block, limit);
        history.Append(block, limit);
    };
    append(HistoryChunkSize + 17);
    THistoryBytes paused = history;
    const std::string pausedBytes = reference;
    THistoryBytes live;
    for (int i = 0; i < 40; ++i) {
        append(9000 + static_cast<std::size_t>(i) * 1000);
        live.Follow(history);
        ASSERT_EQ(live.Bytes(), reference) << i;
        ASSERT_LE(live.ChunkCount(), history.ChunkCount()) << "dropped chunks are let go";
    }
    EXPECT_EQ(paused.Bytes(), pausedBytes);
    EXPECT_LT(paused.End(), history.Begin()) << "the paused bytes are long gone from the history";
    // Positions go on after a clear, so the old chunks are no longer shared.
    history.Clear();
    reference.clear();
    append(5);
    live.Follow(history);
    EXPECT_EQ(live.Bytes(), reference);
    EXPECT_EQ(live.ChunkCount(), 1u);
    EXPECT_EQ(paused.Bytes(), pausedBytes);
}

} // namespace
} // namespace kestrune
