// Frames and search in the history view: the framed text against a plain
// reference after random appends and trims in every representation, rows that
// start at frames and wrap under the data column, and a search that finds what
// a naive scan finds, in slices that leave the event loop its turns.
#include "ViewTestSupport.h"
#include "app/view/HistoryView.h"
#include "app/view/ShownText.h"
#include "codec/Format.h"

#include <QFontDatabase>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>

namespace kestrune {
namespace {

// Bytes that stress the text: line breaks, blanks, brackets, escapes.
std::string RandomBytes(std::mt19937 &rng, std::size_t n)
{
    static const char alphabet[] = {'A', 'b', ' ', '\r', '\n', '{', '}', '\0', '\xFF', '7', '.'};
    std::string bytes(n, '\0');
    for (char &c : bytes)
        c = alphabet[rng() % sizeof alphabet];
    return bytes;
}

// What the view must show: each frame (the first one cut by the trim) on a
// line of its own after its prefix.
std::string FramedReference(const THistoryView &view, const TBoundedHistory &history,
                            const TFrameIndex &frames, TDataMode mode)
{
    std::string text;
    for (std::uint64_t seq = frames.Begin(); seq < frames.End(); ++seq) {
        const TFrameMark mark = frames.At(seq);
        const std::uint64_t end = seq + 1 < frames.End() ? frames.PosAt(seq + 1) : history.End();
        if (seq > frames.Begin())
            text += '\n';
        text += view.FramePrefix(mark) +
                FormatData(history.Copy(std::max(mark.Pos, history.Begin()), end), mode, '{');
    }
    return text;
}

class FramesViewTest : public ::testing::Test
{
protected:
    void SetUp() override { View = testing::ShownView(); }

