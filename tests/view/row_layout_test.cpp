// The row layout against FormatData and a plainly written wrap, under random
// appends, trims, limit changes, clears, resizes and representation changes.
#include "ViewTestSupport.h"

#include "app/view/RowLayout.h"
#include "exchange/BoundedHistory.h"

#include <gtest/gtest.h>

#include <random>

namespace kestrune {
namespace {

using testing::LayoutRows;
using testing::ReferenceRows;
using testing::TextOffset;
using testing::TTextRow;

struct TWrapCase
{
    const char *Name;
    TDataMode Mode;
    std::string Bytes;
    std::size_t Columns;
    std::vector<std::string> Rows; // each row's text, "|" marking a break after it
};

class RowLayoutWrap : public ::testing::TestWithParam<TWrapCase>
{
};

TEST_P(RowLayoutWrap, CutsRowsAsATextEditorDoes)
{
    const TWrapCase &c = GetParam();
    TBoundedHistory history;
    history.Append(c.Bytes, INT32_MAX);
    TRowLayout layout;
    layout.Reset(history, c.Mode, '{', c.Columns);
    std::vector<std::string> rows;
    layout.VisitRows(0, layout.RowCount(), [&](const TRowSpan &span) {
        std::string text;
        layout.Cells().AppendText(layout.Bytes(), span.Start, span.End, text);
        rows.push_back(text + (span.Break ? "|" : ""));
        return true;
    });
    EXPECT_EQ(rows, c.Rows);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RowLayoutWrap,
    ::testing::Values(
        TWrapCase{"Empty", dmCharacter, "", 4, {""}},
        TWrapCase{"WordsMoveWhole", dmCharacter, "ab cd ef", 4, {"ab ", "cd ", "ef"}},
        TWrapCase{"BlankPastTheEdgeHangs", dmCharacter, "abcd efgh", 4, {"abcd ", "efgh"}},
        TWrapCase{"LongWordIsCut", dmCharacter, "abcdefghij x", 4, {"abcd", "efgh", "ij x"}},
        TWrapCase{"CrLfIsOneBreak", dmCharacter, "ab\r\ncd", 4, {"ab|", "cd"}},
        TWrapCase{"LoneCrAndLf", dmCharacter, "a\rb\n\n", 4, {"a|", "b|", "|", ""}},
        TWrapCase{
            "HexRowsHoldWholePairs", dmHex, "\x01\x02\x03\x04\x05", 7, {"01 02 ", "03 04 ", "05"}},
        TWrapCase{"HexExactFit", dmHex, "\x01\x02\x03", 5, {"01 02 ", "03"}},
        TWrapCase{"HexOneColumn", dmHex, "\x1A\x2B", 1, {"1", "A ", "2", "B"}},
        TWrapCase{"MixedEscapesAreCharacters", dmMixed, "A\r\nB", 5, {"A{0D}", "{0A}B"}},
        TWrapCase{"MixedCutsInsideAnEscape", dmMixed, "\x01\x02", 3, {"{01", "}{0", "2}"}}),
    [](const ::testing::TestParamInfo<TWrapCase> &p) { return std::string(p.param.Name); });

// A Hex row never ends inside a pair, at any width: every row but the last
// holds the same number of whole pairs, each followed by its blank.
TEST(RowLayout, HexRowsNeverSplitAPair)
{
    TBoundedHistory history;
    history.Append(std::string(200, '\x5A'), INT32_MAX);
    for (std::size_t columns = 2; columns < 60; ++columns) {
        TRowLayout layout;
        layout.Reset(history, dmHex, '{', columns);
        const std::size_t pairs = (columns + 1) / 3;
        ASSERT_EQ(layout.RowCount(), (200 + pairs - 1) / pairs) << columns;
        layout.VisitRows(0, layout.RowCount(), [&](const TRowSpan &span) {
            std::string text;
            layout.Cells().AppendText(layout.Bytes(), span.Start, span.End, text);
            EXPECT_LE(text.size(), columns + 1);
            EXPECT_EQ(text.size() % 3, span.End == layout.TextEnd() ? 2u : 0u) << text;
            return true;
        });
    }
}

// The rows of the kept bytes as a text editor wraps them from `cut`, with the
// last row before `seam` (when there is one) ending there.
std::vector<TTextRow> ExpectedRows(const ByteString &everything, std::uint64_t begin,
                                   std::uint64_t end, std::uint64_t cut, std::uint64_t seam,
                                   TDataMode mode, char esc, std::size_t columns)
{
    if (seam == TRowLayout::None)
        return ReferenceRows(everything.substr(cut, end - cut), begin - cut, mode, esc, columns);
    std::vector<TTextRow> rows =
        ReferenceRows(everything.substr(cut, seam - cut), begin - cut, mode, esc, columns);
    // A head whose text ends with a whole row has no empty row of its own after it.
    if (rows.back().Start == rows.back().End && !rows.back().Break)
        rows.pop_back();
    const std::uint64_t offset =
        FormatData(everything.substr(begin, seam - begin), mode, esc).size();
    for (const TTextRow &row :
         ReferenceRows(everything.substr(seam, end - seam), 0, mode, esc, columns))
        rows.push_back({row.Start + offset, row.End + offset, row.Break});
    return rows;
}

// The property: whatever happens to the history, the layout's text is
// FormatData of the history and its rows are the reference wrap of the bytes
// since the rows were last cut afresh, clipped to what is kept. Half the
// rounds lay out lazily, the head in random steps: rows about to be shown and
// the rows at the end are exact while the head is under way, and all rows are
// once it is done.
TEST(RowLayout, MatchesFormatDataAndTheReferenceWrapThroughAnyHistory)
{
    std::mt19937 random(2024);
    const char escs[] = {'{', '[', '(', '<'};
    for (int round = 0; round < 72; ++round) {
        TBoundedHistory history;
        ByteString everything; // every byte ever appended, indexed by position
        TRowLayout layout;
        const bool lazy = round >= 36;
        if (lazy)
            layout.SetLazyBytes(8 + random() % 120);
        auto mode = static_cast<TDataMode>(round % 3);
        char esc = escs[round % 4];
        std::size_t columns = 1 + random() % 30;
        layout.Reset(history, mode, esc, columns);
        std::uint64_t anchor = 0;
        std::int32_t limit = static_cast<std::int32_t>(50 + random() % 400);
        for (int step = 0; step < 250; ++step) {
            const unsigned op = random() % 20;
            const std::uint64_t oldEnd = layout.Bytes().End();
            if (op == 0) {
                limit = static_cast<std::int32_t>(random() % 500);
            } else if (op == 1) {
                history.Clear();
            } else if (op == 2) {
                columns = 1 + random() % 30;
                if (columns != layout.Columns())
                    anchor = layout.Bytes().Begin();
                layout.SetColumns(columns);
            } else if (op == 3) {
                mode = static_cast<TDataMode>(random() % 3);
                esc = escs[random() % 4];
                layout.Reset(history, mode, esc, columns);
                anchor = history.Begin();
            } else {
                // Text with blanks, escapes, and CR, LF and CR LF at block edges.
                const char alphabet[] = {'a', 'b', ' ', '\r', '\n', '\x01', '{', '}', 'z'};
                std::string block(random() % 4 == 0 ? random() % 120 : random() % 9, ' ');
                for (char &c : block)
                    c = alphabet[random() % sizeof alphabet];
                if (random() % 3 == 0 && !block.empty())
                    block.back() = '\r';
                history.Append(block, limit);
                everything += block;
            }
            if (history.Begin() >= oldEnd)
                anchor = history.Begin();
            layout.Follow(history);
            if (history.Begin() < anchor)
                anchor = history.Begin();
            if (lazy) {
                // The head goes on in steps, is finished now and then, and
                // cuts its rows from where it began or last lost its bytes.
                if (random() % 4 == 0)
                    while (layout.Step(1 + random() % 40)) {
                    }
                else if (random() % 2 == 0)
                    layout.Step(1 + random() % 40);
                anchor = layout.Anchor();
            }
            SCOPED_TRACE(::testing::Message()
                         << "op " << op << " begin " << history.Begin() << " oldEnd " << oldEnd
                         << " anchor " << anchor << " seam " << layout.Seam() << " round " << round
                         << " step " << step << " mode " << int(mode) << " columns " << columns);
            std::string text;
            layout.Cells().AppendText(layout.Bytes(), layout.TextBegin(), layout.TextEnd(), text);
            ASSERT_EQ(text, FormatData(history.Bytes(), mode, esc));
            const std::vector<TTextRow> expected =
                ExpectedRows(everything, history.Begin(), history.End(), anchor, layout.Seam(),
                             mode, esc, columns);
            if (layout.Pending()) {
                // The first rows, once ensured, and the last ones are exact.
                const std::size_t shown = std::min<std::size_t>(1 + random() % 4, expected.size());
                layout.EnsureRows(0, shown);
                const std::vector<TTextRow> rows = LayoutRows(layout);
                ASSERT_GE(rows.size(), shown);
                for (std::size_t i = 0; i < shown; ++i)
                    ASSERT_EQ(rows[i], expected[i]) << i;
                const TRowSpan last = layout.Row(layout.RowCount() - 1);
                const TTextRow lastRow{TextOffset(layout.Bytes(), mode, esc, last.Start),
                                       TextOffset(layout.Bytes(), mode, esc, last.End), last.Break};
                ASSERT_EQ(lastRow, expected.back());
                continue;
            }
            ASSERT_EQ(LayoutRows(layout), expected) << ::testing::PrintToString(text);
            ASSERT_EQ(layout.RowCount(), expected.size());
            // Every row start maps back to its row.
            for (std::size_t r = 0; r < layout.RowCount(); r += 1 + r / 4) {
                const TRowSpan span = layout.Row(r);
                if (span.Start != span.End || span.Break) {
                    ASSERT_EQ(layout.RowOf(span.Start), r);
                }
            }
        }
    }
}

} // namespace
} // namespace kestrune
