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
