#pragma once

#include <cstdint>

namespace kestrune {

// How bytes are typed and shown. The values are the positions in the data-mode
// list and the numbers stored in the settings file: keep them in this order.
enum TDataMode : std::uint8_t
{
    dmHex = 0,
    dmCharacter = 1,
    dmMixed = 2,
};

} // namespace kestrune
