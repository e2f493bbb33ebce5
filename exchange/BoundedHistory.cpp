#include "exchange/BoundedHistory.h"

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

void TBoundedHistory::Append(std::string_view block, std::int32_t bufSize)
{
    const std::int64_t keep = KeepCount(block.size(), bufSize);
    const std::size_t live = Size();
    if (static_cast<std::int64_t>(live) >= keep) {
        if (keep <= 0) {
            // Nothing old survives: start afresh rather than carrying a dead prefix.
            FBuffer.assign(block);
            FStart = 0;
            return;
        }
        FStart += live - static_cast<std::size_t>(keep);
        // Compact once the dead prefix is larger than what is kept: the copy is
        // paid for by the bytes that became dead since the last compaction.
        if (FStart > FBuffer.size() - FStart) {
            FBuffer.erase(0, FStart);
            FStart = 0;
        }
    }
    FBuffer.append(block);
}

void TBoundedHistory::Clear()
{
    FBuffer.clear();
    FStart = 0;
}

} // namespace kestrune