    std::unique_ptr<THistoryView> View;
};

TEST_F(FramesViewTest, FramedTextAndRowsFollowAppendsAndTrimsInEveryRepresentation)
{
    std::mt19937 rng(18);
    for (const TDataMode mode : {dmHex, dmCharacter, dmMixed}) {
        // No origin column; one of channels; one that also names peers.
        for (const int origin : {0, 1, 2}) {
            SCOPED_TRACE(::testing::Message() << "mode " << mode << " origin " << origin);
            TBoundedHistory history;
            TFrameIndex frames(4); // short histories merge their frames too
            TOriginTags tags;
            const std::uint16_t peers[] = {tags.Tag("[2001:db8::1]:40000"), tags.Tag("10.0.0.1:7")};
            View->SetOriginColumn(origin > 0);
            View->SetOriginTags(origin == 2 ? &tags : nullptr);
            // With the origin column the view lays out lazily from a few dozen bytes on.
            View->SetLazyLayoutBytes(origin ? 8 + rng() % 64 : TRowLayout::DefaultLazyBytes);
            std::int32_t limit = 300;
            std::int64_t clock = 1'700'000'000'000;
            for (int step = 0; step < 120; ++step) {
                const std::string block = RandomBytes(rng, rng() % 60);
                if (rng() % 10 == 0)
                    limit = 50 + static_cast<std::int32_t>(rng() % 400);
                history.Append(block, limit);
                // A message, or a serial block cut where reads followed a silence.
                std::vector<TReadQuiet> quiet;
                for (std::uint32_t at = 0; at < block.size(); at += 1 + rng() % 20)
                    quiet.push_back(
                        {at, clock * 1'000'000, static_cast<std::int64_t>(rng() % 3) * 4'000'000});
                TBlockTiming timing;
                timing.Origin = origin == 2 && rng() % 2 ? peers[rng() % 2]
                                                         : static_cast<std::uint16_t>(rng() % 3);
                timing.Quiet = rng() % 2 ? &quiet : nullptr;
                timing.GapNs = 5'000'000;
                timing.NowMonoNs = clock * 1'000'000;
                timing.NowWallMs = clock;
                NoteBlockFrames(frames, history.End() - block.size(), block.size(), timing);
                frames.TrimTo(history.Begin());
                clock += 7;
                View->ShowHistory(history, mode, '{', &frames);
                if (rng() % 2 == 0) {
                    ASSERT_TRUE(QTest::qWaitFor([&] { return !View->Layout().Pending(); }, 5000));
                }

                ASSERT_EQ(View->Text(), FramedReference(*View, history, frames, mode));
                const TRowLayout &layout = View->Layout();
                const std::size_t data = layout.Columns() - layout.Indent();
                TTextPos expected = layout.TextBegin();
                std::size_t rows = 0;
                layout.VisitRows(0, layout.RowCount(), [&](const TRowSpan &span) {
                    ++rows;
                    EXPECT_GE(span.Start, expected) << "rows run in order";
                    EXPECT_LE(layout.Cells().TextLength(layout.Bytes(), span.Start, span.End),
                              data + 1)
                        << "a row fits the data column (a hanging blank aside)";
                    // No frame starts inside a row.
                    const std::uint64_t next = frames.FindAfter(ByteOfPos(span.Start));
                    if (next < frames.End()) {
                        EXPECT_GE(PosOfByte(frames.PosAt(next)), span.End) << span.Start;
                    }
                    expected = span.End;
                    return true;
                });
                if (!layout.Pending()) {
                    EXPECT_EQ(rows, layout.RowCount()) << "the count is exact once laid out";
                    EXPECT_EQ(expected, layout.TextEnd()) << "the rows reach the end";
                }
                // What a copy would count is what it would take, prefixes and
                // all, for ends near the ends of the text and at or before frames.
                const auto sub = [&] { return mode == dmHex ? rng() % 3 : 0; };
                const auto atFrame = [&] {
                    const std::uint64_t seq = frames.Begin() + rng() % frames.Size();
                    const std::uint64_t at = std::max(frames.PosAt(seq), history.Begin());
                    return rng() % 2 || at == history.Begin() ? PosOfByte(at)
                                                              : PosOfByte(at - 1) + sub();
                };
                const bool framesLeft = !frames.Empty();
                const TTextPos a =
                    framesLeft && rng() % 2 ? atFrame() : PosOfByte(history.Begin() + rng() % 10);
                const TTextPos b =
                    rng() % 3 == 0 ? layout.TextEnd()
                    : framesLeft && rng() % 2
                        ? atFrame()
                        : PosOfByte(history.End() -
                                    std::min<std::uint64_t>(rng() % 10, history.Size())) +
                              sub();
                View->SetSelection(a, b);
                const bool whole = View->SelectionStart() <= layout.TextBegin() &&
                                   View->SelectionEnd() >= layout.TextEnd();
                EXPECT_EQ(TShownText(layout, origin > 0, origin == 2 ? &tags : nullptr)
                              .Length(View->SelectionStart(), View->SelectionEnd(), whole),
                          static_cast<std::uint64_t>(View->SelectedText().size()));
                if (HasFailure())
                    return;
            }
            View->SetOriginTags(nullptr);
        }
    }
    // Off again: exactly FormatData of the history.
    TBoundedHistory history;
    history.Append("ab\r\ncd", 100);
    View->ShowHistory(history, dmCharacter, '{');
    EXPECT_EQ(View->Text(), "ab\r\ncd");
}

TEST_F(FramesViewTest, SearchFindsWhatANaiveScanFindsAcrossChunksAndSlices)
{
    std::mt19937 rng(3);
    for (int round = 0; round < 40; ++round) {
        TBoundedHistory history;
        std::string all;
        const std::string pattern = round % 2 ? "ab" : "aba";
        THistorySearch search;
        search.Start(history, pattern);
        for (int block = 0; block < 6; ++block) {
            std::string bytes(rng() % (HistoryChunkSize / 2), 'x');
            for (char &c : bytes)
                c = "abx"[rng() % 3];
            history.Append(bytes, 300'000);
            all += bytes;
            search.Follow(history);
            while (!search.Step(1 + rng() % 5000)) {
            }
        }
        const std::string kept = history.Bytes();
        std::vector<std::uint64_t> naive;
        for (std::size_t at = kept.find(pattern); at != std::string::npos;
             at = kept.find(pattern, at + pattern.size()))
            naive.push_back(history.Begin() + at);
        // Matches found before a trim may have been chosen from an earlier
        // start, so compare the tail that follows from a common match.
        std::vector<std::uint64_t> found(search.Matches().begin(), search.Matches().end());
        const auto common =
            std::find_first_of(naive.begin(), naive.end(), found.begin(), found.end());
        ASSERT_NE(common, naive.end());
        const auto from = std::find(found.begin(), found.end(), *common);
        EXPECT_TRUE(std::equal(common, naive.end(), from, found.end())) << "round " << round;
    }
}

// More matches than are kept: the search stops one past the limit and says
// so, and goes on from there once the trim has made room.
TEST_F(FramesViewTest, SearchKeepsAtMostItsLimitOfMatchesAndSaysThereAreMore)
{
    constexpr std::size_t Max = THistorySearch::MaxMatches;
    TBoundedHistory history;
    history.Append(std::string(Max + 500, 'a'), INT32_MAX);
    View->ShowHistory(history, dmCharacter, '{');
    View->ShowFindBar();
    View->Find("a", false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return View->Search().Done(); }, 20000));
    const THistorySearch &search = View->Search();
    EXPECT_TRUE(search.Capped());
    EXPECT_EQ(search.Matches().size(), Max);
    auto *count = View->FindBar()->findChild<QLabel *>(QStringLiteral("lblFindCount"));
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count->text(), QStringLiteral("more than %1 matches").arg(Max));

