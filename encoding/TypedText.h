#pragma once

#include "codec/ByteString.h"
#include "codec/DataMode.h"
#include "encoding/TextEncoding.h"

#include <string>
#include <string_view>

namespace kestrune {

// The bytes of typed text (UTF-8, as a widget or a file holds it) in a data
// mode and an encoding. Hex is the same in every encoding. In Character mode
// the text is encoded; in Mixed mode the characters outside escapes are, the
// escapes give their bytes. Latin-1 is the original conversion: the text's
// bytes as they are. Characters the encoding lacks are left out and named in
// `missing` when it is given.
[[nodiscard]] ByteString ParseTyped(std::string_view utf8, TDataMode mode, char escChar,
                                    TEncoding encoding, std::string *missing = nullptr);

// Characters of a text that Hex mode passes over: all but hex digits,
// blanks and the usual separators, each named once.
[[nodiscard]] std::string IgnoredInHex(std::string_view utf8);

} // namespace kestrune
