#include "app/view/TextCells.h"

#include <algorithm>

namespace kestrune {

namespace {

// How far back a character boundary is looked for. A UTF-8 character is at
// most four bytes; the double-byte encodings meet a blank, a digit or a line
// break far sooner in any text a person reads.
std::uint64_t LookBack(TEncoding encoding)
{
    return encoding == TEncoding::Utf8 ? 3 : 256;
}

bool IsContinuation(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

} // namespace

TTextCells::TTextCells(TDataMode mode, char escChar, TEncoding encoding)
    : FCodec(mode, escChar, encoding)
{
}

std::uint64_t TTextCells::DecodeStart(const THistoryBytes &bytes, std::uint64_t byte) const
{
    const TEncoding encoding = FCodec.Encoding();
    const std::uint64_t lowest = byte - std::min(LookBack(encoding), byte - bytes.Begin());
    std::uint64_t at = byte;
    while (at > lowest && !StartsCharAlways(encoding, bytes.At(at)))
        --at;
    return at;
}

std::size_t TTextCells::CharCellsAt(const THistoryBytes &bytes, std::uint64_t at,
                                    TByteCell *out) const
{
    const std::uint64_t begin = bytes.Begin();
    if (FCodec.Encoding() == TEncoding::Utf8 && begin > 0 && at - begin < 3) {
        // The rest of a character whose start the trim took: it was shown
        // whole before, and its bytes are no character now.
        bool fragment = true;
        for (std::uint64_t i = begin; i <= at && fragment; ++i)
            fragment = IsContinuation(bytes.At(i));
        if (fragment) {
            out[0] = TByteCell{};
            return 1;
        }
    }
    std::array<unsigned char, 4> window{};
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(4, bytes.End() - at));
    for (std::size_t i = 0; i < n; ++i)
        window[i] = bytes.At(at + i);
    return FCodec.CharCells(window.data(), n, out);
}

TByteCell TTextCells::CellAt(const THistoryBytes &bytes, std::uint64_t byte) const
{
    const unsigned char value = bytes.At(byte);
    if (!FCodec.Decodes())
        return FCodec.Single(value);
    // ASCII is never part of a UTF-8 or EUC-KR character; in the other
    // encodings it is not after ASCII.
    const TEncoding encoding = FCodec.Encoding();
    if (value < 0x80 && (encoding == TEncoding::Utf8 || encoding == TEncoding::EucKr ||
                         byte == bytes.Begin() || bytes.At(byte - 1) < 0x80))
        return FCodec.Single(value);
    TCellCursor cursor(*this, bytes);
    return cursor.Decode(byte);
}

TByteCell TCellCursor::Decode(std::uint64_t byte)
{
    std::uint64_t at = FCells.DecodeStart(FBytes, byte);
    for (;;) {
        const std::size_t covered = FCells.CharCellsAt(FBytes, at, FChar.data());
        if (byte < at + covered) {
            FStart = at;
            FEnd = at + covered;
            return FChar[byte - at];
        }
        at += covered;
    }
}

std::uint64_t TTextCells::DataEnd(const THistoryBytes &bytes) const
{
    const std::uint64_t end = bytes.End();
    if (!FCodec.Decodes() || bytes.Empty() || bytes.At(end - 1) < 0x80)
        return end;
    if (FEndFor == end)
        return FDataEnd;
    std::uint64_t at = DecodeStart(bytes, end - 1);
    std::array<TByteCell, 4> cells;
    while (at < end) {
        std::array<unsigned char, 4> window{};
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(4, end - at));
        for (std::size_t i = 0; i < n; ++i)
            window[i] = bytes.At(at + i);
        if (FCodec.Incomplete(window.data(), n))
            break;
        at += CharCellsAt(bytes, at, cells.data());
    }
    FEndFor = end;
    FDataEnd = std::min(at, end);
    return FDataEnd;
}

