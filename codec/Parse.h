#pragma once

#include "codec/ByteString.h"
#include "codec/DataMode.h"

#include <cstdint>
#include <string_view>

namespace kestrune {

inline constexpr std::uint8_t NotHexDigit = 255;

// 0 to 15 for 0-9, A-F and a-f; NotHexDigit for every other character.
[[nodiscard]] constexpr std::uint8_t HexDigitValue(char c) noexcept
{
    if (c >= '0' && c <= '9')
        return static_cast<std::uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<std::uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return static_cast<std::uint8_t>(c - 'a' + 10);
    return NotHexDigit;
}

// Bytes of typed text. Never refuses input: in Hex mode, and inside a Mixed
// escape, digits pair from the left and every other character separates;
// Character mode takes the text byte for byte. `escChar` is the opening
// bracket of the escape pair and is read only in Mixed mode. A mode outside
// TDataMode gives an empty result.
[[nodiscard]] ByteString ParseData(std::string_view text, TDataMode mode, char escChar);

} // namespace kestrune
