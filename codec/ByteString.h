#pragma once

#include <string>

namespace kestrune {

// Every block of data, sent or received, and every history: counted 8-bit
// bytes in which a zero byte is an ordinary byte.
using ByteString = std::string;

} // namespace kestrune
