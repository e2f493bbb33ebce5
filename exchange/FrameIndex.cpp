#include "exchange/FrameIndex.h"
#include "exchange/SharedChunks.h"

#include <algorithm>

namespace kestrune {

namespace {

constexpr std::uint64_t TimeMask = (std::uint64_t(1) << 48) - 1;

TFrameMark Unpack(const TFrameChunk::TEntry &entry)
{
    // The time is kept as 48 bits two's complement: about 4,000 years either way.
    std::int64_t time = static_cast<std::int64_t>(entry.TimeOrigin & TimeMask);
    if (time & (std::int64_t(1) << 47))
        time -= std::int64_t(1) << 48;
    return {entry.Pos, time, static_cast<std::uint16_t>(entry.TimeOrigin >> 48)};
}

} // namespace

const TFrameChunk::TEntry &TFrameMarks::Entry(std::uint64_t seq) const
{
    const std::uint64_t rel = seq - FChunks.front()->Base;
    return FChunks[rel / FrameChunkSize]->Entries[rel % FrameChunkSize];
}

TFrameMark TFrameMarks::At(std::uint64_t seq) const
{
    return Unpack(Entry(seq));
}

std::uint64_t TFrameMarks::PosAt(std::uint64_t seq) const
{
    return Entry(seq).Pos;
}

std::uint64_t TFrameMarks::FindAfter(std::uint64_t pos) const
{
    std::uint64_t lo = FBegin;
    std::uint64_t hi = FEnd;
    while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        if (PosAt(mid) <= pos)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::uint64_t TFrameMarks::Find(std::uint64_t pos) const
{
    const std::uint64_t after = FindAfter(pos);
    return after == FBegin ? None : after - 1;
}

void TFrameMarks::Follow(const TFrameMarks &source)
{
    FBegin = source.FBegin;
    FEnd = source.FEnd;
    FollowChunks(FChunks, source.FChunks);
}

void TFrameMarks::Extend(const TFrameMarks &source)
{
    FEnd = source.FEnd;
    if (FChunks.empty()) {
        FChunks = source.FChunks;
        FBegin = source.FBegin;
        return;
    }
    ExtendChunks(FChunks, source.FChunks, FrameChunkSize);
}

void TFrameMarks::Reset()
{
    FChunks.clear();
    FBegin = FEnd;
}

void TFrameIndex::Add(const TFrameMark &mark)
{
    if (!FTail || FEnd - FTail->Base == FrameChunkSize) {
        auto chunk = std::make_shared<TFrameChunk>();
        chunk->Base = FEnd;
        FTail = chunk.get();
        FChunks.push_back(std::move(chunk));
    }
    FTail->Entries[FEnd - FTail->Base] = {mark.Pos,
                                          (static_cast<std::uint64_t>(mark.TimeMs) & TimeMask) |
                                              (static_cast<std::uint64_t>(mark.Origin) << 48)};
    ++FEnd;
}

void TFrameIndex::TrimTo(std::uint64_t begin)
{
    while (FEnd - FBegin > 1 && PosAt(FBegin + 1) <= begin)
        ++FBegin;
    while (!FChunks.empty() && FChunks.front()->Base + FrameChunkSize <= FBegin)
        FChunks.pop_front();
    if (FChunks.empty())
        FTail = nullptr;
}

void TFrameIndex::Clear()
{
    Reset();
    FTail = nullptr;
}

int TFrameIndex::LastOrigin() const
{
    return Empty() ? -1 : At(FEnd - 1).Origin;
}

void NoteBlockFrames(TFrameIndex &index, std::uint64_t start, std::size_t length,
                     const TBlockTiming &timing)
{
    if (length == 0)
        return;
    if (!timing.Quiet) {
        index.Add({start, timing.NowWallMs, timing.Origin});
        return;
    }
    const auto wallOf = [&](std::int64_t readNs) {
        return timing.NowWallMs - (timing.NowMonoNs - readNs) / 1'000'000;
    };
    // A read comes at least one character after the line fell silent.
    const auto parts = [&](const TReadQuiet &quiet) {
        return quiet.QuietNs == ReadQuietForever || quiet.QuietNs - timing.CharNs > timing.GapNs;
    };
    const std::vector<TReadQuiet> &quiet = *timing.Quiet;
    const TReadQuiet *first =
        !quiet.empty() && quiet.front().Offset == 0 ? &quiet.front() : nullptr;
    // Bytes that do not go on a frame of their own channel start one.
    if (index.LastOrigin() != timing.Origin || (first && parts(*first)))
        index.Add({start, first ? wallOf(first->ReadNs) : timing.NowWallMs, timing.Origin});
    for (const TReadQuiet &q : quiet)
        if (q.Offset > 0 && q.Offset < length && parts(q))
            index.Add({start + q.Offset, wallOf(q.ReadNs), timing.Origin});
}

} // namespace kestrune
