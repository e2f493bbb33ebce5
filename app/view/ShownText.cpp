#include "app/view/ShownText.h"

#include <QDateTime>
#include <QString>

#include <algorithm>

namespace kestrune {

bool TShownText::FrameBad(const TFrameMark &mark, const std::deque<std::uint64_t> *badFrames)
{
    return badFrames && std::binary_search(badFrames->begin(), badFrames->end(), mark.Pos);
}

std::string TShownText::FramePrefix(const TFrameMark &mark, bool originColumn,
                                    const TOriginTags *tags,
                                    const std::deque<std::uint64_t> *badFrames)
{
    const QTime time = QDateTime::fromMSecsSinceEpoch(mark.TimeMs).time();
    std::string prefix = time.toString(QStringLiteral("HH:mm:ss.zzz ")).toStdString();
    if (originColumn) {
        const std::string *peer = tags ? tags->Name(mark.Origin) : nullptr;
        std::string origin = peer               ? *peer
                             : mark.Origin == 0 ? "main"
                                                : "R" + std::to_string(mark.Origin);
        const std::size_t width = std::max<std::size_t>(5, tags ? tags->LongestName() : 0);
        origin.resize(std::max(origin.size(), width), ' ');
        prefix += origin + ' ';
    }
    if (badFrames)
        prefix += FrameBad(mark, badFrames) ? BadFrameMarker : "    ";
    return prefix;
}

bool TShownText::PrefixAt(std::uint64_t seq, TTextPos at, TTextPos from, bool lineOpen,
                          bool withFirstPrefix) const
{
    return seq != TFrameMarks::None &&
           (at == PosOfByte(FLayout.Frames().PosAt(seq)) || at == FLayout.TextBegin()) &&
           (at != from || lineOpen || withFirstPrefix);
}

void TShownText::Append(TTextPos from, TTextPos to, std::string &out, bool &lineOpen,
                        bool withFirstPrefix) const
{
    const TTextCells &cells = FLayout.Cells();
    const THistoryBytes &bytes = FLayout.Bytes();
    from = std::max(from, FLayout.TextBegin());
    to = std::min(to, FLayout.TextEnd());
    if (!FLayout.Framed()) {
        cells.AppendText(bytes, from, to, out);
        return;
    }
    const TFrameMarks &frames = FLayout.Frames();
    std::uint64_t seq = frames.Find(ByteOfPos(from));
    const bool hex = cells.Mode() == dmHex;
    for (TTextPos at = from; at < to;) {
        const std::uint64_t next = seq == TFrameMarks::None ? frames.Begin() : seq + 1;
        const TTextPos frameEnd = next < frames.End() ? PosOfByte(frames.PosAt(next)) : UINT64_MAX;
        // A Hex frame's text ends before its last byte's blank.
        const TTextPos textEnd =
            std::min(to, hex && frameEnd != UINT64_MAX ? frameEnd - 2 : frameEnd);
        if (PrefixAt(seq, at, from, lineOpen, withFirstPrefix)) {
            if (lineOpen)
                out += '\n';
            out += FramePrefix(frames.At(seq));
        }
        cells.AppendText(bytes, at, textEnd, out);
        lineOpen = true;
        if (frameEnd >= to)
            break;
        at = frameEnd;
        seq = next;
    }
}

std::uint64_t TShownText::Length(TTextPos from, TTextPos to, bool withFirstPrefix,
                                 std::uint64_t limit) const
{
    from = std::max(from, FLayout.TextBegin());
    to = std::min(to, FLayout.TextEnd());
    if (from >= to)
        return 0;
    const std::uint64_t text = FLayout.Cells().TextLength(FLayout.Bytes(), from, to, limit);
    if (!FLayout.Framed())
        return text;
    // Every frame that starts inside adds a line break and its prefix, and
    // in Hex drops the blank before it, as does a frame that starts at the end.
    const TFrameMarks &frames = FLayout.Frames();
    const bool hex = FLayout.Cells().Mode() == dmHex;
    const std::uint64_t prefix = FramePrefix(TFrameMark{}).size();
    const std::uint64_t starts =
        frames.FindAfter(ByteOfPos(to - 1)) - frames.FindAfter(ByteOfPos(from));
    const std::uint64_t endSeq = frames.Find(ByteOfPos(to));
    const bool frameAtEnd =
        to % 4 == 0 && endSeq != TFrameMarks::None && frames.PosAt(endSeq) == ByteOfPos(to);
    const bool firstPrefix =
        PrefixAt(frames.Find(ByteOfPos(from)), from, from, false, withFirstPrefix);
    return text + starts * (prefix + 1) + (firstPrefix ? prefix : 0) -
           (hex ? starts + (frameAtEnd ? 1 : 0) : 0);
}

} // namespace kestrune
