#pragma once

#include "codec/ByteString.h"

#include <string_view>

namespace kestrune {

// The command list's wait for an expected reply from the main channel. It
// answers exactly as searching all bytes received since the wait began would,
// but keeps only the tail that a match could still start in, so a long wait on
// a busy channel costs neither memory nor a search of everything seen so far.
class TReplyMatcher
{
public:
    // Starts a wait for `expected`, forgetting everything fed before.
    void Begin(ByteString expected);
    // Ends the wait; later blocks are ignored until the next Begin.
    void Cancel();

    // Feeds one received block. True when the expected bytes have now arrived,
    // possibly split over several blocks; the wait then ends. An empty expected
    // reply is never found.
    [[nodiscard]] bool Feed(std::string_view block);

    [[nodiscard]] bool Waiting() const { return FWaiting; }
    [[nodiscard]] const ByteString &Expected() const { return FExpected; }

private:
    ByteString FExpected;
    // The last bytes received during the wait, fewer than the expected length.
    ByteString FTail;
    bool FWaiting = false;
};

} // namespace kestrune
