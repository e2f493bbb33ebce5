#pragma once

#include <stdexcept>

namespace kestrune {

// What the user is shown before the reason when a network channel fails to
// open or is lost: "Network operate error.", a line break, "Error msg:".
inline constexpr const char *NetworkErrorPrefix = "Network operate error.\r\nError msg:";

// Raised by the socket endpoint and the address helpers; the message is the
// fixed English text shown after NetworkErrorPrefix.
class ESocketError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace kestrune
