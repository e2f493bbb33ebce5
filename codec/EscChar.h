#pragma once

#include <array>

namespace kestrune {

// The opening brackets of the Mixed-mode escape pairs, in list order.
inline constexpr std::array<char, 4> EscCharOpeners = {'{', '[', '(', '<'};

// "(" closes with ")", one code up; the other brackets close two codes up.
[[nodiscard]] constexpr char CloseBracketOf(char open) noexcept
{
    return open == '(' ? ')' : static_cast<char>(static_cast<unsigned char>(open) + 2);
}

[[nodiscard]] constexpr bool IsEscChar(char open) noexcept
{
    for (char c : EscCharOpeners)
        if (c == open)
            return true;
    return false;
}

// Formatter and parser both go through this, so an opening bracket outside
// the four pairs (say a zero byte or a hex digit) can neither put control
// bytes into the display text nor break the way back from text to bytes.
[[nodiscard]] constexpr char EscCharOrDefault(char open) noexcept
{
    return IsEscChar(open) ? open : EscCharOpeners[0];
}

} // namespace kestrune
