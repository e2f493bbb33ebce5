#pragma once

#include "common/ReadQuiet.h"
#include "exchange/SharedChunks.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrune {

// Where a frame of a history begins, when its first byte arrived (local time,
// milliseconds since the epoch) and which channel it came from (0 the main
// channel, i + 1 relay i; always 0 for sent frames).
struct TFrameMark
{
    std::uint64_t Pos = 0;
    std::int64_t TimeMs = 0;
    std::uint16_t Origin = 0;

    friend bool operator==(const TFrameMark &, const TFrameMark &) = default;
};

// Marks live in fixed-size chunks shared like the history's bytes: a mark,
// once written, never changes.
constexpr std::size_t FrameChunkSize = 4096;

struct TFrameChunk
{
    // Packed to 16 bytes a frame: the time in the low 48 bits, the origin above.
    struct TEntry
    {
        std::uint64_t Pos;
        std::uint64_t TimeOrigin;
    };
    std::uint64_t Base = 0; // sequence number of Entries[0]
    TEntry Entries[FrameChunkSize];
};

// A read-only run of frame marks in ascending byte position, addressed by a
// sequence number that is never reused. Copying shares the chunks, so a
// paused view keeps the marks of the bytes it shows.
class TFrameMarks : public TChunkRun<TFrameChunk, FrameChunkSize>
{
public:
    static constexpr std::uint64_t None = UINT64_MAX;

    // The mark with sequence number seq, in [Begin, End).
    [[nodiscard]] TFrameMark At(std::uint64_t seq) const;
    [[nodiscard]] std::uint64_t PosAt(std::uint64_t seq) const;
    // The last mark at or before byte pos (the frame that holds it), or None.
    [[nodiscard]] std::uint64_t Find(std::uint64_t pos) const;
    // The first mark after byte pos, or End.
    [[nodiscard]] std::uint64_t FindAfter(std::uint64_t pos) const;

    // How often old marks have been merged. Marks a follower took before
    // byte MergedTo may be gone since (their frames joined the one before):
    // it must build again what it built on them, and may Extend only while
    // the count is the same.
    [[nodiscard]] std::uint64_t Merges() const { return FMerges; }
    [[nodiscard]] std::uint64_t MergedTo() const { return FMergedTo; }

    // Becomes equal to source, sharing its chunks; costs the chunks changed.
    void Follow(const TFrameMarks &source);

protected:
    [[nodiscard]] const TFrameChunk::TEntry &Entry(std::uint64_t seq) const;

    std::uint64_t FMerges = 0;
    std::uint64_t FMergedTo = 0;
};

// The frame marks kept beside a bounded history: a mark per frame start,
// added as blocks arrive and trimmed with the history's front. A frame cut by
// the trim keeps its mark, so its remaining bytes still show its time.
//
// A flood of tiny frames would make the marks many times larger than the
// bytes, so the index keeps at most one mark per BytesPerMark bytes of the
// history on average: past that the oldest frames are merged in pairs (the
// earlier one's mark stays), which leaves the newest frames as they came.
// The first marks, a chunk's worth, are kept whole however few bytes the
// history holds yet: their chunk is there anyway.
class TFrameIndex : public TFrameMarks
{
public:
    static constexpr std::uint64_t BytesPerMark = 16;

    explicit TFrameIndex(std::size_t marksKeptWhole = FrameChunkSize)
        : FMarksKeptWhole(marksKeptWhole)
    {
    }

    // Notes a frame beginning at pos, which must lie past the last mark.
    void Add(const TFrameMark &mark);
    // Drops the marks of frames that lie wholly before byte begin, and merges
    // the oldest while more than one mark per BytesPerMark bytes is left
    // (and more than the marks kept whole).
    void TrimTo(std::uint64_t begin);
    void Clear();
    // The origin of the last frame, or -1 when there is none.
    [[nodiscard]] int LastOrigin() const;

private:
    // Merges the oldest marks until at most `keep` are left.
    void MergeOldest(std::size_t keep);

    std::size_t FMarksKeptWhole;
    TFrameChunk *FTail = nullptr;
};

// How a received block arrived, for cutting it into frames.
struct TBlockTiming
{
    std::uint16_t Origin = 0;
    // Null: the block is one message (a datagram, one socket read). Otherwise
    // the silences before reads within it (a serial line).
    const std::vector<TReadQuiet> *Quiet = nullptr;
    std::int64_t GapNs = 0;  // a longer silence ends a frame
    std::int64_t CharNs = 0; // one character's time on the line, 0 if unknown
    std::int64_t NowMonoNs = 0;
    std::int64_t NowWallMs = 0;
    // The block begins a frame whatever the silence before it: the frame
    // before was known whole (its check verified) and was answered.
    bool StartsFrame = false;
};

// Notes the frames of a block of `length` bytes that begins at byte `start`,
// past every mark in index. A frame begins with every message, after every
// silence longer than the gap, and wherever the origin changes, so one line
// never mixes two channels.
void NoteBlockFrames(TFrameIndex &index, std::uint64_t start, std::size_t length,
                     const TBlockTiming &timing);

} // namespace kestrune
