#include "app/view/RowLayout.h"

#include <algorithm>

namespace kestrune {

TRowLayout::TRowLayout() : FCells(dmHex, '{') {}

void TRowLayout::Reset(const THistoryBytes &bytes, TDataMode mode, char escChar,
                       std::size_t columns)
{
    FBytes.Follow(bytes);
    FCells = TTextCells(mode, escChar);
    FColumns = std::max<std::size_t>(columns, 1);
    Rebuild();
}

void TRowLayout::SetFrames(const TFrameMarks *frames, std::size_t indent)
{
    FFramed = frames != nullptr;
    FIndent = indent;
    if (frames)
        FFrames.Follow(*frames);
    else
        FFrames.Reset();
}

std::size_t TRowLayout::DataColumns() const
{
    return FFramed && FColumns > FIndent ? FColumns - FIndent : FFramed ? 1 : FColumns;
}

void TRowLayout::SetColumns(std::size_t columns)
{
    columns = std::max<std::size_t>(columns, 1);
    if (columns == FColumns)
        return;
    FColumns = columns;
    Rebuild();
}

void TRowLayout::Clear()
{
    FBytes.Reset();
    Rebuild();
}

void TRowLayout::Rebuild()
{
    FAnchorByte = FBytes.Begin();
    FFirstRow = 0;
    FLeadingBreak = false;
    FMarks.clear();
    FEndedRows = 0;
    FLast = TWrapState{};
    FLast.RowStart = TextBegin();
    FFirst = TOrigin{0, TextBegin(), FLast};
    FScannedTo = FBytes.Begin();
    if (!IsHex())
        ScanNewBytes();
}

void TRowLayout::Follow(const THistoryBytes &bytes, const TFrameMarks *frames)
{
    const bool framed = FFramed && frames;
    // Old bytes all gone (a clear, or one block over the limit): start afresh,
    // as the rows of what was shown mean nothing for what comes now.
    if (bytes.Begin() >= FBytes.End() || bytes.Begin() < FBytes.Begin() ||
        bytes.End() < FBytes.End()) {
        FBytes.Follow(bytes);
        if (framed)
            FFrames.Follow(*frames);
        Rebuild();
        return;
    }
    // Trimmed bytes (and their frames) are still needed to walk to the new
    // first row, so the front is let go only at the end.
    FBytes.Extend(bytes);
    if (framed)
        FFrames.Extend(*frames);
    if (IsHex()) {
        FBytes.Follow(bytes);
        FFirstRow = HexRowOf(TextBegin());
        return;
    }
    ScanNewBytes();
    if (bytes.Begin() > FBytes.Begin())
        MoveFirstRow(bytes.Begin());
    FBytes.Follow(bytes);
    if (framed)
        FFrames.Follow(*frames);
}

void TRowLayout::Feed(TWrapState &state, TTextPos pos, std::uint64_t toByte,
                      const TEmit &emit) const
{
    const bool lines = FCells.Mode() == dmCharacter;
    const auto width = static_cast<std::uint32_t>(DataColumns());
    std::uint64_t byte = ByteOfPos(pos);
    unsigned sub = static_cast<unsigned>(pos % 4);
    bool going = true;
    // The next frame start at or after the first whole byte fed.
    std::uint64_t frame = TFrameMarks::None;
    std::uint64_t frameStart = UINT64_MAX;
    if (FFramed) {
        frame = sub == 0 ? (byte == 0 ? FFrames.Begin() : FFrames.FindAfter(byte - 1))
                         : FFrames.FindAfter(byte);
        if (frame < FFrames.End())
            frameStart = FFrames.PosAt(frame);
    }
    FBytes.ForEachPiece(byte, toByte, [&](const char *data, std::size_t n) {
        for (std::size_t i = 0; i < n && going; ++i, ++byte, sub = 0) {
            if (byte == frameStart && sub == 0) {
                // A frame starts a row of its own; a row already starting
                // here (after a wrap or a line break) is not doubled.
                const TTextPos at = PosOfByte(byte);
                const bool emptyRow = state.RowStart == at && state.Col == 0;
                const TRowSpan ended{state.RowStart, at, true};
                state = TWrapState{};
                state.RowStart = at;
                ++frame;
                frameStart = frame < FFrames.End() ? FFrames.PosAt(frame) : UINT64_MAX;
                if (!emptyRow && !emit(ended)) {
                    going = false;
                    return;
                }
            }
            const auto b = static_cast<unsigned char>(data[i]);
            const unsigned cells = FCells.Width(b);
            for (; sub < cells; ++sub) {
                const TTextPos at = PosOfByte(byte) + sub;
                const TTextPos next = sub + 1 < cells ? at + 1 : PosOfByte(byte + 1);
                const char c = FCells.Char(b, sub);
                TRowSpan ended;
                bool hasEnded = false;
                if (lines && (c == '\r' || c == '\n')) {
                    if (c == '\n' && state.AfterCr && at == state.RowStart) {
                        state.RowStart = next; // CR LF is one break
                        state.AfterCr = false;
                        continue;
                    }
                    ended = {state.RowStart, at, true};
                    hasEnded = true;
                    state = TWrapState{};
                    state.RowStart = next;
                    state.AfterCr = c == '\r';
                } else {
                    state.AfterCr = false;
                    if (state.Col >= width) {
                        hasEnded = true;
                        if (c == ' ') {
                            // A blank just past the edge hangs there.
                            ended = {state.RowStart, next, false};
                            state = TWrapState{};
                            state.RowStart = next;
                        } else if (state.HasBreak) {
                            ended = {state.RowStart, state.BreakPos, false};
                            state.RowStart = state.BreakPos;
                            state.Col = width - state.ColAtBreak;
                            state.HasBreak = false;
                        } else {
                            ended = {state.RowStart, at, false};
                            state.RowStart = at;
                            state.Col = 0;
                        }
                    }
                    if (!hasEnded || c != ' ' || ended.End != next) {
                        ++state.Col;
                        if (c == ' ') {
                            state.HasBreak = true;
                            state.BreakPos = next;
                            state.ColAtBreak = state.Col;
                        }
                    }
                }
                if (hasEnded && !emit(ended)) {
                    going = false;
                    return;
                }
            }
        }
    });
}

void TRowLayout::ScanNewBytes()
{
    Feed(FLast, PosOfByte(FScannedTo), FBytes.End(), [this](const TRowSpan &row) {
        if (FEndedRows > FFirst.Row &&
            (FMarks.empty() || FEndedRows - FMarks.back().Row >= RowsPerMark))
            FMarks.push_back({FEndedRows, row.Start});
        ++FEndedRows;
        return true;
    });
    FScannedTo = FBytes.End();
}

TRowLayout::TOrigin TRowLayout::OriginForRow(std::uint64_t row) const
{
    const auto it = std::upper_bound(FMarks.begin(), FMarks.end(), row,
                                     [](std::uint64_t r, const TMark &m) { return r < m.Row; });
    if (it == FMarks.begin())
        return FFirst;
    TOrigin origin{std::prev(it)->Row, std::prev(it)->Pos, TWrapState{}};
    origin.State.RowStart = origin.Pos;
    return origin;
}

TRowLayout::TOrigin TRowLayout::OriginForPos(TTextPos pos) const
{
    const auto it = std::upper_bound(FMarks.begin(), FMarks.end(), pos,
                                     [](TTextPos p, const TMark &m) { return p < m.Pos; });
    if (it == FMarks.begin())
        return FFirst;
    TOrigin origin{std::prev(it)->Row, std::prev(it)->Pos, TWrapState{}};
    origin.State.RowStart = origin.Pos;
    return origin;
}

void TRowLayout::Walk(const TOrigin &origin, const TRowVisit &visit) const
{
    std::uint64_t row = origin.Row;
    TWrapState state = origin.State;
    bool stopped = false;
    Feed(state, origin.Pos, FScannedTo, [&](const TRowSpan &span) {
        stopped = !visit(row++, span);
        return !stopped;
    });
    if (!stopped)
        visit(row, TRowSpan{state.RowStart, TextEnd(), false});
}

void TRowLayout::MoveFirstRow(std::uint64_t newBegin)
{
    const TTextPos begin = PosOfByte(newBegin);
    TOrigin origin = OriginForPos(begin);
    Feed(origin.State, origin.Pos, newBegin, [&](const TRowSpan &) {
        ++origin.Row;
        return true;
    });
    origin.Pos = begin;
    // Where the row under way ends depends on what follows: when it ends at
    // or before begin without a line break, the text opens with the next row.
    TWrapState probe = origin.State;
    TRowSpan ended;
    bool hasEnded = false;
    Feed(probe, begin, FScannedTo, [&](const TRowSpan &row) {
        ended = row;
        hasEnded = true;
        return false;
    });
    // A frame starting at begin ends the row before it without a character.
    const bool frameBreak = FFramed && hasEnded && ended.Break && ended.End == begin &&
                            FFrames.Find(newBegin) != TFrameMarks::None &&
                            FFrames.PosAt(FFrames.Find(newBegin)) == newBegin;
    if (hasEnded && (!ended.Break || frameBreak) && ended.End <= begin) {
        ++origin.Row;
        origin.State = TWrapState{};
        origin.State.RowStart = ended.End;
        origin.State.Col = static_cast<std::uint32_t>(FCells.TextLength(FBytes, ended.End, begin));
    }
    FFirstRow = origin.Row;
    FLeadingBreak = false;
    // The LF of a CR LF whose CR is gone: the text opens with that break.
    if (origin.State.AfterCr && origin.State.RowStart == begin && newBegin < FBytes.End() &&
        FCells.Char(FBytes.At(newBegin), 0) == '\n') {
        FLeadingBreak = true;
        FFirstRow = origin.Row - 1;
        origin.State = TWrapState{};
        origin.State.RowStart = PosOfByte(newBegin + 1);
        origin.Pos = origin.State.RowStart;
    }
    FFirst = origin;
    while (!FMarks.empty() && FMarks.front().Row <= FFirst.Row)
        FMarks.pop_front();
}

std::uint64_t TRowLayout::LastRow() const
{
    if (!IsHex())
        return FEndedRows;
    return FBytes.Empty() ? FFirstRow : HexRowOf(TextEnd());
}

std::size_t TRowLayout::RowCount() const
{
    return static_cast<std::size_t>(LastRow() - FFirstRow + 1);
}

TRowSpan TRowLayout::Clipped(TRowSpan span) const
{
    const TTextPos begin = TextBegin();
    span.Start = std::max(span.Start, begin);
    span.End = std::min(std::max(span.End, begin), TextEnd());
    return span;
}

TRowSpan TRowLayout::Row(std::size_t row) const
{
    TRowSpan result{TextBegin(), TextBegin(), false};
    VisitRows(row, 1, [&](const TRowSpan &span) {
        result = span;
        return false;
    });
    return result;
}

void TRowLayout::VisitRows(std::size_t first, std::size_t count,
                           const std::function<bool(const TRowSpan &)> &visit) const
{
    const std::uint64_t last = LastRow();
    std::uint64_t row = FFirstRow + first;
    const std::uint64_t stop = std::min<std::uint64_t>(row + count, last + 1);
    if (row >= stop)
        return;
    if (IsHex()) {
        for (; row < stop; ++row)
            if (!visit(Clipped(HexRow(row))))
                return;
        return;
    }
    if (FLeadingBreak && row == FFirstRow) {
        if (!visit(TRowSpan{TextBegin(), TextBegin(), true}) || ++row >= stop)
            return;
    }
    Walk(OriginForRow(row), [&](std::uint64_t r, const TRowSpan &span) {
        if (r < row)
            return true;
        return visit(Clipped(span)) && r + 1 < stop;
    });
}

std::uint64_t TRowLayout::FindRow(TTextPos pos) const
{
    std::uint64_t found = FFirstRow;
    const TOrigin origin = OriginForPos(pos);
    if (origin.Pos > pos)
        return found;
    Walk(origin, [&](std::uint64_t r, const TRowSpan &span) {
        if (span.Start > pos)
            return false;
        found = r;
        return true;
    });
    return found;
}

std::size_t TRowLayout::RowOf(TTextPos pos) const
{
    pos = std::clamp(pos, TextBegin(), TextEnd());
    const std::uint64_t row = IsHex() ? (FBytes.Empty() ? FFirstRow : HexRowOf(pos)) : FindRow(pos);
    return static_cast<std::size_t>(std::clamp(row, FFirstRow, LastRow()) - FFirstRow);
}

std::uint64_t TRowLayout::HexRowBytes() const
{
    return (FColumns + 1) / 3;
}

TRowSpan TRowLayout::HexRow(std::uint64_t row) const
{
    const std::uint64_t perRow = HexRowBytes();
    if (perRow == 0) {
        // One column: a digit on a row, the other digit and its blank on the next.
        const TTextPos at = PosOfByte(FAnchorByte + row / 2);
        return row % 2 == 0 ? TRowSpan{at, at + 1, false} : TRowSpan{at + 1, at + 4, false};
    }
    return {PosOfByte(FAnchorByte + row * perRow), PosOfByte(FAnchorByte + (row + 1) * perRow),
            false};
}

std::uint64_t TRowLayout::HexRowOf(TTextPos pos) const
{
    const std::uint64_t perRow = HexRowBytes();
    const std::uint64_t byte = ByteOfPos(pos) - FAnchorByte;
    if (perRow == 0)
        return byte * 2 + (pos % 4 == 0 ? 0 : 1);
    return byte / perRow;
}

} // namespace kestrune
