#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrune {

// Raised when a text that must hold an integer does not.
class EConvertError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The one text-to-integer conversion of the program: optional leading blanks,
// an optional sign, then decimal digits, or hexadecimal digits after "$", "x"
// or "0x" (any case). Nothing may follow, and the value must fit in 32 bits
// signed. Used by the settings reader, the panel, the dialogs and command files.
[[nodiscard]] std::optional<std::int32_t> TryStrToInt(std::string_view text);

// As TryStrToInt, but a text that does not convert raises EConvertError with
// "'<text>' is not a valid integer value".
[[nodiscard]] std::int32_t StrToInt(std::string_view text);

// StrToInt, or `fallback` when the text does not convert.
[[nodiscard]] std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback);

} // namespace kestrune
