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

void TRowLayout::StartChain(TChain &chain, std::uint64_t at, std::uint64_t limit, bool joinCr) const
{
    chain = TChain{};
    chain.Last.RowStart = PosOfByte(at);
    // Right after a CR an LF joins that break, as it would in a walk from further back.
    chain.Last.AfterCr = joinCr && FCells.Mode() == dmCharacter && at > FBytes.Begin() &&
                         FCells.Char(FBytes.At(at - 1), 0) == '\r';
    chain.First = TOrigin{0, chain.Last.RowStart, chain.Last};
    chain.ScannedTo = at;
    chain.Limit = limit;
}

std::uint64_t TRowLayout::SyncPoint(std::uint64_t from) const
{
    const std::uint64_t reach = std::max<std::uint64_t>(FLazyBytes / 2, 1);
    const std::uint64_t lowest = from - std::min(reach, from - FBytes.Begin());
    if (FFramed) {
        // A frame starts a row of its own.
        const std::uint64_t seq = FFrames.Find(from);
        if (seq != TFrameMarks::None && FFrames.PosAt(seq) > FBytes.Begin() &&
            FFrames.PosAt(seq) >= lowest)
            return FFrames.PosAt(seq);
    }
    if (FCells.Mode() == dmCharacter) {
        // The last line start in reach, never between the CR and LF of one break.
        std::uint64_t found = None;
        std::uint64_t at = lowest;
        FBytes.ForEachPiece(lowest, from, [&](const char *data, std::size_t n) {
            for (std::size_t i = 0; i < n; ++i, ++at)
                if (data[i] == '\n' ||
                    (data[i] == '\r' && at + 1 < FBytes.End() && FBytes.At(at + 1) != '\n'))
                    found = at + 1;
        });
        if (found != None)
            return found;
        if (FBytes.At(from - 1) == '\r' && FBytes.At(from) == '\n')
            return from + 1;
    }
    return from;
}

void TRowLayout::Rebuild()
{
    FAnchorByte = FBytes.Begin();
    FFirstRow = 0;
    FSeam = None;
    FHead = TChain{};
    StartChain(FMain, FBytes.Begin(), UINT64_MAX, false);
    if (IsHex())
        return;
    if (FBytes.Size() > FLazyBytes) {
        const std::uint64_t seam = SyncPoint(FBytes.End() - FLazyBytes / 2);
        if (seam > FBytes.Begin() && seam < FBytes.End()) {
            FSeam = seam;
            StartChain(FHead, FBytes.Begin(), seam, false);
            StartChain(FMain, seam, UINT64_MAX, true);
        }
    }
    Scan(FMain, FBytes.End());
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
    Scan(FMain, FBytes.End());
    const std::uint64_t newBegin = bytes.Begin();
    if (newBegin > FBytes.Begin()) {
        if (!HeadActive()) {
            MoveFirstRow(FMain, newBegin);
        } else if (newBegin >= FSeam) {
            FAnchorByte = FSeam;
            FSeam = None;
            FHead = TChain{};
            MoveFirstRow(FMain, newBegin);
        } else if (newBegin <= FHead.ScannedTo) {
            MoveFirstRow(FHead, newBegin);
        } else {
            // The trim passed what the head had laid out: its rows are cut
            // afresh from what is left, as after a reset.
            StartChain(FHead, newBegin, FSeam, false);
            FAnchorByte = newBegin;
        }
    }
    FBytes.Follow(bytes);
    if (framed)
        FFrames.Follow(*frames);
}

bool TRowLayout::Step(std::size_t bytes)
{
    if (!Pending())
        return false;
    Scan(FHead, std::min<std::uint64_t>(FSeam, FHead.ScannedTo + std::max<std::size_t>(bytes, 1)));
    return Pending();
}

bool TRowLayout::EnsureRows(std::size_t first, std::size_t count)
{
    bool changed = false;
    // One row more than asked, so the row after the last shown is known too.
    const std::uint64_t want = std::uint64_t(first) + count + 1;
    while (Pending() && KnownRows(FHead) < want && first < HeadRows()) {
        Step(64 * 1024);
        changed = true;
    }
    return changed;
}

