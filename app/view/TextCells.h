#pragma once

#include "codec/DataMode.h"
#include "encoding/ByteCells.h"
#include "exchange/BoundedHistory.h"

#include <array>
#include <cstdint>
#include <string>

namespace kestrune {

// A place in the display text of a history: byte * 4 + the column within
// that byte's text (at most 4: a Mixed escape). Positions name bytes, not text
// offsets, so they stay put while the history grows and is trimmed, and
// ordering them orders the text.
using TTextPos = std::uint64_t;

[[nodiscard]] constexpr TTextPos PosOfByte(std::uint64_t byte)
{
    return byte * 4;
}
[[nodiscard]] constexpr std::uint64_t ByteOfPos(TTextPos pos)
{
    return pos / 4;
}

// How each byte of a history reads in one representation. In Latin-1 and
// single-byte encodings a byte's text depends on its value alone; in
// multi-byte encodings on the character it belongs to, which is found from
// the nearest byte where a character must start. The text is UTF-8 and is
// measured in columns. In Hex every byte owns the blank that follows it; the
// text ends before the last byte's blank. A character still missing bytes
// at the end of the history is not text yet.
class TTextCells
{
public:
    TTextCells(TDataMode mode, char escChar, TEncoding encoding = TEncoding::Latin1);

    [[nodiscard]] TDataMode Mode() const { return FCodec.Mode(); }
    [[nodiscard]] char EscChar() const { return FCodec.EscChar(); }
    [[nodiscard]] TEncoding Encoding() const { return FCodec.Encoding(); }
    [[nodiscard]] const TCellCodec &Codec() const { return FCodec; }

    // The cell of the byte at pos, found from its neighbours when it must be.
    [[nodiscard]] TByteCell CellAt(const THistoryBytes &bytes, std::uint64_t byte) const;

    // The end of the bytes that are text: all but an unfinished character.
    [[nodiscard]] std::uint64_t DataEnd(const THistoryBytes &bytes) const;
    // The text of bytes [Begin, DataEnd) runs from TextBegin to TextEnd.
    [[nodiscard]] TTextPos TextBegin(const THistoryBytes &bytes) const;
    [[nodiscard]] TTextPos TextEnd(const THistoryBytes &bytes) const;
    [[nodiscard]] char CharAt(const THistoryBytes &bytes, TTextPos pos) const;
    // The position after / before pos, within the byte's own columns.
    [[nodiscard]] TTextPos Next(const THistoryBytes &bytes, TTextPos pos) const;
    [[nodiscard]] TTextPos Prev(const THistoryBytes &bytes, TTextPos pos) const;

    // Appends the text of [from, to) to out; the range is clamped to the text.
    void AppendText(const THistoryBytes &bytes, TTextPos from, TTextPos to, std::string &out) const;
    // Columns in [from, to), counting no further than limit (Mixed text has
    // to be counted, so a caller that only asks "too long?" stops early).
    [[nodiscard]] std::uint64_t TextLength(const THistoryBytes &bytes, TTextPos from, TTextPos to,
                                           std::uint64_t limit = UINT64_MAX) const;

private:
    friend class TCellCursor;
    // The first byte of the character that holds `byte`, or a byte before it
    // where decoding may begin.
    [[nodiscard]] std::uint64_t DecodeStart(const THistoryBytes &bytes, std::uint64_t byte) const;
    // Cells of the character at `at`, a character boundary; returns its bytes.
    std::size_t CharCellsAt(const THistoryBytes &bytes, std::uint64_t at, TByteCell *out) const;

    TCellCodec FCodec;
    // DataEnd is asked for at every row; it changes only as bytes come.
    mutable std::uint64_t FEndFor = UINT64_MAX;
    mutable std::uint64_t FDataEnd = 0;
};

// The cells of a history's bytes asked for in order (wrapping, painting,
// measuring): each character is decoded once, however the walk began.
class TCellCursor
{
public:
    TCellCursor(const TTextCells &cells, const THistoryBytes &bytes) : FCells(cells), FBytes(bytes)
    {
    }

    [[nodiscard]] TByteCell At(std::uint64_t byte, unsigned char value)
    {
        const TCellCodec &codec = FCells.FCodec;
        if (!codec.Decodes())
            return codec.Single(value);
        if (byte >= FStart && byte < FEnd)
            return FChar[byte - FStart];
        if (byte == FEnd && value < 0x80) {
            // A character boundary: ASCII there is a character of its own.
            FStart = FEnd = byte + 1;
            return codec.Single(value);
        }
        return Decode(byte);
    }

    // The cell of any byte, its character found from scratch.
    TByteCell Decode(std::uint64_t byte);

private:
    const TTextCells &FCells;
    const THistoryBytes &FBytes;
    std::uint64_t FStart = 1;
    std::uint64_t FEnd = 0; // a character boundary when FStart <= FEnd
    std::array<TByteCell, 4> FChar{};
};

} // namespace kestrune
