#pragma once

#include <stdexcept>

namespace kestrune {

// Raised by the socket endpoint and the address helpers; the message is the
// fixed English text the main window shows after "Network operate error.".
class ESocketError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace kestrune