bool TRowLayout::EnsurePos(TTextPos pos)
{
    bool changed = false;
    while (Pending() && ByteOfPos(pos) >= FHead.ScannedTo && ByteOfPos(pos) < FSeam) {
        Step(64 * 1024);
        changed = true;
    }
    return changed;
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

void TRowLayout::Scan(TChain &chain, std::uint64_t to) const
{
    to = std::min(to, chain.Limit);
    if (to <= chain.ScannedTo)
        return;
    Feed(chain.Last, PosOfByte(chain.ScannedTo), to, [&](const TRowSpan &row) {
        if (chain.EndedRows == chain.First.Row && !row.Break && row.End <= chain.First.Pos) {
            // The row the text opened in has wrapped at a blank before the
            // text, now that what follows has come: the text opens with the next row.
            SkipWrappedRow(chain.First, row.End);
            ++chain.FirstRow;
        }
        if (chain.EndedRows > chain.First.Row &&
            (chain.Marks.empty() || chain.EndedRows - chain.Marks.back().Row >= RowsPerMark))
            chain.Marks.push_back({chain.EndedRows, row.Start});
        ++chain.EndedRows;
        return true;
    });
    chain.ScannedTo = to;
}

std::uint64_t TRowLayout::ChainEnd(const TChain &chain) const
{
    return std::min(chain.Limit, FBytes.End());
}

TRowLayout::TOrigin TRowLayout::OriginForRow(const TChain &chain, std::uint64_t row) const
{
    const auto it = std::upper_bound(chain.Marks.begin(), chain.Marks.end(), row,
                                     [](std::uint64_t r, const TMark &m) { return r < m.Row; });
    if (it == chain.Marks.begin())
        return chain.First;
    TOrigin origin{std::prev(it)->Row, std::prev(it)->Pos, TWrapState{}};
    origin.State.RowStart = origin.Pos;
    return origin;
}

TRowLayout::TOrigin TRowLayout::OriginForPos(const TChain &chain, TTextPos pos) const
{
    const auto it = std::upper_bound(chain.Marks.begin(), chain.Marks.end(), pos,
                                     [](TTextPos p, const TMark &m) { return p < m.Pos; });
    if (it == chain.Marks.begin())
        return chain.First;
    TOrigin origin{std::prev(it)->Row, std::prev(it)->Pos, TWrapState{}};
    origin.State.RowStart = origin.Pos;
    return origin;
}

void TRowLayout::Walk(const TChain &chain, const TOrigin &origin, const TRowVisit &visit) const
{
    std::uint64_t row = origin.Row;
    TWrapState state = origin.State;
    bool stopped = false;
    const std::uint64_t end = ChainEnd(chain);
    Feed(state, origin.Pos, end, [&](const TRowSpan &span) {
        stopped = !visit(row++, span);
        return !stopped;
    });
    if (stopped)
        return;
    if (end == FBytes.End()) {
        if (state.RowStart <= TextEnd())
            visit(row, TRowSpan{state.RowStart, TextEnd(), false});
    } else if (state.RowStart < PosOfByte(end)) {
        // The head's last row ends where the main chain starts; at a frame,
        // as a frame ends a row.
        const std::uint64_t seq = FFramed ? FFrames.Find(end) : TFrameMarks::None;
        const bool frame = seq != TFrameMarks::None && FFrames.PosAt(seq) == end;
        visit(row, TRowSpan{state.RowStart, PosOfByte(end), frame});
    }
}

void TRowLayout::SkipWrappedRow(TOrigin &origin, TTextPos rowEnd)
{
    // The row ended at origin.Pos itself, or after its last blank before
    // origin.Pos: no blank lies between that one and origin.Pos, so the next
    // row holds just what follows it.
    TWrapState next;
    next.RowStart = rowEnd;
    next.Col = origin.State.HasBreak ? origin.State.Col - origin.State.ColAtBreak : 0;
    origin.State = next;
    ++origin.Row;
}

void TRowLayout::MoveFirstRow(TChain &chain, std::uint64_t newBegin) const
{
    const TTextPos begin = PosOfByte(newBegin);
    TOrigin origin = OriginForPos(chain, begin);
    Feed(origin.State, origin.Pos, newBegin, [&](const TRowSpan &) {
        ++origin.Row;
        return true;
    });
    origin.Pos = begin;
    chain.LeadingBreak = false;
    const std::uint64_t frame = FFramed ? FFrames.Find(newBegin) : TFrameMarks::None;
    if (frame != TFrameMarks::None && FFrames.PosAt(frame) == newBegin) {
        // A frame starting at begin ends the row under way, if it holds
        // anything, and starts the first row afresh: a CR before it does not
        // join an LF after it.
        if (origin.State.RowStart != begin || origin.State.Col != 0)
            ++origin.Row;
        origin.State = TWrapState{};
        origin.State.RowStart = begin;
    } else {
        // Where the row under way ends depends on what follows: when it ends
        // at or before begin without a line break, the text opens with the
        // next row.
        TWrapState probe = origin.State;
        Feed(probe, begin, ChainEnd(chain), [&](const TRowSpan &row) {
            if (!row.Break && row.End <= begin)
                SkipWrappedRow(origin, row.End);
            return false;
        });
        // The LF of a CR LF whose CR is gone: the text opens with that break.
        chain.LeadingBreak = origin.State.AfterCr && origin.State.RowStart == begin &&
                             newBegin < ChainEnd(chain) &&
                             FCells.Char(FBytes.At(newBegin), 0) == '\n';
    }
    chain.FirstRow = origin.Row;
    if (chain.LeadingBreak) {
        // The row that break ends counts as the first; the next starts after the LF.
        --chain.FirstRow;
        origin.State = TWrapState{};
        origin.State.RowStart = PosOfByte(newBegin + 1);
        origin.Pos = origin.State.RowStart;
    }
    chain.First = origin;
    while (!chain.Marks.empty() && chain.Marks.front().Row <= chain.First.Row)
        chain.Marks.pop_front();
}

std::uint64_t TRowLayout::KnownRows(const TChain &chain)
{
    // A head not scanned as far as its first row's end may know less than none.
    return chain.EndedRows > chain.FirstRow ? chain.EndedRows - chain.FirstRow : 0;
}

std::uint64_t TRowLayout::HeadRows() const
{
    if (!HeadActive())
        return 0;
    const std::uint64_t known = KnownRows(FHead);
    if (!Pending())
        return known + (FHead.Last.RowStart < PosOfByte(FSeam) ? 1 : 0);
    // The rest is counted from its bytes, at the rate of the rows laid out.
    const double laidBytes =
        static_cast<double>(FHead.ScannedTo - FBytes.Begin() + FBytes.End() - FSeam);
    const double laidRows = static_cast<double>(known + MainRows());
    const double rest =
        static_cast<double>(FSeam - FHead.ScannedTo) * laidRows / std::max(laidBytes, 1.0);
    return known + std::max<std::uint64_t>(1, static_cast<std::uint64_t>(rest + 0.5));
}

std::uint64_t TRowLayout::MainRows() const
{
    // The last Hex byte's blank is not text: a row it ended has none after it.
    const bool open = FMain.Last.RowStart <= TextEnd();
    return KnownRows(FMain) + (open ? 1 : 0);
}

std::size_t TRowLayout::RowCount() const
{
    if (IsHex())
        return static_cast<std::size_t>((FBytes.Empty() ? FFirstRow : HexRowOf(TextEnd())) -
                                        FFirstRow + 1);
    return static_cast<std::size_t>(HeadRows() + MainRows());
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

bool TRowLayout::VisitChain(const TChain &chain, std::uint64_t row,
                            const std::function<bool(const TRowSpan &)> &visit) const
{
    row += chain.FirstRow;
    if (chain.LeadingBreak && row == chain.FirstRow) {
        if (!visit(TRowSpan{TextBegin(), TextBegin(), true}))
            return false;
        ++row;
    }
    bool going = true;
    Walk(chain, OriginForRow(chain, row), [&](std::uint64_t r, const TRowSpan &span) {
        if (r < row)
            return true;
        going = visit(Clipped(span));
        return going;
    });
    return going;
}

void TRowLayout::VisitRows(std::size_t first, std::size_t count,
                           const std::function<bool(const TRowSpan &)> &visit) const
{
    const std::uint64_t rows = RowCount();
    std::uint64_t left = std::min<std::uint64_t>(count, first < rows ? rows - first : 0);
    if (left == 0)
        return;
    const auto counted = [&](const TRowSpan &span) { return visit(span) && --left > 0; };
    if (IsHex()) {
        for (std::uint64_t row = FFirstRow + first; left > 0; ++row)
            if (!counted(Clipped(HexRow(row))))
                return;
        return;
    }
    const std::uint64_t head = HeadRows();
    if (first < head) {
        if (!VisitChain(FHead, first, counted))
            return;
        // A head that holds fewer rows than it was counted at goes on with the main chain.
        first = head;
    }
    VisitChain(FMain, first - head, counted);
}

std::uint64_t TRowLayout::FindRow(const TChain &chain, TTextPos pos) const
{
    std::uint64_t found = chain.FirstRow;
    const TOrigin origin = OriginForPos(chain, pos);
    if (origin.Pos <= pos) {
        Walk(chain, origin, [&](std::uint64_t r, const TRowSpan &span) {
            if (span.Start > pos)
                return false;
            found = r;
            return true;
        });
    }
    return found - chain.FirstRow;
}

std::size_t TRowLayout::RowOf(TTextPos pos) const
{
    pos = std::clamp(pos, TextBegin(), TextEnd());
    if (IsHex()) {
        const std::uint64_t row = FBytes.Empty() ? FFirstRow : HexRowOf(pos);
        return static_cast<std::size_t>(std::max(row, FFirstRow) - FFirstRow);
    }
    const std::uint64_t head = HeadRows();
    if (HeadActive() && pos < PosOfByte(FSeam))
        return static_cast<std::size_t>(std::min(FindRow(FHead, pos), head - 1));
    return static_cast<std::size_t>(head + std::min(FindRow(FMain, pos), MainRows() - 1));
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
