#include "codec/Format.h"

#include "codec/EscChar.h"

#include <array>
#include <cstring>

namespace kestrune {

namespace {

using THexPair = std::array<char, 2>;

constexpr std::array<THexPair, 256> HexPairs = [] {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<THexPair, 256> pairs{};
    for (unsigned i = 0; i < 256; ++i)
        pairs[i] = {digits[i >> 4], digits[i & 0x0F]};
    return pairs;
}();

// Character mode keeps line breaks so received text reads as lines.
constexpr std::array<char, 256> ShownChars = [] {
    std::array<char, 256> shown{};
    for (unsigned i = 0; i < 256; ++i)
        shown[i] = (i >= 0x20 && i <= 0x7E) || i == '\r' || i == '\n' ? static_cast<char>(i) : '.';
    return shown;
}();

constexpr bool IsPrintable(unsigned char b)
{
    return b >= 0x20 && b <= 0x7E;
}

std::string FormatHex(const ByteString &data)
{
    if (data.empty())
        return {};
    // Filled with blanks up front, so the loop writes only the digit pairs.
    std::string text(data.size() * 3 - 1, ' ');
    char *out = text.data();
    for (unsigned char b : data) {
        std::memcpy(out, HexPairs[b].data(), 2);
        out += 3;
    }
    return text;
}

std::string FormatCharacter(const ByteString &data)
{
    std::string text(data.size(), '.');
    char *out = text.data();
    for (unsigned char b : data)
        *out++ = ShownChars[b];
    return text;
}

std::string FormatMixed(const ByteString &data, char escChar)
{
    const char open = EscCharOrDefault(escChar);
    const char close = CloseBracketOf(open);
    std::array<bool, 256> escaped{};
    for (unsigned i = 0; i < 256; ++i)
        escaped[i] = !IsPrintable(static_cast<unsigned char>(i)) || static_cast<char>(i) == open ||
                     static_cast<char>(i) == close;

    // Counting first lets the text be allocated once at its exact size.
    std::size_t escapes = 0;
    for (unsigned char b : data)
        escapes += escaped[b];

    std::string text(data.size() + escapes * 3, '\0');
    char *out = text.data();
    for (unsigned char b : data) {
        if (escaped[b]) {
            out[0] = open;
            std::memcpy(out + 1, HexPairs[b].data(), 2);
            out[3] = close;
            out += 4;
        } else {
            *out++ = static_cast<char>(b);
        }
    }
    return text;
}

} // namespace

std::string ByteToHex(std::uint8_t value)
{
    return {HexPairs[value].begin(), HexPairs[value].end()};
}

std::string FormatData(const ByteString &data, TDataMode mode, char escChar)
{
    switch (mode) {
    case dmHex:
        return FormatHex(data);
    case dmCharacter:
        return FormatCharacter(data);
    case dmMixed:
        return FormatMixed(data, escChar);
    }
    return {};
}

} // namespace kestrune
