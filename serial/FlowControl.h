#pragma once

#include <array>
#include <cstdint>

namespace kestrune {

// A channel's flow control, chosen in the time-outs dialog; the ordinal is
// the list position, the text the settings file's value.
enum class TFlowControl : std::uint8_t
{
    None,
    RtsCts,
    XonXoff
};

inline constexpr std::array<const char *, 3> FlowControlTexts = {"None", "RTS/CTS", "XON/XOFF"};

} // namespace kestrune
