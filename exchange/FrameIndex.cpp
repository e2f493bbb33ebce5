#include "exchange/FrameIndex.h"

#include <algorithm>
#include <memory>

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
    TChunkRun::Follow(source);
    FMerges = source.FMerges;
    FMergedTo = source.FMergedTo;
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
    if (FChunks.empty()) {
        FTail = nullptr;
        return;
    }
    // The cut frame's mark, and one for every BytesPerMark bytes (or part)
    // from begin up to the last frame's first byte.
    const std::uint64_t last = PosAt(FEnd - 1);
    const std::uint64_t allowed = std::max<std::uint64_t>(
        FMarksKeptWhole, 1 + (last >= begin ? (last - begin + BytesPerMark) / BytesPerMark : 0));
    // Down to a quarter under the bound, so that merges come in batches
    // rather than one for every frame of a flood.
    if (Size() > allowed)
        MergeOldest(static_cast<std::size_t>(allowed - allowed / 4));
}

void TFrameIndex::MergeOldest(std::size_t keep)
{
    const std::size_t count = Size();
    // The oldest marks are merged in pairs, and the result again while that
    // is not enough (only a sharp fall of the bound needs it).
    const std::size_t region = std::min(count, 2 * (count - keep));
    std::vector<TFrameChunk::TEntry> merged;
    merged.reserve(region / 2 + 1);
    for (std::uint64_t seq = FBegin; seq < FBegin + region; seq += 2)
        merged.push_back(Entry(seq));
    while (merged.size() > 1 && merged.size() + (count - region) > keep) {
        std::size_t out = 0;
        for (std::size_t i = 0; i < merged.size(); i += 2)
            merged[out++] = merged[i];
        merged.resize(out);
    }
    // The merged marks take the sequence numbers just before the untouched ones.
    const std::uint64_t untouched = FBegin + region;
    FMergedTo = std::max(FMergedTo, untouched < FEnd ? PosAt(untouched) : PosAt(FEnd - 1) + 1);
    ++FMerges;
    const std::uint64_t newBegin = untouched - merged.size();
    // Followers may hold the old chunks: the merged marks go into copies.
    const std::uint64_t base = FChunks.front()->Base;
    for (std::uint64_t c = (newBegin - base) / FrameChunkSize;
         c <= (untouched - 1 - base) / FrameChunkSize; ++c) {
        auto copy = std::make_shared<TFrameChunk>(*FChunks[c]);
        const std::uint64_t from = std::max(newBegin, copy->Base);
        const std::uint64_t to = std::min(untouched, copy->Base + FrameChunkSize);
        for (std::uint64_t seq = from; seq < to; ++seq)
            copy->Entries[seq - copy->Base] = merged[seq - newBegin];
        if (FTail == FChunks[c].get())
            FTail = copy.get();
        FChunks[c] = std::move(copy);
    }
    FBegin = newBegin;
    while (FChunks.front()->Base + FrameChunkSize <= FBegin)
        FChunks.pop_front();
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
    if (index.LastOrigin() != timing.Origin || timing.StartsFrame || (first && parts(*first)))
        index.Add({start, first ? wallOf(first->ReadNs) : timing.NowWallMs, timing.Origin});
    for (const TReadQuiet &q : quiet)
        if (q.Offset > 0 && q.Offset < length && parts(q))
            index.Add({start + q.Offset, wallOf(q.ReadNs), timing.Origin});
}

} // namespace kestrune
