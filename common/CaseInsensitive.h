#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrune {

// Names in settings, command files and port lists match without regard to the
// case of the ASCII letters A to Z; other bytes must be equal.
[[nodiscard]] constexpr char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

[[nodiscard]] constexpr char UpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

[[nodiscard]] constexpr bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

[[nodiscard]] constexpr bool StartsWithText(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

[[nodiscard]] std::string LowerAsciiText(std::string_view text);

// Hash and equality for unordered containers keyed by such names.
struct TTextHash
{
    using is_transparent = void;
    [[nodiscard]] std::size_t operator()(std::string_view text) const noexcept;
};

struct TTextEqual
{
    using is_transparent = void;
    [[nodiscard]] bool operator()(std::string_view a, std::string_view b) const noexcept
    {
        return SameText(a, b);
    }
};

} // namespace kestrune
