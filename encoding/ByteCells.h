#pragma once

#include "codec/ByteString.h"
#include "codec/DataMode.h"
#include "encoding/TextEncoding.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrune {

// What one byte shows: up to four columns of text. ASCII cells hold one
// character per column (a Mixed escape is four). A decoded character is a
// glyph cell: its UTF-8 text belongs to the first of its one or two columns.
// A character of several bytes shows, whole, at its last byte; its other
// bytes show nothing, so the text of any run of bytes is well formed however
// the run is cut.
struct TByteCell
{
    std::uint8_t Width = 0; // columns
    std::uint8_t Size = 0;  // bytes of Text
    bool Glyph = false;
    std::array<char, 4> Text{};

    // The character a column reads as, for line breaks, blanks and words:
    // a glyph reads as a letter.
    [[nodiscard]] char Unit(unsigned column) const { return Glyph ? 'a' : Text[column]; }
    // Appends the text of columns [from, to).
    void AppendColumns(unsigned from, unsigned to, std::string &out) const
    {
        if (Glyph) {
            if (from == 0 && to > 0)
                out.append(Text.data(), Size);
        } else if (to > from) {
            out.append(Text.data() + from, to - from);
        }
    }
};

// The cells of a representation: Hex and Latin-1 need only the byte's value;
// other encodings decode characters in Character and Mixed modes. Undecodable
// bytes show as escapes in Mixed mode and as U+FFFD in Character mode. In Hex
// every byte owns the blank that follows it.
class TCellCodec
{
public:
    TCellCodec(TDataMode mode, char escChar, TEncoding encoding);

    [[nodiscard]] TDataMode Mode() const { return FMode; }
    [[nodiscard]] char EscChar() const { return FEscChar; }
    [[nodiscard]] TEncoding Encoding() const { return FEncoding; }
    // False when every byte's cell is its value's alone.
    [[nodiscard]] bool Decodes() const { return FDecodes; }
    [[nodiscard]] const TByteCell &Single(unsigned char byte) const { return FSingle[byte]; }

    // The cells of the character at data[0], a character boundary, with n > 0
    // bytes at hand; returns how many bytes they cover. A character whose
    // bytes have not all come covers them with empty cells.
    std::size_t CharCells(const unsigned char *data, std::size_t n, TByteCell *out) const;
    // The character at data[0] has not all its bytes yet.
    [[nodiscard]] bool Incomplete(const unsigned char *data, std::size_t n) const;

private:
    [[nodiscard]] TByteCell Invalid(unsigned char byte) const;
    // The cell of a decoded character; unprintable ones fall back to the
    // byte's own cell of the original representation.
    [[nodiscard]] TByteCell CharCell(char32_t code, unsigned char lastByte) const;

    TDataMode FMode;
    char FEscChar;
    TEncoding FEncoding;
    bool FDecodes;
    std::array<TByteCell, 256> FSingle{};
};

// The display text (UTF-8) of bytes that start at a character boundary:
// the text the views show, copy and save.
[[nodiscard]] std::string FormatText(std::string_view bytes, TDataMode mode, char escChar,
                                     TEncoding encoding);

} // namespace kestrune
