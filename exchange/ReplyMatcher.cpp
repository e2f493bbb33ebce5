#include "exchange/ReplyMatcher.h"

#include <algorithm>
#include <utility>

namespace kestrune {

void TReplyMatcher::Begin(ByteString expected)
{
    FExpected = std::move(expected);
    FTail.clear();
    FWaiting = true;
}

void TReplyMatcher::Cancel()
{
    FWaiting = false;
    FTail.clear();
}

bool TReplyMatcher::Feed(std::string_view block)
{
    if (!FWaiting || FExpected.empty())
        return false;
    // A match not found before must end inside this block, so it starts at most
    // (expected length - 1) bytes before it.
    FTail.append(block);
    if (FTail.find(FExpected) != ByteString::npos) {
        Cancel();
        return true;
    }
    const std::size_t keep = std::min(FTail.size(), FExpected.size() - 1);
    FTail.erase(0, FTail.size() - keep);
    return false;
}

} // namespace kestrune
