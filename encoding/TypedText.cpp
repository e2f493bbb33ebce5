#include "encoding/TypedText.h"

#include "codec/EscChar.h"
#include "codec/Parse.h"

namespace kestrune {

ByteString ParseTyped(std::string_view utf8, TDataMode mode, char escChar, TEncoding encoding,
                      std::string *missing)
{
    if (encoding == TEncoding::Latin1 || mode == dmHex || mode > dmMixed)
        return ParseData(utf8, mode, escChar);
    if (mode == dmCharacter)
        return EncodeText(utf8, encoding, missing);
    // Mixed: escapes are ASCII, so they are found by byte; the literal runs
    // between them are encoded whole. A bracket is never inside a multi-byte
    // UTF-8 character, so the split cannot cut one.
    const char open = EscCharOrDefault(escChar);
    const char close = CloseBracketOf(open);
    ByteString out;
    std::size_t at = 0;
    while (at < utf8.size()) {
        const std::size_t escape = utf8.find(open, at);
        out += EncodeText(utf8.substr(at, escape - at), encoding, missing);
        if (escape == std::string_view::npos)
            break;
        const std::size_t end = utf8.find(close, escape + 1);
        const std::size_t stop = end == std::string_view::npos ? utf8.size() : end + 1;
        out += ParseData(utf8.substr(escape, stop - escape), dmMixed, open);
        at = stop;
    }
    return out;
}

std::string IgnoredInHex(std::string_view utf8)
{
    // "x" of a 0x prefix separates too, as everyone writes it.
    static constexpr std::string_view Separators = " \t\r\n,;:-_.xX";
    std::string ignored;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        std::size_t length = 1;
        if (b >= 0xF0)
            length = 4;
        else if (b >= 0xE0)
            length = 3;
        else if (b >= 0xC0)
            length = 2;
        const std::string_view one = utf8.substr(i, length);
        i += length;
        if (length == 1 && (HexDigitValue(static_cast<char>(b)) != NotHexDigit ||
                            Separators.find(static_cast<char>(b)) != std::string_view::npos))
            continue;
        if (ignored.find(one) == std::string::npos)
            ignored += one;
    }
    return ignored;
}

} // namespace kestrune
