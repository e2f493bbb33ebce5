#pragma once

#include "app/view/TextCells.h"
#include "exchange/BoundedHistory.h"
#include "exchange/FrameIndex.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace kestrune {

// One display row: the text positions [Start, End) it shows. Break is true
// when a line break (LF, CR LF or a lone CR) follows the row.
struct TRowSpan
{
    TTextPos Start = 0;
    TTextPos End = 0;
    bool Break = false;

    friend bool operator==(const TRowSpan &, const TRowSpan &) = default;
};

// Where the wrap stands in the row under way.
struct TWrapState
{
    TTextPos RowStart = 0;
    std::uint32_t Col = 0;
    TTextPos BreakPos = 0; // after the last blank of the row
    std::uint32_t ColAtBreak = 0;
    bool HasBreak = false;
    bool AfterCr = false; // the row began right after a CR: an LF joins that break
};

// The wrap of a text editor over the text of history bytes, at a width in
// characters: a row is cut after the last blank that fits (a blank just past
// the edge hangs there), a word longer than a row in whole characters. In
// Character mode CR, LF and CR LF end lines; with frames each frame starts a
// row of its own.
class TRowWrap
{
public:
    using TEmit = std::function<bool(const TRowSpan &)>;

    // Null frames: one stream.
    TRowWrap(const THistoryBytes &bytes, const TTextCells &cells, const TFrameMarks *frames,
             std::size_t width);

    // Feeds the characters from pos up to byte `toByte` through the wrap; emit
    // gets every row that ends and may stop the feed by returning false.
    void Feed(TWrapState &state, TTextPos pos, std::uint64_t toByte, const TEmit &emit) const;

private:
    const THistoryBytes &FBytes;
    const TTextCells &FCells;
    const TFrameMarks *FFrames;
    std::uint32_t FWidth;
};

} // namespace kestrune
