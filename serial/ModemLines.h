#pragma once

#include <cstdint>

namespace kestrune {

// Levels of the modem input lines as one set of bits, with the values serial
// tools have long used for a port's modem status (and RFC 2217 for its
// modem-state notification).
inline constexpr std::uint32_t ModemLineCts = 0x10;
inline constexpr std::uint32_t ModemLineDsr = 0x20;
inline constexpr std::uint32_t ModemLineRing = 0x40;
inline constexpr std::uint32_t ModemLineCarrier = 0x80;
inline constexpr std::uint32_t ModemLineMask = 0xF0;

} // namespace kestrune
