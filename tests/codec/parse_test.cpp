#include "codec/Parse.h"
#include "tests/codec/ByteHelpers.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::Bytes;
using namespace std::string_view_literals;

struct TParseCase
{
    std::string_view text;
    ByteString bytes;
};

void ExpectParses(TDataMode mode, char escChar, std::initializer_list<TParseCase> cases)
{
    for (const auto &c : cases)
        EXPECT_EQ(ParseData(c.text, mode, escChar), c.bytes) << "text: " << c.text;
}

TEST(ParseData, HexRuns)
{
    ExpectParses(dmHex, '{',
                 {
                     {"01 02 0A ff", Bytes({0x01, 0x02, 0x0A, 0xFF})},
                     {"0102AF", Bytes({0x01, 0x02, 0xAF})},
                     {"1 2 3", Bytes({0x01, 0x02, 0x03})},
                     {"123", Bytes({0x12, 0x03})},
                     {"1 23 456", Bytes({0x01, 0x23, 0x45, 0x06})},
                     {"ABC", Bytes({0xAB, 0x0C})},
                     {"0x1F", Bytes({0x00, 0x1F})},
                     {"0x12", Bytes({0x00, 0x12})},
                     {"12,34;56", Bytes({0x12, 0x34, 0x56})},
                     {"G1", Bytes({0x01})},
                     {"F", Bytes({0x0F})},
                     {"aB cD", Bytes({0xAB, 0xCD})},
                     {"\t7\r\n8-9", Bytes({0x07, 0x08, 0x09})},
                     {"", {}},
                     {"   ", {}},
                     {"ghij xyz", {}},
                 });
}

TEST(ParseData, MixedEscapes)
{
    ExpectParses(dmMixed, '{',
                 {
                     {"AT{0D 0A}", Bytes({0x41, 0x54, 0x0D, 0x0A})},
                     {"A{1}B", Bytes({0x41, 0x01, 0x42})},
                     {"A{123}B", Bytes({0x41, 0x12, 0x03, 0x42})},
                     {"{414}", Bytes({0x41, 0x04})},
                     {"A}B", Bytes({0x41, 0x7D, 0x42})},
                     {"{{41}", Bytes({0x41})},
                     {"{4{1}", Bytes({0x04, 0x01})},
                     {"{}", {}},
                     {"A{12", Bytes({0x41, 0x12})},
                     {"A{1", Bytes({0x41, 0x01})},
                     {"x{0d0a", Bytes({0x78, 0x0D, 0x0A})},
                     {"{4}{1}", Bytes({0x04, 0x01})},
                     {"A(41)B", Bytes({0x41, 0x28, 0x34, 0x31, 0x29, 0x42})},
                     {"a\r\n[0]", Bytes({0x61, 0x0D, 0x0A, 0x5B, 0x30, 0x5D})},
                     // A lead byte of a double-byte character is data; the
                     // bracket byte after it still opens an escape.
                     {"\x81{41}", Bytes({0x81, 0x41})},
                     {"", {}},
                 });
    ExpectParses(dmMixed, '(',
                 {{"A(41)B", Bytes({0x41, 0x41, 0x42})}, {"{41}", ByteString("{41}")}});
    ExpectParses(dmMixed, '<', {{"<0D><0A>>", Bytes({0x0D, 0x0A, 0x3E})}});
}

TEST(ParseData, CharacterModeTakesTextByteForByte)
{
    const std::string_view text = "{41} [0]\r\n\0\xFF"sv;
    EXPECT_EQ(ParseData(text, dmCharacter, '{'), ByteString(text));
    EXPECT_EQ(ParseData("", dmCharacter, '{'), "");
}

TEST(ParseData, UnknownModeGivesNothing)
{
    EXPECT_EQ(ParseData("41", static_cast<TDataMode>(3), '{'), "");
    EXPECT_EQ(ParseData("41", static_cast<TDataMode>(200), '{'), "");
}

TEST(ParseData, UnknownOpeningBracketParsesAsBraces)
{
    for (char odd : {'\0', 'A', '\xFF'})
        EXPECT_EQ(ParseData("A{42}C", dmMixed, odd), "ABC") << int(odd);
}

TEST(HexDigitValue, TwentyTwoDigitsAndNothingElse)
{
    int digits = 0;
    for (int c = 0; c < 256; ++c) {
        const std::uint8_t v = HexDigitValue(static_cast<char>(c));
        digits += v != NotHexDigit;
        EXPECT_TRUE(v < 16 || v == NotHexDigit) << c;
    }
    EXPECT_EQ(digits, 22);
    // Neighbours of the digit ranges, where off-by-one faults show.
    for (char c : {'/', ':', '@', 'G', '`', 'g'})
        EXPECT_EQ(HexDigitValue(c), NotHexDigit) << c;
}

} // namespace
} // namespace kestrune
