#include "cli/FramePrinter.h"

#include "codec/Format.h"
#include "encoding/ByteCells.h"

#include <QDateTime>

#include <algorithm>

namespace kestrune {

TFramePrinter::TFramePrinter(TSource source, TSink sink, TWholeFrames wholeFrames)
    : FSource(source), FSink(std::move(sink)), FWholeFrames(std::move(wholeFrames))
{
}

std::string TFramePrinter::FrameLine(std::int64_t timeMs, std::uint16_t origin, bool send,
                                     const ByteString &bytes, TDataMode mode, char escChar,
                                     TEncoding encoding)
{
    std::string line = QDateTime::fromMSecsSinceEpoch(timeMs)
                           .time()
                           .toString(QStringLiteral("HH:mm:ss.zzz "))
                           .toStdString();
    line += origin == 0 ? "main" : "R" + std::to_string(origin);
    line += send ? " > " : " < ";
    std::string data = encoding == TEncoding::Latin1 || mode == dmHex
                           ? FormatData(bytes, mode, escChar)
                           : FormatText(bytes, mode, escChar, encoding);
    // One line a frame, whatever the frame holds.
    std::replace_if(
        data.begin(), data.end(), [](char c) { return c == '\r' || c == '\n'; }, '.');
    return line + data;
}

bool TFramePrinter::Pending() const
{
    return FSource.History->End() > std::max(FPrintedTo, FSource.History->Begin());
}

void TFramePrinter::Drain(bool all)
{
    const TBoundedHistory &history = *FSource.History;
    const TFrameMarks &marks = *FSource.Frames;
    const std::uint64_t end = history.End();
    std::uint64_t pos = std::max(FPrintedTo, history.Begin());
    while (pos < end) {
        const std::uint64_t seq = marks.Find(pos);
        TFrameMark mark{pos, QDateTime::currentMSecsSinceEpoch(), 0};
        std::uint64_t frameEnd = end;
        if (seq != TFrameMarks::None)
            mark = marks.At(seq);
        const std::uint64_t next = marks.FindAfter(pos);
        const bool closed = next != marks.End();
        if (closed)
            frameEnd = marks.PosAt(next);
        if (!closed && !all && !FWholeFrames(mark.Origin))
            break;
        FSink(FrameLine(mark.TimeMs, mark.Origin, FSource.Send, history.Copy(pos, frameEnd), FMode,
                        FEscChar, FEncoding));
        pos = frameEnd;
    }
    FPrintedTo = pos;
}

} // namespace kestrune
