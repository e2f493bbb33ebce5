#pragma once

#include "codec/ByteString.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrune {

// Appends `block` to `history` so that the most recent `bufSize` bytes survive:
// the last (bufSize - block length) old bytes, if any, then the whole block. A
// block longer than the limit replaces the history and stays whole. This is the
// plain rule; TBoundedHistory gives the same result without moving the kept
// bytes on every append.
void BoundedAppend(ByteString &history, std::string_view block, std::int32_t bufSize);

// A send or receive history under a size limit that may change between appends.
// Trimming only advances a start offset; the dead prefix is dropped once it
// outgrows the live bytes, so each byte is moved O(1) times on average however
// small the blocks are.
class TBoundedHistory
{
public:
    // The limit is read at each append, so lowering it cuts the history only then.
    void Append(std::string_view block, std::int32_t bufSize);
    void Clear();

    // The kept bytes, oldest first. Valid until the next Append or Clear.
    [[nodiscard]] std::string_view View() const { return std::string_view(FBuffer).substr(FStart); }
    [[nodiscard]] ByteString Bytes() const { return ByteString(View()); }
    [[nodiscard]] std::size_t Size() const { return FBuffer.size() - FStart; }
    [[nodiscard]] bool Empty() const { return Size() == 0; }

private:
    ByteString FBuffer;
    std::size_t FStart = 0;
};

} // namespace kestrune
