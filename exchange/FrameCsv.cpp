#include "exchange/FrameCsv.h"

#include "codec/Format.h"
#include "common/FileDescriptor.h"
#include "exchange/CommLog.h"

#include <fcntl.h>

namespace kestrune {

std::string CsvField(std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string FrameCsvRow(const TFrameMark &mark, bool sent, std::string_view bytes)
{
    std::string text(bytes);
    for (char &c : text) {
        if (c < 0x20 || c > 0x7E)
            c = '.';
    }
    std::string row = LogTimeStamp(LocalTimeAt(mark.TimeMs));
    row += mark.Origin == 0 ? ",main," : ",R" + std::to_string(mark.Origin) + ",";
    row += sent ? "sent," : "received,";
    row += std::to_string(bytes.size()) + ",";
    row += FormatData(ByteString(bytes), dmHex, '{') + ",";
    row += CsvField(text);
    row += "\r\n";
    return row;
}

int WriteFramesCsv(const std::string &path, const THistoryBytes &history, const TFrameMarks &frames,
                   bool sent)
{
    TOpenedFile file = OpenFile(path, O_WRONLY | O_CREAT | O_TRUNC);
    if (file.Error != 0)
        return file.Error;
    std::string out(FramesCsvHeader);
    for (std::uint64_t seq = frames.Begin(); seq < frames.End(); ++seq) {
        const TFrameMark mark = frames.At(seq);
        const std::uint64_t end = seq + 1 < frames.End() ? frames.PosAt(seq + 1) : history.End();
        const std::uint64_t begin = std::max(mark.Pos, history.Begin());
        if (begin >= end)
            continue;
        out += FrameCsvRow(mark, sent, history.Copy(begin, end));
        // Written in pieces, so a large history needs no second copy of itself.
        if (out.size() >= 1 << 16) {
            if (const int error = WriteAll(file.Fd.Get(), out); error != 0)
                return error;
            out.clear();
        }
    }
    if (const int error = WriteAll(file.Fd.Get(), out); error != 0)
        return error;
    return file.Fd.Close();
}

} // namespace kestrune
