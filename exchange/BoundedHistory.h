#pragma once

#include "codec/ByteString.h"
#include "exchange/SharedChunks.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace kestrune {

// Appends `block` to `history` so that the most recent `bufSize` bytes survive:
// the last (bufSize - block length) old bytes, if any, then the whole block. A
// block longer than the limit replaces the history and stays whole. This is the
// plain rule; TBoundedHistory gives the same result without moving kept bytes.
void BoundedAppend(ByteString &history, std::string_view block, std::int32_t bufSize);

// Bytes of a history live in fixed-size chunks. A byte, once written, never
// changes, so a chunk can be shared by the history and by views of it.
constexpr std::size_t HistoryChunkSize = 64 * 1024;

struct THistoryChunk
{
    std::uint64_t Base = 0; // stream position of Bytes[0]
    char Bytes[HistoryChunkSize];
};

// A read-only run of history bytes, addressed by stream position: positions
// count every byte appended since the history was made and are never reused,
// so a position names the same byte for as long as anyone holds it. Copying
// one shares the chunks; a paused view keeps its bytes alive that way.
class THistoryBytes : public TChunkRun<THistoryChunk, HistoryChunkSize>
{
public:
    // The byte at pos, which must lie in [Begin, End).
    [[nodiscard]] unsigned char At(std::uint64_t pos) const
    {
        const std::uint64_t rel = pos - FChunks.front()->Base;
        return static_cast<unsigned char>(
            FChunks[rel / HistoryChunkSize]->Bytes[rel % HistoryChunkSize]);
    }

    // Hands [from, to) to sink(const char *, std::size_t) in contiguous pieces,
    // oldest first; the range is clamped to [Begin, End).
    template <typename TSink>
    void ForEachPiece(std::uint64_t from, std::uint64_t to, TSink &&sink) const
    {
        from = from < FBegin ? FBegin : from;
        to = to > FEnd ? FEnd : to;
        while (from < to) {
            const std::uint64_t rel = from - FChunks.front()->Base;
            const std::size_t at = rel % HistoryChunkSize;
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(to - from, HistoryChunkSize - at));
            sink(FChunks[rel / HistoryChunkSize]->Bytes + at, n);
            from += n;
        }
    }

    [[nodiscard]] ByteString Copy(std::uint64_t from, std::uint64_t to) const;
    // All kept bytes, oldest first.
    [[nodiscard]] ByteString Bytes() const { return Copy(FBegin, FEnd); }
};

// A send or receive history under a size limit that may change between appends.
// Appending copies the block once; trimming the front advances Begin and
// releases whole chunks, so neither touches the bytes that are kept.
class TBoundedHistory : public THistoryBytes
{
public:
    // The limit is read at each append, so lowering it cuts the history only then.
    void Append(std::string_view block, std::int32_t bufSize);
    // Empties the history; positions go on from where they were.
    void Clear();

private:
    void DropFront(std::uint64_t count);

    THistoryChunk *FTail = nullptr; // the last chunk, still being filled
    // A dropped chunk that nobody else held, kept for the next one: a flood
    // through a small history would otherwise allocate, fault in and free
    // 64 KiB every 64 KiB.
    std::shared_ptr<THistoryChunk> FSpare;
};

} // namespace kestrune
