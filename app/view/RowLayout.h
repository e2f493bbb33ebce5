#pragma once

#include "app/view/RowWrap.h"
#include "app/view/TextCells.h"
#include "exchange/BoundedHistory.h"
#include "exchange/FrameIndex.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>

namespace kestrune {

// The rows of FormatData(history) wrapped at a number of columns as a text
// editor wraps: after the last blank that fits (a blank just past the edge
// hangs there), a word longer than a row cut in whole characters. In Character
// mode CR, LF and CR LF end lines.
//
// Rows are cut from where the layout was last built (Reset, or a history that
// was cleared), and keep their places while the front is trimmed: the first
// row then shows what is left of it. That is what lets a trim cost only the
// bytes dropped.
//
// Costs: Follow costs the bytes appended and dropped since the last call. Hex
// rows are pure arithmetic; Character and Mixed rows are found from a start
// recorded every RowsPerMark rows, so a row costs at most that many rows of
// wrapping.
//
// A long history is not laid out whole at once: where a row ends can depend on
// every character before it (Mixed text has no line breaks), so a walk from the
// start would cost the whole history at each change of representation or
// width. Reset lays out only the end, from a place within the last LazyBytes
// where a row starts anyway (after a line break, or at a frame) or, failing
// that, halfway, and leaves the rows before it, the head, to Step. The head's
// rows are cut from the anchor as always; its last row ends where the end part
// begins, which changes nothing at a line break or a frame and elsewhere may
// end that one row early. A trim past what the head has laid out cuts its rows
// afresh from the new front. Until the head is laid out RowCount counts its
// rest from its bytes; every row visited is exact, and EnsureRows lays the
// head out as far as the rows about to be shown.
class TRowLayout
{
public:
    static constexpr std::size_t RowsPerMark = 64;
    static constexpr std::size_t DefaultLazyBytes = 256 * 1024;

    TRowLayout();

    // Lays the history out afresh in this representation and width (0 acts as 1).
    void Reset(const THistoryBytes &bytes, TDataMode mode, char escChar, std::size_t columns,
               TEncoding encoding = TEncoding::Latin1);
    // Lays out frames: each frame (from frames) starts a row, and frame rows
    // leave `indent` columns free at their left. Null frames: one stream, as
    // Reset alone lays it out. Takes effect at the next Reset.
    void SetFrames(const TFrameMarks *frames, std::size_t indent);
    [[nodiscard]] bool Framed() const { return FFramed; }
    [[nodiscard]] std::size_t Indent() const { return FFramed ? FIndent : 0; }
    [[nodiscard]] const TFrameMarks &Frames() const { return FFrames; }
    void SetColumns(std::size_t columns);
    // Takes in what was appended and trimmed since the last call. A history
    // whose old bytes are all gone (cleared) is laid out afresh. Framed, the
    // frames are followed too; they must be those of bytes.
    void Follow(const THistoryBytes &bytes, const TFrameMarks *frames = nullptr);
    void Clear();

    // Histories longer than this are laid out lazily (tests use small values).
    void SetLazyBytes(std::size_t bytes) { FLazyBytes = std::max<std::size_t>(bytes, 1); }
    // Rows still to be laid out before the head is done.
    [[nodiscard]] bool Pending() const { return HeadActive() && FHead.ScannedTo < FSeam; }
    // Lays out about `bytes` more of the head; true while some is left.
    bool Step(std::size_t bytes);
    // Lays the head out through rows [first, first + count); true when that
    // changed the row count or numbering.
    bool EnsureRows(std::size_t first, std::size_t count);
    // Lays the head out through pos, so that RowOf(pos) is exact.
    bool EnsurePos(TTextPos pos);
    // Where the laid-out part began (the head ends there), or None.
    [[nodiscard]] std::uint64_t Seam() const { return HeadActive() ? FSeam : None; }
    static constexpr std::uint64_t None = UINT64_MAX;
    // The byte the first rows are cut from.
    [[nodiscard]] std::uint64_t Anchor() const { return FAnchorByte; }

    [[nodiscard]] const THistoryBytes &Bytes() const { return FBytes; }
    [[nodiscard]] const TTextCells &Cells() const { return FCells; }
    [[nodiscard]] std::size_t Columns() const { return FColumns; }
    [[nodiscard]] TTextPos TextBegin() const { return FCells.TextBegin(FBytes); }
    [[nodiscard]] TTextPos TextEnd() const { return FCells.TextEnd(FBytes); }
    // The end of the bytes laid out: a character still missing bytes waits.
    [[nodiscard]] std::uint64_t DataEnd() const { return FCells.DataEnd(FBytes); }