TTextPos TTextCells::TextBegin(const THistoryBytes &bytes) const
{
    return PosOfByte(bytes.Begin());
}

TTextPos TTextCells::TextEnd(const THistoryBytes &bytes) const
{
    if (Mode() == dmHex && !bytes.Empty())
        return PosOfByte(bytes.End() - 1) + 2;
    return PosOfByte(DataEnd(bytes));
}

char TTextCells::CharAt(const THistoryBytes &bytes, TTextPos pos) const
{
    return CellAt(bytes, ByteOfPos(pos)).Unit(static_cast<unsigned>(pos % 4));
}

TTextPos TTextCells::Next(const THistoryBytes &bytes, TTextPos pos) const
{
    const std::uint64_t end = DataEnd(bytes);
    std::uint64_t byte = ByteOfPos(pos);
    if (byte >= end)
        return pos;
    TByteCell cell = CellAt(bytes, byte);
    if (!cell.Glyph && pos % 4 + 1 < cell.Width)
        return pos + 1;
    if (cell.Width == 0) {
        // Bytes that show nothing lead to the character they end in: the
        // step goes past that character.
        while (cell.Width == 0 && byte + 1 < end)
            cell = CellAt(bytes, ++byte);
        if (!cell.Glyph && cell.Width > 1)
            return PosOfByte(byte) + 1;
    }
    return PosOfByte(byte + 1);
}

TTextPos TTextCells::Prev(const THistoryBytes &bytes, TTextPos pos) const
{
    const TTextPos begin = TextBegin(bytes);
    if (pos <= begin)
        return begin;
    std::uint64_t byte = ByteOfPos(pos);
    if (pos % 4 != 0)
        return CellAt(bytes, byte).Glyph ? PosOfByte(byte) : pos - 1;
    TByteCell cell;
    do {
        --byte;
        cell = CellAt(bytes, byte);
    } while (cell.Width == 0 && byte > bytes.Begin());
    if (cell.Width == 0)
        return begin;
    return cell.Glyph ? PosOfByte(byte) : PosOfByte(byte) + cell.Width - 1;
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
    TCellCursor cursor(*this, bytes);
    bytes.ForEachPiece(byte, lastByte + (lastSub ? 1 : 0), [&](const char *data, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i, ++byte) {
            const TByteCell cell = cursor.At(byte, static_cast<unsigned char>(data[i]));
            const unsigned end =
                byte == lastByte ? std::min<unsigned>(lastSub, cell.Width) : cell.Width;
            cell.AppendColumns(sub, end, out);
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
    if (Mode() == dmHex || (Mode() == dmCharacter && !FCodec.Decodes())) {
        // Every byte is as wide as every other: Hex 3 with its blank, Character 1.
        const std::uint64_t width = Mode() == dmHex ? 3 : 1;
        return (ByteOfPos(to) - ByteOfPos(from)) * width + to % 4 - from % 4;
    }
    if (ByteOfPos(from) == ByteOfPos(to))
        return to - from;
    std::uint64_t length = 0;
    const std::uint64_t firstByte = ByteOfPos(from);
    std::uint64_t wholeFrom = firstByte;
    TCellCursor cursor(*this, bytes);
    if (from % 4) {
        length += CellAt(bytes, firstByte).Width - from % 4;
        ++wholeFrom;
    }
    std::uint64_t byte = wholeFrom;
    bytes.ForEachPiece(wholeFrom, ByteOfPos(to), [&](const char *data, std::size_t n) {
        if (length >= limit)
            return;
        if (!FCodec.Decodes()) {
            for (std::size_t i = 0; i < n; ++i)
                length += FCodec.Single(static_cast<unsigned char>(data[i])).Width;
            return;
        }
        for (std::size_t i = 0; i < n; ++i, ++byte)
            length += cursor.At(byte, static_cast<unsigned char>(data[i])).Width;
    });
    return length + to % 4;
}

} // namespace kestrune
