#include "exchange/FrameIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace kestrune {
namespace {

constexpr std::int64_t Ms = 1'000'000;

struct CutCase
{
    const char *name;
    std::vector<TReadQuiet> quiet; // null when empty and message is set
    bool message;
    int lastOrigin; // the origin of a frame already noted, -1 none
    std::vector<std::uint64_t> starts;
};

// Blocks of 10 bytes at position 100, gap 5 ms, one character 1 ms.
const std::vector<CutCase> CutCases = {
    {"a message is one frame", {}, true, 0, {100}},
    {"the first read of a port starts a frame", {{0, 50 * Ms, ReadQuietForever}}, false, -1, {100}},
    {"a silence longer than the gap starts a frame",
     {{0, 50 * Ms, 7 * Ms}, {6, 60 * Ms, 9 * Ms}},
     false,
     0,
     {100, 106}},
    {"shorter silences go on with the frame",
     {{0, 50 * Ms, 5 * Ms}, {6, 60 * Ms, 2 * Ms}},
     false,
     0,
     {}},
    {"the character's own time is not silence", {{3, 50 * Ms, 5 * Ms + Ms / 2}}, false, 0, {}},
    {"bytes after another channel's frame start one", {{4, 50 * Ms, 9 * Ms}}, false, 2, {100, 104}},
};

TEST(FrameIndexTest, BlocksAreCutAtMessagesSilencesAndChangesOfChannel)
{
    for (const CutCase &c : CutCases) {
        SCOPED_TRACE(c.name);
        TFrameIndex index;
        if (c.lastOrigin >= 0)
            index.Add({90, 1, static_cast<std::uint16_t>(c.lastOrigin)});
        TBlockTiming timing;
        timing.Quiet = c.message ? nullptr : &c.quiet;
        timing.GapNs = 5 * Ms;
        timing.CharNs = Ms;
        timing.NowMonoNs = 100 * Ms;
        timing.NowWallMs = 1'000'000;
        NoteBlockFrames(index, 100, 10, timing);
        std::vector<std::uint64_t> starts;
        for (std::uint64_t seq = index.Begin(); seq < index.End(); ++seq)
            if (index.PosAt(seq) >= 100)
                starts.push_back(index.PosAt(seq));
        EXPECT_EQ(starts, c.starts);
        if (!c.message && !starts.empty() && starts.back() == 106) {
            EXPECT_EQ(index.At(index.End() - 1).TimeMs, 1'000'000 - 40) << "read 40 ms ago";
        }
    }
}

TEST(FrameIndexTest, TrimsKeepTheCutFrameAndFollowersShareChunks)
{
    // Frames as long as the index keeps whole.
    constexpr std::uint64_t Gap = TFrameIndex::BytesPerMark;
    TFrameIndex index;
    for (std::uint64_t i = 0; i < 3 * FrameChunkSize; ++i)
        index.Add({i * Gap, static_cast<std::int64_t>(i) - 5, static_cast<std::uint16_t>(i % 7)});
    TFrameMarks paused;
    paused.Follow(index);
    index.TrimTo(FrameChunkSize * Gap * 2 + 5); // inside frame 2 * chunk
    EXPECT_EQ(index.Begin(), 2 * FrameChunkSize) << "the cut frame keeps its mark";
    EXPECT_EQ(index.At(index.Begin()),
              (TFrameMark{FrameChunkSize * Gap * 2, 2 * FrameChunkSize - 5,
                          static_cast<std::uint16_t>(2 * FrameChunkSize % 7)}));
    EXPECT_EQ(index.Find(FrameChunkSize * Gap * 2 + Gap - 1), index.Begin());
    EXPECT_EQ(index.Find(0), TFrameMarks::None) << "trimmed away";
    EXPECT_EQ(index.FindAfter(FrameChunkSize * Gap * 2), index.Begin() + 1);
    EXPECT_EQ(index.Merges(), 0u) << "nothing to merge";
    EXPECT_EQ(paused.Find(Gap + 5), 1u) << "a follower keeps what it holds";
    EXPECT_EQ(paused.At(0).TimeMs, -5) << "times before the epoch survive the packing";
    index.Add({FrameChunkSize * Gap * 3, 9, 1});
    paused.Follow(index);
    EXPECT_EQ(paused.Begin(), index.Begin());
    EXPECT_EQ(paused.At(paused.End() - 1), (TFrameMark{FrameChunkSize * Gap * 3, 9, 1}));
    index.Clear();
    EXPECT_EQ(index.LastOrigin(), -1);
}

// A flood of 1-byte frames through a full history: the marks stay within one
// per BytesPerMark bytes of the history (or a chunk's worth), the oldest
// merged into the frame before them and the newest as they came, while a
// paused follower keeps its marks untouched.
TEST(FrameIndexTest, TinyFramesAreMergedOldestFirstWithinAMarkPerSixteenBytes)
{
    constexpr std::uint64_t HistoryBytes = 64 * 1024;
    TFrameIndex index;
    TFrameMarks paused;
    std::vector<TFrameMark> pausedMarks;
    std::uint64_t peak = 0;
    for (std::uint64_t pos = 0; pos < 40 * HistoryBytes; ++pos) {
        index.Add({pos, static_cast<std::int64_t>(pos), static_cast<std::uint16_t>(pos % 3)});
        const std::uint64_t begin = pos + 1 > HistoryBytes ? pos + 1 - HistoryBytes : 0;
        index.TrimTo(begin);
        peak = std::max<std::uint64_t>(peak, index.Size());
        const std::uint64_t bytes = pos + 1 - begin;
        ASSERT_LE(index.Size(), std::max<std::uint64_t>(
                                    FrameChunkSize, 1 + (bytes + TFrameIndex::BytesPerMark - 1) /
                                                            TFrameIndex::BytesPerMark))
            << pos;
        if (pos + 1 == FrameChunkSize) {
            ASSERT_EQ(index.Size(), FrameChunkSize) << "a chunk's worth is kept whole";
        }
        ASSERT_LE(index.PosAt(index.Begin()), begin) << "the frame holding the first byte";
        if (pos == 20 * HistoryBytes) {
            paused.Follow(index);
            for (std::uint64_t seq = paused.Begin(); seq < paused.End(); ++seq)
                pausedMarks.push_back(paused.At(seq));
        }
    }
    EXPECT_GT(index.Merges(), 0u);
    EXPECT_GE(peak, HistoryBytes / TFrameIndex::BytesPerMark * 3 / 4)
        << "no more merged than asked";
    EXPECT_LE(index.ChunkCount(), index.Size() / FrameChunkSize + 2) << "merged chunks are let go";
    // Merged marks are the earlier frame's, in order; the newest are every byte.
    for (std::uint64_t seq = index.Begin() + 1; seq < index.End(); ++seq) {
        const TFrameMark mark = index.At(seq);
        ASSERT_GT(mark.Pos, index.PosAt(seq - 1));
        ASSERT_EQ(mark.TimeMs, static_cast<std::int64_t>(mark.Pos));
        ASSERT_EQ(mark.Origin, mark.Pos % 3);
    }
    const std::uint64_t last = index.PosAt(index.End() - 1);
    EXPECT_EQ(index.Find(last - 100), index.End() - 101) << "the newest frames are whole";
    std::vector<TFrameMark> kept;
    for (std::uint64_t seq = paused.Begin(); seq < paused.End(); ++seq)
        kept.push_back(paused.At(seq));
    EXPECT_EQ(kept, pausedMarks) << "a follower's marks do not change under it";
}

} // namespace
} // namespace kestrune
