#include "exchange/FrameIndex.h"

#include <gtest/gtest.h>

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
        if (!c.message && !starts.empty() && starts.back() == 106)
            EXPECT_EQ(index.At(index.End() - 1).TimeMs, 1'000'000 - 40) << "read 40 ms ago";
    }
}

TEST(FrameIndexTest, TrimsKeepTheCutFrameAndFollowersShareChunks)
{
    TFrameIndex index;
    for (std::uint64_t i = 0; i < 3 * FrameChunkSize; ++i)
        index.Add({i * 10, static_cast<std::int64_t>(i) - 5, static_cast<std::uint16_t>(i % 7)});
    TFrameMarks paused;
    paused.Follow(index);
    index.TrimTo(FrameChunkSize * 10 * 2 + 5); // inside frame 2 * chunk
    EXPECT_EQ(index.Begin(), 2 * FrameChunkSize) << "the cut frame keeps its mark";
    EXPECT_EQ(index.At(index.Begin()),
              (TFrameMark{FrameChunkSize * 20, 2 * FrameChunkSize - 5,
                          static_cast<std::uint16_t>(2 * FrameChunkSize % 7)}));
    EXPECT_EQ(index.Find(FrameChunkSize * 20 + 9), index.Begin());
    EXPECT_EQ(index.Find(0), TFrameMarks::None) << "trimmed away";
    EXPECT_EQ(index.FindAfter(FrameChunkSize * 20), index.Begin() + 1);
    EXPECT_EQ(paused.Find(15), 1u) << "a follower keeps what it holds";
    EXPECT_EQ(paused.At(0).TimeMs, -5) << "times before the epoch survive the packing";
    index.Add({FrameChunkSize * 40, 9, 1});
    paused.Follow(index);
    EXPECT_EQ(paused.Begin(), index.Begin());
    EXPECT_EQ(paused.At(paused.End() - 1), (TFrameMark{FrameChunkSize * 40, 9, 1}));
    index.Clear();
    EXPECT_EQ(index.LastOrigin(), -1);
}

} // namespace
} // namespace kestrune
