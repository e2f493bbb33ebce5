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
    EXPECT_EQ(history.View(), c.expected);
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
    EXPECT_EQ(history.View().back(), 'z');
    EXPECT_EQ(history.View().front(), 'a');
}

TEST(BoundedHistory, ClearEmptiesAndStartsAfresh)
{
    TBoundedHistory history;
    history.Append("abcdef", 4);
    history.Clear();
    EXPECT_TRUE(history.Empty());
    history.Append("xy", 4);
    EXPECT_EQ(history.View(), "xy");
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
        ASSERT_EQ(history.View(), reference) << "after block " << i;
    }
}

} // namespace
} // namespace kestrune
