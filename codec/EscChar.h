#pragma once

#include <array>
#include <cstddef>

namespace kestrune {

// The opening brackets of the Mixed-mode escape pairs, in list order.
inline constexpr std::array<char, 4> EscCharOpeners = {'{', '[', '(', '<'};

// "(" closes with ")", one code up; the other brackets close two codes up.
[[nodiscard]] constexpr char CloseBracketOf(char open) noexcept
{
    return open == '(' ? ')' : static_cast<char>(static_cast<unsigned char>(open) + 2);
}

// Formatter and parser both go through these, so an opening bracket outside
// the four pairs (say a zero byte or a hex digit) can neither put control
// bytes into the display text nor break the way back from text to bytes: it
// counts as the first pair.
[[nodiscard]] constexpr std::size_t EscCharIndexOf(char open) noexcept
{
    for (std::size_t i = 0; i < EscCharOpeners.size(); ++i)
        if (EscCharOpeners[i] == open)
            return i;
    return 0;
}

[[nodiscard]] constexpr char EscCharOrDefault(char open) noexcept
{
    return EscCharOpeners[EscCharIndexOf(open)];
}

} // namespace kestrune
