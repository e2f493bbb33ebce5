#include "exchange/BoundedHistory.h"

#include <algorithm>
#include <cstring>

namespace kestrune {

namespace {

// How many old bytes may stay in front of a block of `blockSize` bytes; zero or
// negative means none. Computed in 64 bits so no limit or length can overflow it.
std::int64_t KeepCount(std::size_t blockSize, std::int32_t bufSize)
{
    return static_cast<std::int64_t>(bufSize) - static_cast<std::int64_t>(blockSize);
}

} // namespace

void BoundedAppend(ByteString &history, std::string_view block, std::int32_t bufSize)
{
    const std::int64_t keep = KeepCount(block.size(), bufSize);
    const auto length = static_cast<std::int64_t>(history.size());
    if (length < keep) {
        history.append(block);
        return;
    }
    if (keep <= 0)
        history.clear();
    else
        history.erase(0, static_cast<std::size_t>(length - keep));
    history.append(block);
}

ByteString THistoryBytes::Copy(std::uint64_t from, std::uint64_t to) const
{
    ByteString bytes;
    if (from < to)
        bytes.reserve(static_cast<std::size_t>(to - from));
    ForEachPiece(from, to, [&](const char *data, std::size_t n) { bytes.append(data, n); });
    return bytes;
}

void THistoryBytes::Follow(const THistoryBytes &source)
{
    FBegin = source.FBegin;
    FEnd = source.FEnd;
    if (source.FChunks.empty()) {
        FChunks.clear();
        return;
    }
    const std::uint64_t firstBase = source.FChunks.front()->Base;
    while (!FChunks.empty() && FChunks.front()->Base < firstBase)
        FChunks.pop_front();
    const std::size_t shared = FChunks.size();
    // What is left must be a prefix of the source's chunks; anything else (a
    // different history) is taken over whole.
    if (shared == 0 || shared > source.FChunks.size() ||
        FChunks.front() != source.FChunks.front() || FChunks.back() != source.FChunks[shared - 1]) {
        FChunks = source.FChunks;
        return;
    }
    for (std::size_t i = shared; i < source.FChunks.size(); ++i)
        FChunks.push_back(source.FChunks[i]);
}

void THistoryBytes::Extend(const THistoryBytes &source)
{
    FEnd = source.FEnd;
    if (FChunks.empty()) {
        FChunks = source.FChunks;
        FBegin = source.FBegin;
        return;
    }
    if (source.FChunks.empty())
        return;
    const std::uint64_t lastBase = FChunks.back()->Base;
    const std::uint64_t sourceFirst = source.FChunks.front()->Base;
    std::size_t i = lastBase >= sourceFirst ? (lastBase - sourceFirst) / HistoryChunkSize + 1 : 0;
    for (; i < source.FChunks.size(); ++i)
        FChunks.push_back(source.FChunks[i]);
}

void THistoryBytes::Reset()
{
    FChunks.clear();
    FBegin = FEnd;
}

void TBoundedHistory::Append(std::string_view block, std::int32_t bufSize)
{
    const std::int64_t keep = KeepCount(block.size(), bufSize);
    const auto live = static_cast<std::int64_t>(Size());
    if (live >= keep)
        DropFront(static_cast<std::uint64_t>(live - std::max<std::int64_t>(keep, 0)));
    while (!block.empty()) {
        if (!FTail || FEnd - FTail->Base == HistoryChunkSize) {
            // Every byte of a chunk is written before it is read: no zeroing.
            auto chunk =
                FSpare ? std::move(FSpare) : std::make_shared_for_overwrite<THistoryChunk>();
            chunk->Base = FEnd;
            FTail = chunk.get();
            FChunks.push_back(std::move(chunk));
        }
        const std::size_t at = static_cast<std::size_t>(FEnd - FTail->Base);
        const std::size_t n = std::min(block.size(), HistoryChunkSize - at);
        std::memcpy(FTail->Bytes + at, block.data(), n);
        FEnd += n;
        block.remove_prefix(n);
    }
}

void TBoundedHistory::DropFront(std::uint64_t count)
{
    FBegin += count;
    if (FBegin == FEnd) {
        // Nothing old survives: the next byte starts a fresh chunk.
        Clear();
        return;
    }
    while (FChunks.front()->Base + HistoryChunkSize <= FBegin) {
        // Only a chunk no view shares may be written again.
        if (!FSpare && FChunks.front().use_count() == 1)
            FSpare = std::const_pointer_cast<THistoryChunk>(FChunks.front());
        FChunks.pop_front();
    }
}

void TBoundedHistory::Clear()
{
    Reset();
    FTail = nullptr;
}

} // namespace kestrune
