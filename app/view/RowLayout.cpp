#include "app/view/RowLayout.h"

#include <algorithm>

namespace kestrune {

TRowLayout::TRowLayout() : FCells(dmHex, '{') {}

void TRowLayout::Reset(const THistoryBytes &bytes, TDataMode mode, char escChar,
                       std::size_t columns, TEncoding encoding)
{
    FBytes.Follow(bytes);
    FCells = TTextCells(mode, escChar, encoding);
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
    Scan(FMain, DataEnd());
}

void TRowLayout::Follow(const THistoryBytes &bytes, const TFrameMarks *frames)
{
    const bool framed = FFramed && frames;
    // Merged frames change the rows they were in: rows of the head only are
    // cut afresh from the front, as after a trim past what it has laid out;
    // others call for a new layout.
    const bool merged = framed && frames->Merges() != FFrames.Merges();
    const bool headMerged = merged && HeadActive() && frames->MergedTo() <= FSeam &&
                            bytes.Begin() < FSeam && bytes.Begin() >= FBytes.Begin();
    // Old bytes all gone (a clear, or one block over the limit): start afresh,
    // as the rows of what was shown mean nothing for what comes now.
    if (bytes.Begin() >= FBytes.End() || bytes.Begin() < FBytes.Begin() ||
        bytes.End() < FBytes.End() || (merged && !headMerged)) {
        FBytes.Follow(bytes);
        if (framed)
            FFrames.Follow(*frames);
        Rebuild();
        return;
    }
    // Trimmed bytes (and their frames) are still needed to walk to the new
    // first row, so the front is let go only at the end.
    FBytes.Extend(bytes);
    if (headMerged)
        FFrames.Follow(*frames);
    else if (framed)
        FFrames.Extend(*frames);
    if (IsHex()) {
        FBytes.Follow(bytes);
        FFirstRow = HexRowOf(TextBegin());
        return;
    }
    Scan(FMain, DataEnd());
    const std::uint64_t newBegin = bytes.Begin();
    if (headMerged) {
        StartChain(FHead, newBegin, FSeam, false);
        FAnchorByte = newBegin;
    } else if (newBegin > FBytes.Begin()) {
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
