// Typed text to bytes and back: any text parses in every mode; the display text
// of any bytes is printable and, in Hex and Mixed, parses back to those bytes.
#include "FuzzCheck.h"
#include "codec/EscChar.h"
#include "codec/Format.h"
#include "codec/Parse.h"

#include <cstdint>
#include <string>

using namespace kestrune;

namespace {

bool printable(const std::string &text, bool lineBreaks)
{
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 || u > 0x7e) && !(lineBreaks && (c == '\r' || c == '\n')))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the bracket, as any byte may arrive there from a setting.
    const char escChar = static_cast<char>(data[0]);
    const std::string input(reinterpret_cast<const char *>(data + 1), size - 1);

    FUZZ_CHECK(ParseData(input, dmCharacter, escChar) == input);
    for (const TDataMode mode : {dmHex, dmCharacter, dmMixed}) {
        // As bytes: shown printable, and back again where the form is lossless.
        const std::string shown = FormatData(input, mode, escChar);
        FUZZ_CHECK(printable(shown, mode == dmCharacter));
        if (mode != dmCharacter)
            FUZZ_CHECK(ParseData(shown, mode, escChar) == input);
        // As typed text: whatever it gives is shown and read back the same.
        const ByteString typed = ParseData(input, mode, escChar);
        if (mode != dmCharacter)
            FUZZ_CHECK(ParseData(FormatData(typed, mode, escChar), mode, escChar) == typed);
    }
    FUZZ_CHECK(FormatData(input, static_cast<TDataMode>(3), escChar).empty());
    FUZZ_CHECK(ParseData(input, static_cast<TDataMode>(3), escChar).empty());
    return 0;
}
