// The row layout's chains: rows cut from one start, scanned as bytes arrive,
// walked from the nearest mark, and moved on as the front is trimmed.
#include "app/view/RowLayout.h"

#include <algorithm>

namespace kestrune {

void TRowLayout::StartChain(TChain &chain, std::uint64_t at, std::uint64_t limit, bool joinCr) const
{
    chain = TChain{};
    chain.Last.RowStart = PosOfByte(at);
    // Right after a CR an LF joins that break, as it would in a walk from further back.
    chain.Last.AfterCr = joinCr && FCells.Mode() == dmCharacter && at > FBytes.Begin() &&
                         FCells.Codec().Single(FBytes.At(at - 1)).Unit(0) == '\r';
    chain.First = TOrigin{0, chain.Last.RowStart, chain.Last};
    chain.ScannedTo = at;
    chain.Limit = limit;
}

void TRowLayout::Scan(TChain &chain, std::uint64_t to) const
{
    to = std::min(to, chain.Limit);
    if (to <= chain.ScannedTo)
        return;
    Wrap().Feed(chain.Last, PosOfByte(chain.ScannedTo), to, [&](const TRowSpan &row) {
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
    return std::min(chain.Limit, DataEnd());
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
    Wrap().Feed(state, origin.Pos, end, [&](const TRowSpan &span) {
        stopped = !visit(row++, span);
        return !stopped;
    });
    if (stopped)
        return;
    if (end == DataEnd()) {
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
    Wrap().Feed(origin.State, origin.Pos, newBegin, [&](const TRowSpan &) {
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
        Wrap().Feed(probe, begin, ChainEnd(chain), [&](const TRowSpan &row) {
            if (!row.Break && row.End <= begin)
                SkipWrappedRow(origin, row.End);
            return false;
        });
        // The LF of a CR LF whose CR is gone: the text opens with that break.
        chain.LeadingBreak = origin.State.AfterCr && origin.State.RowStart == begin &&
                             newBegin < ChainEnd(chain) &&
                             FCells.Codec().Single(FBytes.At(newBegin)).Unit(0) == '\n';
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

} // namespace kestrune
