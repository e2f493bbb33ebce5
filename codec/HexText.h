#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace kestrune {

using THexPair = std::array<char, 2>;

// Upper-case digit pairs of every byte value, high nibble first.
inline constexpr std::array<THexPair, 256> HexPairs = [] {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<THexPair, 256> pairs{};
    for (unsigned i = 0; i < 256; ++i)
        pairs[i] = {digits[i >> 4], digits[i & 0x0F]};
    return pairs;
}();

// Writes the Hex display text of `bytes` to `out`: pairs separated by one
// blank, 3n - 1 characters for n bytes (none for no bytes).
void WriteHexText(std::string_view bytes, char *out) noexcept;

} // namespace kestrune
