#include "codec/Format.h"

#include "codec/EscChar.h"
#include "codec/HexText.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace kestrune {

namespace {

constexpr bool IsPrintable(unsigned char b)
{
    return b >= 0x20 && b <= 0x7E;
}

// Line breaks are kept so received text reads as lines.
constexpr std::array<char, 256> ShownChars = [] {
    std::array<char, 256> shown{};
    for (unsigned i = 0; i < 256; ++i)
        shown[i] = IsPrintable(static_cast<unsigned char>(i)) || i == '\r' || i == '\n'
                       ? static_cast<char>(i)
                       : '.';
    return shown;
}();

// How Mixed mode shows each byte value under one bracket pair: the byte
// itself, or the bracket, its digit pair and the closing bracket.
struct TMixedShapes
{
    std::array<std::array<char, 4>, 256> chars{};
    std::array<std::uint8_t, 256> length{};
};

constexpr TMixedShapes MixedShapesOf(char open)
{
    const char close = CloseBracketOf(open);
    TMixedShapes shapes{};
    for (unsigned i = 0; i < 256; ++i) {
        const char c = static_cast<char>(i);
        if (IsPrintable(static_cast<unsigned char>(i)) && c != open && c != close) {
            shapes.chars[i] = {c, 0, 0, 0};
            shapes.length[i] = 1;
        } else {
            shapes.chars[i] = {open, HexPairs[i][0], HexPairs[i][1], close};
            shapes.length[i] = 4;
        }
    }
    return shapes;
}

// In the order of EscCharOpeners.
constexpr std::array<TMixedShapes, 4> MixedShapes = {MixedShapesOf('{'), MixedShapesOf('['),
                                                     MixedShapesOf('('), MixedShapesOf('<')};

std::string FormatHex(const ByteString &data)
{
    if (data.empty())
        return {};
    std::string text(data.size() * 3 - 1, ' ');
    WriteHexText(data, text.data());
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
    const TMixedShapes &shapes = MixedShapes[EscCharIndexOf(escChar)];

    // Measuring first lets the text be allocated once at its exact size.
    std::size_t length = 0;
    for (unsigned char b : data)
        length += shapes.length[b];
    std::string text(length, '\0');

    // Storing all four characters of every shape avoids a branch per byte;
    // while four bytes remain, at least four characters of room remain.
    char *out = text.data();
    const auto *in = reinterpret_cast<const unsigned char *>(data.data());
    const std::size_t count = data.size();
    std::size_t i = 0;
    for (; i + 3 < count; ++i) {
        std::memcpy(out, shapes.chars[in[i]].data(), 4);
        out += shapes.length[in[i]];
    }
    for (; i < count; ++i) {
        std::memcpy(out, shapes.chars[in[i]].data(), shapes.length[in[i]]);
        out += shapes.length[in[i]];
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
