#pragma once

#include "codec/DataMode.h"
#include "exchange/BoundedHistory.h"

#include <array>
#include <cstdint>
#include <string>

namespace kestrune {

// A place in the display text of a history: byte * 4 + the index of a
// character within that byte's text (at most 4: a Mixed escape). Positions
// name bytes, not text offsets, so they stay put while the history grows and
// is trimmed, and ordering them orders the text.
using TTextPos = std::uint64_t;

[[nodiscard]] constexpr TTextPos PosOfByte(std::uint64_t byte)
{
    return byte * 4;
}
[[nodiscard]] constexpr std::uint64_t ByteOfPos(TTextPos pos)
{
    return pos / 4;
}

// How each byte value reads in one representation, taken from FormatData so
// the two cannot differ. In Hex every byte owns the blank that follows it; the
// text ends before the last byte's blank.
class TTextCells
{
public:
    TTextCells(TDataMode mode, char escChar);

    [[nodiscard]] TDataMode Mode() const { return FMode; }
    [[nodiscard]] char EscChar() const { return FEscChar; }
    [[nodiscard]] unsigned Width(unsigned char byte) const { return FWidth[byte]; }
    [[nodiscard]] char Char(unsigned char byte, unsigned index) const
    {
        return FChars[byte][index];
    }

    // The text of bytes [Begin, End) runs from TextBegin to TextEnd.
    [[nodiscard]] TTextPos TextBegin(const THistoryBytes &bytes) const;
    [[nodiscard]] TTextPos TextEnd(const THistoryBytes &bytes) const;
    [[nodiscard]] char CharAt(const THistoryBytes &bytes, TTextPos pos) const;
    // The position after / before pos, within the byte's own characters.
    [[nodiscard]] TTextPos Next(const THistoryBytes &bytes, TTextPos pos) const;
    [[nodiscard]] TTextPos Prev(const THistoryBytes &bytes, TTextPos pos) const;

    // Appends the text of [from, to) to out; the range is clamped to the text.
    void AppendText(const THistoryBytes &bytes, TTextPos from, TTextPos to, std::string &out) const;
    // Characters in [from, to), counting no further than limit (Mixed text has
    // to be counted, so a caller that only asks "too long?" stops early).
    [[nodiscard]] std::uint64_t TextLength(const THistoryBytes &bytes, TTextPos from, TTextPos to,
                                           std::uint64_t limit = UINT64_MAX) const;

private:
    TDataMode FMode;
    char FEscChar;
    std::array<std::array<char, 4>, 256> FChars{};
    std::array<std::uint8_t, 256> FWidth{};
};

} // namespace kestrune