    history.Append("", static_cast<std::int32_t>(Max + 400)); // 100 bytes trimmed
    View->ShowHistory(history, dmCharacter, '{');
    ASSERT_TRUE(QTest::qWaitFor([&] { return View->Search().Done(); }, 20000));
    EXPECT_TRUE(search.Capped()) << "400 more than the limit";
    ASSERT_EQ(search.Matches().size(), Max);
    EXPECT_EQ(search.Matches().front(), history.Begin());
    EXPECT_EQ(search.Matches().back(), history.Begin() + Max - 1) << "none skipped";

    history.Append("", static_cast<std::int32_t>(Max - 5));
    View->ShowHistory(history, dmCharacter, '{');
    ASSERT_TRUE(QTest::qWaitFor([&] { return View->Search().Done(); }, 20000));
    EXPECT_FALSE(search.Capped());
    EXPECT_EQ(search.Matches().size(), Max - 5);
    EXPECT_EQ(count->text(), QStringLiteral("%1 matches").arg(Max - 5));
}

TEST_F(FramesViewTest, SearchOfALargeHistoryRunsInSlicesBetweenTurnsOfTheEventLoop)
{
    TBoundedHistory history;
    std::string block(HistoryChunkSize, '.');
    block.replace(HistoryChunkSize - 2, 4 - 2, "0D");
    for (int i = 0; i < 1024; ++i) // 64 MiB, "0D0A" astride every chunk edge
        history.Append(i == 0 ? block : "0A" + block.substr(2), INT32_MAX);
    View->ShowHistory(history, dmCharacter, '{');
    View->ShowFindBar();
    int turns = 0;
    std::vector<std::size_t> counts;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++turns;
        counts.push_back(View->Search().Matches().size());
    });
    ticker.start(0);
    View->Find("0D0A", false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return View->Search().Done(); }, 20000));
    ticker.stop();
    EXPECT_EQ(View->Search().Matches().size(), 1023u);
    EXPECT_GE(turns, 8) << "the loop turned while the search ran";
    EXPECT_TRUE(std::any_of(counts.begin(), counts.end(), [](std::size_t n) {
        return n > 0 && n < 1023;
    })) << "the count grew in steps";
}

} // namespace
} // namespace kestrune
