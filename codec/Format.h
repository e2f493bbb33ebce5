#pragma once

#include "codec/ByteString.h"
#include "codec/DataMode.h"

#include <cstdint>
#include <string>

namespace kestrune {

// Two upper-case hex digits, high nibble first.
[[nodiscard]] std::string ByteToHex(std::uint8_t value);

// Display text of `data`: only printable ASCII (plus CR and LF in Character
// mode), so any text control can take it as it is. `escChar` is the opening
// bracket of the escape pair and is read only in Mixed mode. A mode outside
// TDataMode gives an empty text.
[[nodiscard]] std::string FormatData(const ByteString &data, TDataMode mode, char escChar);

} // namespace kestrune
