#include "app/view/TextCells.h"

#include "codec/EscChar.h"
#include "codec/Format.h"

#include <algorithm>

namespace kestrune {

TTextCells::TTextCells(TDataMode mode, char escChar)
    : FMode(mode <= dmMixed ? mode : dmHex), FEscChar(EscCharOrDefault(escChar))
{
    for (unsigned b = 0; b < 256; ++b) {
        std::string text = FormatData(ByteString(1, static_cast<char>(b)), FMode, FEscChar);
        if (FMode == dmHex)
            text += ' ';
        FWidth[b] = static_cast<std::uint8_t>(text.size());
        std::copy(text.begin(), text.end(), FChars[b].begin());
    }
}

TTextPos TTextCells::TextBegin(const THistoryBytes &bytes) const
{
    return PosOfByte(bytes.Begin());
}

TTextPos TTextCells::TextEnd(const THistoryBytes &bytes) const
{
    if (FMode == dmHex && !bytes.Empty())
        return PosOfByte(bytes.End() - 1) + 2;
    return PosOfByte(bytes.End());
}

char TTextCells::CharAt(const THistoryBytes &bytes, TTextPos pos) const
{
    return FChars[bytes.At(ByteOfPos(pos))][pos % 4];
}

TTextPos TTextCells::Next(const THistoryBytes &bytes, TTextPos pos) const
{
    const std::uint64_t byte = ByteOfPos(pos);
    if (byte >= bytes.End())
        return pos;
    return pos % 4 + 1 < FWidth[bytes.At(byte)] ? pos + 1 : PosOfByte(byte + 1);
}

TTextPos TTextCells::Prev(const THistoryBytes &bytes, TTextPos pos) const
{
    if (pos <= TextBegin(bytes))
        return TextBegin(bytes);
    if (pos % 4 != 0)
        return pos - 1;
    const std::uint64_t byte = ByteOfPos(pos) - 1;
    return PosOfByte(byte) + FWidth[bytes.At(byte)] - 1;
}

void TTextCells::AppendText(const THistoryBytes &bytes, TTextPos from, TTextPos to,
                            std::string &out) const
{
    from = std::max(from, TextBegin(bytes));
    to = std::min(to, TextEnd(bytes));
    if (from >= to)
        return;
    std::uint64_t byte = ByteOfPos(from);
    unsigned sub = static_cast<unsigned>(from % 4);
    const std::uint64_t lastByte = ByteOfPos(to);
    const auto lastSub = static_cast<unsigned>(to % 4);
    bytes.ForEachPiece(byte, lastByte + (lastSub ? 1 : 0), [&](const char *data, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i, ++byte) {
            const auto b = static_cast<unsigned char>(data[i]);
            const unsigned end =
                byte == lastByte ? std::min<unsigned>(lastSub, FWidth[b]) : FWidth[b];
            out.append(FChars[b].data() + sub, end > sub ? end - sub : 0);
            sub = 0;
        }
    });
}

std::uint64_t TTextCells::TextLength(const THistoryBytes &bytes, TTextPos from, TTextPos to,
                                     std::uint64_t limit) const
{
    from = std::max(from, TextBegin(bytes));
    to = std::min(to, TextEnd(bytes));
    if (from >= to)
        return 0;
    if (FMode != dmMixed) {
        // Every byte is as wide as every other: Hex 3 with its blank, Character 1.
        const std::uint64_t width = FMode == dmHex ? 3 : 1;
        return (ByteOfPos(to) - ByteOfPos(from)) * width + to % 4 - from % 4;
    }
    if (ByteOfPos(from) == ByteOfPos(to))
        return to - from;
    std::uint64_t length = 0;
    const std::uint64_t firstByte = ByteOfPos(from);
    std::uint64_t wholeFrom = firstByte;
    if (from % 4) {
        length += FWidth[bytes.At(firstByte)] - from % 4;
        ++wholeFrom;
    }
    bytes.ForEachPiece(wholeFrom, ByteOfPos(to), [&](const char *data, std::size_t n) {
        if (length >= limit)
            return;
        for (std::size_t i = 0; i < n; ++i)
            length += FWidth[static_cast<unsigned char>(data[i])];
    });
    return length + to % 4;
}

} // namespace kestrune
