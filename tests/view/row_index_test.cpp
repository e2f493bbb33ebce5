#include "app/view/RowIndex.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace kestrune {

// Readable failure messages for row lists.
void PrintTo(const TRowSpan &span, std::ostream *out)
{
    *out << "[" << span.Start << "," << span.End << ")";
}

namespace {

std::vector<TRowSpan> AllRows(const TRowIndex &index)
{
    std::vector<TRowSpan> rows;
    for (std::size_t r = 0; r < index.RowCount(); ++r)
        rows.push_back(index.Row(r));
    return rows;
}

TRowIndex Indexed(const std::string &text, std::size_t columns)
{
    TRowIndex index;
    index.SetColumns(columns);
    index.SetText(text);
    return index;
}

struct WrapCase
{
    const char *Name;
    std::string Text;
    std::size_t Columns;
    std::vector<TRowSpan> Rows;
};

void PrintTo(const WrapCase &c, std::ostream *out)
{
    *out << c.Name;
}

class RowIndexWrap : public ::testing::TestWithParam<WrapCase>
{
};

TEST_P(RowIndexWrap, SplitsIntoExpectedRows)
{
    const WrapCase &c = GetParam();
    EXPECT_EQ(AllRows(Indexed(c.Text, c.Columns)), c.Rows);
}

INSTANTIATE_TEST_SUITE_P(
    Breaks, RowIndexWrap,
    ::testing::Values(WrapCase{"Empty", "", 4, {{0, 0}}}, WrapCase{"OneChar", "a", 4, {{0, 1}}},
                      WrapCase{"ExactWidth", "abcd", 4, {{0, 4}}},
                      WrapCase{"TwiceWidth", "abcdefgh", 4, {{0, 4}, {4, 8}}},
                      WrapCase{"OneOver", "abcde", 4, {{0, 4}, {4, 5}}},
                      WrapCase{"Lf", "ab\ncd", 4, {{0, 2}, {3, 5}}},
                      WrapCase{"CrLfIsOneBreak", "ab\r\ncd", 4, {{0, 2}, {4, 6}}},
                      WrapCase{"LoneCr", "ab\rcd", 4, {{0, 2}, {3, 5}}},
                      WrapCase{"TrailingBreakLeavesEmptyRow", "ab\r\n", 4, {{0, 2}, {4, 4}}},
                      WrapCase{"CrThenCrLf", "\r\r\n\n", 4, {{0, 0}, {1, 1}, {3, 3}, {4, 4}}},
                      WrapCase{"LfThenCrAreTwoBreaks", "\n\r", 4, {{0, 0}, {1, 1}, {2, 2}}},
                      WrapCase{"ExactWidthBeforeBreak", "abcd\r\nef", 4, {{0, 4}, {6, 8}}},
                      WrapCase{"WrapsEachLineOnItsOwn",
                               "abcde\nfghij",
                               2,
                               {{0, 2}, {2, 4}, {4, 5}, {6, 8}, {8, 10}, {10, 11}}},
                      WrapCase{"ZeroColumnsActsAsOne", "ab", 0, {{0, 1}, {1, 2}}}),
    [](const ::testing::TestParamInfo<WrapCase> &p) { return std::string(p.param.Name); });

TEST(RowIndex, OffsetsMapToTheRowShowingTheCaret)
{
    // Rows: [0,4) [4,6) | break at 6,7 | [8,8) | break 9 | [10,14)
    const TRowIndex index = Indexed("abcdef\r\n\nwxyz", 4);
    ASSERT_EQ(index.RowCount(), 4u);
    const std::vector<std::pair<std::size_t, std::size_t>> cases = {
        {0, 0}, {3, 0}, {4, 1},                    // a wrap point starts the next row
        {6, 1}, {7, 1},                            // inside CR LF: still the row that ends the line
        {8, 2}, {9, 3}, {10, 3}, {14, 3}, {99, 3}, // beyond the end: the last row
    };
    for (const auto &[offset, row] : cases)
        EXPECT_EQ(index.RowOfOffset(offset), row) << "offset " << offset;

    // A line of exactly the width keeps its end on its only row.
    EXPECT_EQ(Indexed("abcd\nx", 4).RowOfOffset(4), 0u);
}

TEST(RowIndex, MarksRowsFollowedByABreak)
{
    const TRowIndex index = Indexed("abcdef\nxy", 4);
    EXPECT_FALSE(index.EndsWithBreak(0)); // wrapped, not broken
    EXPECT_TRUE(index.EndsWithBreak(1));
    EXPECT_FALSE(index.EndsWithBreak(2)); // the text's last row
}

TEST(RowIndex, VeryLongLineWrapsWithoutStoringRows)
{
    const std::string text(6'000'000, 'A');
    TRowIndex index = Indexed(text, 97);
    EXPECT_EQ(index.LineCount(), 1u);
    EXPECT_EQ(index.RowCount(), (text.size() + 96) / 97);
    EXPECT_EQ(index.Row(index.RowCount() - 1).End, text.size());
    EXPECT_EQ(index.RowOfOffset(text.size() / 2), text.size() / 2 / 97);

    index.SetColumns(1000);
    EXPECT_EQ(index.RowCount(), 6000u);
    EXPECT_EQ(index.Row(5999), (TRowSpan{5'999'000, 6'000'000}));
}

// Whatever the breaks and width, the rows plus the breaks between them give
// back the text, no row is wider than the width, and every row start maps back.
TEST(RowIndex, RowsCoverRandomTextExactly)
{
    std::mt19937 random(7);
    const char alphabet[] = {'a', 'b', ' ', '\r', '\n'};
    for (int round = 0; round < 40; ++round) {
        std::string text(random() % 300, ' ');
        for (char &c : text)
            c = alphabet[random() % sizeof alphabet];
        for (std::size_t columns : {1u, 2u, 3u, 7u, 64u}) {
            const TRowIndex index = Indexed(text, columns);
            std::string rebuilt;
            for (std::size_t r = 0; r < index.RowCount(); ++r) {
                const TRowSpan span = index.Row(r);
                ASSERT_LE(span.End - span.Start, columns);
                ASSERT_EQ(index.RowOfOffset(span.Start), r);
                rebuilt += text.substr(span.Start, span.End - span.Start);
                if (index.EndsWithBreak(r)) {
                    const std::size_t next = index.Row(r + 1).Start;
                    const std::string brk = text.substr(span.End, next - span.End);
                    ASSERT_TRUE(brk == "\n" || brk == "\r" || brk == "\r\n") << round;
                    rebuilt += brk;
                } else if (r + 1 < index.RowCount()) {
                    ASSERT_EQ(index.Row(r + 1).Start, span.End) << "gap in a wrapped line";
                    ASSERT_EQ(span.End - span.Start, columns) << "short row inside a line";
                }
            }
            ASSERT_EQ(rebuilt, text) << "round " << round << " columns " << columns;
        }
    }
}

} // namespace
} // namespace kestrune