    // Always at least 1: an empty text, or one ending in a line break, has an
    // empty last row where the next character would go.
    [[nodiscard]] std::size_t RowCount() const;
    [[nodiscard]] TRowSpan Row(std::size_t row) const;
    // Visits rows [first, first + count) in order, stopping at the last row or
    // when visit returns false; the cost is one row lookup plus the rows visited.
    void VisitRows(std::size_t first, std::size_t count,
                   const std::function<bool(const TRowSpan &)> &visit) const;
    // The row that shows the caret placed at pos: a position inside a line
    // break belongs to the row the break ends, one at a wrap point to the row
    // that starts there.
    [[nodiscard]] std::size_t RowOf(TTextPos pos) const;

private:
    // Where a walk over the rows may begin: a row, where the wrap stands there.
    struct TOrigin
    {
        std::uint64_t Row = 0;
        TTextPos Pos = 0;
        TWrapState State;
    };
    // Visits absolute rows from origin.Row on, unclipped, ending with the
    // unfinished last row; visit returns false to stop.
    using TRowVisit = std::function<bool(std::uint64_t, const TRowSpan &)>;

    struct TMark
    {
        std::uint64_t Row = 0;
        TTextPos Pos = 0;
    };
    // Rows cut from one start. The first row is walked from First, the wrap
    // as it stood at TextBegin; later rows from a mark, the start of every
    // RowsPerMark-th row. LeadingBreak: the text starts with the LF of a CR LF
    // whose CR was trimmed, so the first row is that empty, broken line.
    // Rows are counted from the chain's start; bytes up to Limit belong to it.
    struct TChain
    {
        std::uint64_t FirstRow = 0; // the row that holds the chain's first shown character
        TOrigin First;
        bool LeadingBreak = false;
        std::deque<TMark> Marks;
        std::uint64_t EndedRows = 0; // rows ended so far
        TWrapState Last;             // the wrap at the end of the scanned bytes
        std::uint64_t ScannedTo = 0;
        std::uint64_t Limit = UINT64_MAX;
    };

    // Hex rows are arithmetic unless frames cut them.
    [[nodiscard]] bool IsHex() const { return FCells.Mode() == dmHex && !FFramed; }
    [[nodiscard]] bool HeadActive() const { return FSeam != None; }
    [[nodiscard]] std::size_t DataColumns() const;
    [[nodiscard]] TRowWrap Wrap() const
    {
        return TRowWrap(FBytes, FCells, FFramed ? &FFrames : nullptr, DataColumns());
    }
    void Rebuild();
    // joinCr: an LF at `at` joins a CR before it into one break.
    void StartChain(TChain &chain, std::uint64_t at, std::uint64_t limit, bool joinCr) const;
    // A byte at or before `from` (and not far) where a fresh row starts anyway.
    [[nodiscard]] std::uint64_t SyncPoint(std::uint64_t from) const;
    void Scan(TChain &chain, std::uint64_t to) const;
    void MoveFirstRow(TChain &chain, std::uint64_t newBegin) const;
    // Moves origin to the next row: its row wrapped at rowEnd, at or before it.
    static void SkipWrappedRow(TOrigin &origin, TTextPos rowEnd);
    [[nodiscard]] std::uint64_t ChainEnd(const TChain &chain) const;
    [[nodiscard]] TOrigin OriginForRow(const TChain &chain, std::uint64_t row) const;
    [[nodiscard]] TOrigin OriginForPos(const TChain &chain, TTextPos pos) const;
    // Visits the chain's rows from origin.Row on, unclipped, ending with its
    // unfinished last row (none for a head that ends with a whole row).
    void Walk(const TChain &chain, const TOrigin &origin, const TRowVisit &visit) const;
    // Visits the chain's rows from `row` (counted from its FirstRow) on.
    bool VisitChain(const TChain &chain, std::uint64_t row,
                    const std::function<bool(const TRowSpan &)> &visit) const;
    // The chain's row (from its FirstRow) whose start is at or before pos.
    [[nodiscard]] std::uint64_t FindRow(const TChain &chain, TTextPos pos) const;
    // Rows from the chain's first row on that have ended.
    [[nodiscard]] static std::uint64_t KnownRows(const TChain &chain);
    [[nodiscard]] std::uint64_t HeadRows() const;
    [[nodiscard]] std::uint64_t MainRows() const;
    [[nodiscard]] TRowSpan Clipped(TRowSpan span) const;
    // Hex: bytes per row; 0 means two rows per byte, for a one-column view.
    [[nodiscard]] std::uint64_t HexRowBytes() const;
    [[nodiscard]] TRowSpan HexRow(std::uint64_t row) const;
    [[nodiscard]] std::uint64_t HexRowOf(TTextPos pos) const;

    THistoryBytes FBytes;
    bool FFramed = false;
    std::size_t FIndent = 0;
    TFrameMarks FFrames;
    TTextCells FCells;
    std::size_t FColumns = 1;
    std::size_t FLazyBytes = DefaultLazyBytes;
    std::uint64_t FAnchorByte = 0; // where the first rows are cut from
    std::uint64_t FFirstRow = 0;   // Hex: the row (counted from the anchor) that holds TextBegin

    // Character and Mixed: the head [TextBegin, FSeam), when there is one,
    // then the main chain from FSeam (or from the anchor) to the end.
    std::uint64_t FSeam = None;
    TChain FHead;
    TChain FMain;
};

} // namespace kestrune
