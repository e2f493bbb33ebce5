#include "exchange/ReplyMatcher.h"

#include "row_name.h"

#include <gtest/gtest.h>

#include <ostream>

#include <random>
#include <string>
#include <vector>

namespace kestrune {
namespace {

struct MatchCase
{
    const char *name;
    std::string expected;
    std::vector<std::string> blocks;
    int foundAt; // index of the block that completes the reply, -1 for never
};

void PrintTo(const MatchCase &row, std::ostream *os)
{
    *os << row.name;
}

const std::vector<MatchCase> MatchCases = {
    {"one block", "\x06", {"\x06"}, 0},
    {"split over two blocks", "OK", {"xO", "Ky"}, 1},
    {"split over many blocks", "HELLO", {"H", "E", "L", "L", "O"}, 4},
    {"overlapping start", "aab", {"a", "a", "a", "b"}, 3},
    {"overlap across blocks", "abab", {"aba", "bab"}, 1},
    {"never arrives", "OK", {"O", "x", "K"}, -1},
    {"empty reply is never found", "", {"", "abc"}, -1},
    {"zero bytes", std::string("\0\x01", 2), {std::string("\x05\0", 2), "\x01"}, 1},
};

class MatchTable : public ::testing::TestWithParam<MatchCase>
{
};

TEST_P(MatchTable, FoundOnTheCompletingBlock)
{
    const MatchCase &c = GetParam();
    TReplyMatcher matcher;
    matcher.Begin(c.expected);
    int foundAt = -1;
    for (std::size_t i = 0; i < c.blocks.size(); ++i) {
        if (matcher.Feed(c.blocks[i]) && foundAt < 0)
            foundAt = static_cast<int>(i);
    }
    EXPECT_EQ(foundAt, c.foundAt);
    EXPECT_EQ(matcher.Waiting(), c.foundAt < 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, MatchTable, ::testing::ValuesIn(MatchCases), RowName<MatchCase>);

TEST(ReplyMatcher, DataBeforeTheWaitNeverCounts)
{
    TReplyMatcher matcher;
    EXPECT_FALSE(matcher.Feed("O"));
    matcher.Begin("OK");
    EXPECT_FALSE(matcher.Feed("K"));
    // A partial match of an earlier wait does not carry into the next one.
    matcher.Begin("OK");
    EXPECT_FALSE(matcher.Feed("xO"));
    matcher.Begin("OK");
    EXPECT_FALSE(matcher.Feed("K"));
    EXPECT_TRUE(matcher.Feed("OK"));
}

TEST(ReplyMatcher, EndsTheWaitWhenFoundOrCancelled)
{
    TReplyMatcher matcher;
    matcher.Begin("OK");
    ASSERT_TRUE(matcher.Feed("OK"));
    EXPECT_FALSE(matcher.Waiting());
    EXPECT_FALSE(matcher.Feed("OK"));

    matcher.Begin("OK");
    EXPECT_FALSE(matcher.Feed("O"));
    matcher.Cancel();
    EXPECT_FALSE(matcher.Feed("K"));
}

// Keeping only a tail must answer as searching everything since the wait began.
TEST(ReplyMatcher, AgreesWithSearchingEverythingReceived)
{
    std::mt19937 random(777);
    for (int round = 0; round < 400; ++round) {
        std::string expected(1 + random() % 6, '\0');
        for (char &ch : expected)
            ch = static_cast<char>('a' + random() % 2);
        TReplyMatcher matcher;
        matcher.Begin(expected);
        std::string everything;
        for (int block = 0; block < 30; ++block) {
            std::string data(random() % 5, '\0');
            for (char &ch : data)
                ch = static_cast<char>('a' + random() % 3);
            everything += data;
            const bool reference = everything.find(expected) != std::string::npos;
            ASSERT_EQ(matcher.Feed(data), reference) << "round " << round << " block " << block;
            if (reference)
                break;
        }
    }
}

} // namespace
} // namespace kestrune
