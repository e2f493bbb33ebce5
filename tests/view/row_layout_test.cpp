// The row layout against FormatData and a plainly written wrap, under random
// appends, trims, limit changes, clears, resizes and representation changes.
#include "ViewTestSupport.h"

#include "app/view/RowLayout.h"
#include "exchange/BoundedHistory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace kestrune {
namespace {

using testing::ClipRows;
using testing::LayoutRows;
using testing::ReferenceRows;
using testing::ReferenceRunRows;
using testing::TextOffset;
using testing::TRunEnd;
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

// The frame starts in (from, to), as offsets from `from`.
std::vector<std::size_t> FramesIn(const TFrameMarks *frames, std::uint64_t from, std::uint64_t to)
{
    std::vector<std::size_t> starts;
    if (frames)
        for (std::uint64_t seq = frames->Begin(); seq < frames->End(); ++seq)
            if (frames->PosAt(seq) > from && frames->PosAt(seq) < to)
                starts.push_back(static_cast<std::size_t>(frames->PosAt(seq) - from));
    return starts;
}

// The text of bytes [from, to) followed by more bytes: in Hex every byte has its blank.
std::uint64_t TextBefore(const ByteString &everything, std::uint64_t from, std::uint64_t to,
                         TDataMode mode, char esc)
{
    return mode == dmHex ? 3 * (to - from)
                         : FormatData(everything.substr(from, to - from), mode, esc).size();
}

// The rows of the kept bytes as a text editor wraps them from `cut`, each
// frame starting a row, with the last row before `seam` (when there is one)
// ending there.
std::vector<TTextRow> ExpectedRows(const ByteString &everything, const TFrameMarks *frames,
                                   std::uint64_t begin, std::uint64_t end, std::uint64_t cut,
                                   std::uint64_t seam, TDataMode mode, char esc,
                                   std::size_t columns)
{
    const std::uint64_t skip = TextBefore(everything, cut, begin, mode, esc);
    if (seam == TRowLayout::None)
        return ClipRows(ReferenceRunRows(everything.substr(cut, end - cut),
                                         FramesIn(frames, cut, end), TRunEnd::History, mode, esc,
                                         columns),
                        skip);
    const std::vector<std::size_t> headFrames = FramesIn(frames, cut, seam + 1);
    const bool frameAtSeam = !headFrames.empty() && headFrames.back() == seam - cut;
    std::vector<TTextRow> rows =
        ClipRows(ReferenceRunRows(everything.substr(cut, seam - cut), headFrames,
                                  frameAtSeam ? TRunEnd::Frame : TRunEnd::Seam, mode, esc, columns),
                 skip);
    const std::uint64_t offset = TextBefore(everything, cut, seam, mode, esc) - skip;
    for (const TTextRow &row :
         ReferenceRunRows(everything.substr(seam, end - seam), FramesIn(frames, seam, end),
                          TRunEnd::History, mode, esc, columns))
        rows.push_back({row.Start + offset, row.End + offset, row.Break});
    return rows;
}

// Where a trim may land to stress the layout: on a CR or an LF, or on a
// frame's first byte.
std::vector<std::uint64_t> AwkwardBegins(const ByteString &everything, const TFrameIndex &frames,
                                         std::uint64_t from, std::uint64_t to)
{
    std::vector<std::uint64_t> begins;
    for (std::uint64_t at = from; at < to; ++at)
        if (everything[at] == '\r' || everything[at] == '\n')
            begins.push_back(at);
    for (std::uint64_t seq = frames.Begin(); seq < frames.End(); ++seq)
        if (frames.PosAt(seq) > from && frames.PosAt(seq) < to)
            begins.push_back(frames.PosAt(seq));
    return begins;
}

struct TPropertyRun
{
    const char *Name;
    bool Framed;
    int Rounds;
};

class RowLayoutProperty : public ::testing::TestWithParam<TPropertyRun>
{
};

// The property: whatever happens to the history, the layout's text is
// FormatData of the history and its rows are the reference wrap of the bytes
// since the rows were last cut afresh, clipped to what is kept. Half the
// rounds lay out lazily, the head in random steps: rows about to be shown and
// the rows at the end are exact while the head is under way, and all rows are
// once it is done. Framed, frames start rows, often with a line break (a reply
// as "\r\nOK\r\n"), trims often land on a line break or a frame, and the
// frames are short enough for the oldest to be merged now and then.
TEST_P(RowLayoutProperty, MatchesFormatDataAndTheReferenceWrapThroughAnyHistory)
{
    const TPropertyRun &run = GetParam();
    std::mt19937 random(2024);
    const char escs[] = {'{', '[', '(', '<'};
    std::uint64_t merges = 0;
    for (int round = 0; round < run.Rounds; ++round) {
        TBoundedHistory history;
        TFrameIndex frames(4); // short histories merge their frames too
        ByteString everything; // every byte ever appended, indexed by position
        TRowLayout layout;
        const bool lazy = round >= run.Rounds / 2;
        if (lazy)
            layout.SetLazyBytes(8 + random() % 120);
        const std::size_t indent = run.Framed ? random() % 12 : 0;
        auto mode = static_cast<TDataMode>(round % 3);
        char esc = escs[round % 4];
        std::size_t columns = 1 + random() % 30;
        const auto dataColumns = [&] { return columns > indent ? columns - indent : 1; };
        if (run.Framed)
            layout.SetFrames(&frames, indent);
        layout.Reset(history, mode, esc, columns);
        std::uint64_t anchor = 0;
        std::int32_t limit = static_cast<std::int32_t>(50 + random() % 400);
        for (int step = 0; step < 250; ++step) {
            const unsigned op = random() % 20;
            const std::uint64_t oldEnd = layout.Bytes().End();
            const std::uint64_t oldMerges = frames.Merges();
            if (op == 0) {
                limit = static_cast<std::int32_t>(random() % 500);
            } else if (op == 1) {
                history.Clear();
                frames.Clear();
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
                const char *replies[] = {"\r\nOK\r\n", "OK\r\n", "\r\n", "\n", "\r"};
                std::string block(random() % 4 == 0 ? random() % 120 : random() % 9, ' ');
                for (char &c : block)
                    c = alphabet[random() % sizeof alphabet];
                if (random() % 3 == 0 && !block.empty())
                    block.back() = '\r';
                if (run.Framed && random() % 3 == 0)
                    block = replies[random() % std::size(replies)];
                const std::uint64_t start = history.End();
                std::int32_t blockLimit = limit;
                if (run.Framed && random() % 2 == 0) {
                    // A trim that starts the history on a line break or a frame.
                    everything += block;
                    const std::vector<std::uint64_t> begins =
                        AwkwardBegins(everything, frames, history.Begin(), start + block.size());
                    everything.resize(start);
                    if (!begins.empty())
                        blockLimit = static_cast<std::int32_t>(start + block.size() -
                                                               begins[random() % begins.size()]);
                }
                history.Append(block, blockLimit);
                everything += block;
                if (run.Framed && !block.empty()) {
                    const std::uint64_t at =
                        start + (random() % 4 == 0 ? random() % block.size() : 0);
                    if (random() % 3 != 0 &&
                        (frames.Empty() || frames.PosAt(frames.End() - 1) < at))
                        frames.Add({at, 0, 0});
                }
                frames.TrimTo(history.Begin());
            }
            // Rows are cut afresh when all old bytes are gone, or frames merged.
            if (history.Begin() >= oldEnd || frames.Merges() != oldMerges)
                anchor = history.Begin();
            merges += frames.Merges() - oldMerges;
            layout.Follow(history, run.Framed ? &frames : nullptr);
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
                         << " step " << step << " mode " << int(mode) << " columns " << columns
                         << " indent " << indent);
            std::string text;
            layout.Cells().AppendText(layout.Bytes(), layout.TextBegin(), layout.TextEnd(), text);
            ASSERT_EQ(text, FormatData(history.Bytes(), mode, esc));
            const std::vector<TTextRow> expected =
                ExpectedRows(everything, run.Framed ? &frames : nullptr, history.Begin(),
                             history.End(), anchor, layout.Seam(), mode, esc, dataColumns());
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
            const std::vector<TTextRow> rows = LayoutRows(layout);
            const auto differ =
                std::mismatch(rows.begin(), rows.end(), expected.begin(), expected.end());
            ASSERT_EQ(rows, expected)
                << "first difference at row " << differ.first - rows.begin() << " of "
                << rows.size() << " / " << expected.size() << ": "
                << (differ.first != rows.end() ? ::testing::PrintToString(*differ.first) : "-")
                << " vs "
                << (differ.second != expected.end() ? ::testing::PrintToString(*differ.second)
                                                    : "-")
                << " in " << ::testing::PrintToString(text) << " cut from "
                << ::testing::PrintToString(everything.substr(anchor)) << " frames at "
                << ::testing::PrintToString(FramesIn(run.Framed ? &frames : nullptr,
                                                     anchor > 0 ? anchor - 1 : 0, history.End()));
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
    EXPECT_EQ(merges > 0, run.Framed) << "merged frames were laid out too";
}

// A head laid out as far as the trim, whose row there wraps at a blank before
// the trim once the rest of that row is read: its first rows are shown at once.
TEST(RowLayout, HeadTrimmedWhereItWasLaidOutShowsItsFirstRows)
{
    const std::string bytes = "ab ab ab ab ab ab ab ab ab\ncd cd cd cd cd cd cd cd\nef ef ef\n";
    TBoundedHistory history;
    history.Append(std::string(100, 'x'), 100);
    TRowLayout layout;
    layout.SetLazyBytes(40);
    layout.Reset(history, dmCharacter, '{', 10);
    history.Append(bytes, static_cast<std::int32_t>(bytes.size()));
    layout.Follow(history);
    ASSERT_TRUE(layout.Pending());
    // Laid out up to the second "b" of the third row, which ends after its
    // blank before that "b" when the "b" is read.
    layout.Step(19);
    history.Append("", static_cast<std::int32_t>(bytes.size() - 19));
    layout.Follow(history);
    ASSERT_TRUE(layout.Pending());
    layout.EnsureRows(0, 2);
    const TRowSpan first = layout.Row(0);
    std::string text;
    layout.Cells().AppendText(layout.Bytes(), first.Start, first.End, text);
    EXPECT_EQ(text, "b ab ab");
    while (layout.Step(7)) {
    }
    EXPECT_EQ(LayoutRows(layout), ReferenceRows(ByteString(bytes), 19, dmCharacter, '{', 10));
}

INSTANTIATE_TEST_SUITE_P(Runs, RowLayoutProperty,
                         ::testing::Values(TPropertyRun{"Plain", false, 200},
                                           TPropertyRun{"Framed", true, 400}),
                         [](const ::testing::TestParamInfo<TPropertyRun> &p) {
                             return std::string(p.param.Name);
                         });

} // namespace
} // namespace kestrune
