#include "encoding/ByteCells.h"

#include "codec/EscChar.h"
#include "codec/Format.h"

#include <QChar>

#include <algorithm>

namespace kestrune {

namespace {

TByteCell AsciiCell(std::string_view text)
{
    TByteCell cell;
    cell.Width = cell.Size = static_cast<std::uint8_t>(text.size());
    std::copy(text.begin(), text.end(), cell.Text.begin());
    return cell;
}

TByteCell GlyphCell(char32_t code)
{
    std::string utf8;
    AppendUtf8(code, utf8);
    TByteCell cell;
    cell.Glyph = true;
    cell.Width = static_cast<std::uint8_t>(ColumnsOf(code));
    cell.Size = static_cast<std::uint8_t>(utf8.size());
    std::copy(utf8.begin(), utf8.end(), cell.Text.begin());
    return cell;
}

} // namespace

TCellCodec::TCellCodec(TDataMode mode, char escChar, TEncoding encoding)
    : FMode(mode <= dmMixed ? mode : dmHex), FEscChar(EscCharOrDefault(escChar)),
      FEncoding(encoding),
      FDecodes(FMode != dmHex && encoding != TEncoding::Latin1 && IsMultiByte(encoding))
{
    const bool decoded = FMode != dmHex && encoding != TEncoding::Latin1;
    for (unsigned b = 0; b < 256; ++b) {
        std::string text = FormatData(ByteString(1, static_cast<char>(b)), FMode, FEscChar);
        if (FMode == dmHex)
            text += ' ';
        FSingle[b] = AsciiCell(text);
        if (decoded && b >= 0x80 && !IsMultiByte(encoding)) {
            const auto byte = static_cast<unsigned char>(b);
            const char32_t code = DecodeChar(encoding, &byte, 1);
            FSingle[b] = code == NoChar ? Invalid(byte) : CharCell(code, byte);
        }
    }
}

TByteCell TCellCodec::Invalid(unsigned char byte) const
{
    if (FMode == dmMixed)
        return FSingle[byte];
    return GlyphCell(0xFFFD);
}

TByteCell TCellCodec::CharCell(char32_t code, unsigned char lastByte) const
{
    if (code >= 0xA0 && QChar::isPrint(code))
        return GlyphCell(code);
    return FSingle[lastByte];
}

bool TCellCodec::Incomplete(const unsigned char *data, std::size_t n) const
{
    return FDecodes && ScanChar(FEncoding, data, n).Kind == TCharKind::Incomplete;
}

std::size_t TCellCodec::CharCells(const unsigned char *data, std::size_t n, TByteCell *out) const
{
    if (!FDecodes || data[0] < 0x80) {
        out[0] = FSingle[data[0]];
        return 1;
    }
    const TCharSpan span = ScanChar(FEncoding, data, n);
    if (span.Kind == TCharKind::Incomplete) {
        std::fill_n(out, span.Length, TByteCell{});
        return span.Length;
    }
    const char32_t code =
        span.Kind == TCharKind::Valid ? DecodeChar(FEncoding, data, span.Length) : NoChar;
    if (code == NoChar) {
        // Decoding goes on with the next byte, which may start a character.
        out[0] = Invalid(data[0]);
        return 1;
    }
    if (code >= 0xA0 && QChar::isPrint(code)) {
        std::fill_n(out, span.Length - 1, TByteCell{});
        out[span.Length - 1] = GlyphCell(code);
    } else {
        // An unprintable character shows byte by byte, as it always did.
        for (std::size_t i = 0; i < span.Length; ++i)
            out[i] = FSingle[data[i]];
    }
    return span.Length;
}

std::string FormatText(std::string_view bytes, TDataMode mode, char escChar, TEncoding encoding)
{
    const TCellCodec codec(mode, escChar, encoding);
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    std::string text;
    text.reserve(bytes.size());
    std::array<TByteCell, 4> cells;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t covered = codec.CharCells(data + at, bytes.size() - at, cells.data());
        for (std::size_t i = 0; i < covered; ++i)
            cells[i].AppendColumns(0, cells[i].Width, text);
        at += covered;
    }
    if (codec.Mode() == dmHex && !text.empty())
        text.pop_back();
    return text;
}

} // namespace kestrune
