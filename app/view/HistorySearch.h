#pragma once

#include "codec/ByteString.h"
#include "exchange/BoundedHistory.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace kestrune {

// Every occurrence of a byte pattern in a history, found a slice at a time so
// a caller can run it between turns of the event loop. Matches do not overlap
// and are kept as the byte positions they start at, ascending; they follow
// the history as it grows (new bytes are searched on later steps) and is
// trimmed (matches that lose their first byte are dropped).
//
// At most MaxMatches are kept: a search that finds one more stops there,
// Capped, as an editor says "more than N matches", and goes on when the
// trim has dropped some of the first ones.
class THistorySearch
{
public:
    // Bytes looked at per step by default: a few milliseconds of work.
    static constexpr std::size_t StepBytes = 4u << 20;
    // More than a person steps through; 800 KB of positions.
    static constexpr std::size_t MaxMatches = 100'000;

    void Start(const THistoryBytes &bytes, ByteString pattern);
    void Stop();
    [[nodiscard]] bool Active() const { return !FPattern.empty(); }
    [[nodiscard]] std::size_t PatternSize() const { return FPattern.size(); }

    // Takes in what was appended and trimmed since the last call.
    void Follow(const THistoryBytes &bytes);
    // Searches up to `budget` more bytes; true once every byte is searched.
    bool Step(std::size_t budget = StepBytes);
    // Every byte is searched, or the search is capped.
    [[nodiscard]] bool Done() const;
    // More matches than MaxMatches were found.
    [[nodiscard]] bool Capped() const { return FCapped; }

    [[nodiscard]] const std::deque<std::uint64_t> &Matches() const { return FMatches; }
    // The first match starting after byte `after` (wrapping to the first), or
    // the last starting before `before` (wrapping to the last); UINT64_MAX when
    // there is none.
    [[nodiscard]] std::uint64_t NextAfter(std::uint64_t after, bool orAt) const;
    [[nodiscard]] std::uint64_t PrevBefore(std::uint64_t before) const;

private:
    // Where the next start can be: nothing before it is left to search.
    [[nodiscard]] std::uint64_t From() const;

    THistoryBytes FBytes;
    ByteString FPattern;
    std::deque<std::uint64_t> FMatches;
    std::uint64_t FScanned = 0;   // every start before this has been tried
    std::uint64_t FNextStart = 0; // the end of the last match: no overlap
    bool FCapped = false;
    std::string FScratch;
};

} // namespace kestrune
