#pragma once

#include "codec/ByteString.h"

#include <initializer_list>

namespace kestrune::test {

// Byte strings written as numbers, so zero bytes and high bytes read plainly.
inline ByteString Bytes(std::initializer_list<int> values)
{
    ByteString bytes;
    for (int v : values)
        bytes.push_back(static_cast<char>(v));
    return bytes;
}

} // namespace kestrune::test
