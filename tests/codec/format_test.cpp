#include "codec/EscChar.h"
#include "codec/Format.h"
#include "codec/Parse.h"
#include "tests/codec/ByteHelpers.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::Bytes;

struct TFormatCase
{
    ByteString data;
    TDataMode mode;
    char escChar;
    std::string text;
};

TEST(FormatData, KnownTexts)
{
    const ByteString sample = Bytes({0x41, 0x0D, 0x0A, 0x7B, 0x00, 0xFF, 0x7D});
    const TFormatCase cases[] = {
        {sample, dmHex, '{', "41 0D 0A 7B 00 FF 7D"},
        {sample, dmCharacter, '{', "A\r\n{..}"},
        {sample, dmMixed, '{', "A{0D}{0A}{7B}{00}{FF}{7D}"},
        {sample, dmMixed, '[', "A[0D][0A]{[00][FF]}"},
        {Bytes({0x28, 0x29, 0x41}), dmMixed, '(', "(28)(29)A"},
        {Bytes({0x3C, 0x3E, 0x7B}), dmMixed, '<', "<3C><3E>{"},
        {Bytes({0x0A}), dmHex, '{', "0A"},
        {Bytes({0xAB, 0xCD}), dmHex, '{', "AB CD"},
        {Bytes({0x09, 0x00, 0x7F, 0x80, 0x2E, 0x20}), dmCharacter, '{', "..... "},
        {Bytes({0x0D, 0x0A}), dmMixed, '{', "{0D}{0A}"},
        {Bytes({0x09, 0x7F, 0x20}), dmMixed, '<', "<09><7F> "},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FormatData(c.data, c.mode, c.escChar), c.text)
            << "mode " << int(c.mode) << " esc " << c.escChar << " text " << c.text;
}

TEST(FormatData, EmptyDataAndUnknownModeGiveEmptyText)
{
    for (TDataMode mode : {dmHex, dmCharacter, dmMixed})
        EXPECT_EQ(FormatData({}, mode, '{'), "");
    EXPECT_EQ(FormatData("abc", static_cast<TDataMode>(3), '{'), "");
    EXPECT_EQ(FormatData("abc", static_cast<TDataMode>(255), '{'), "");
}

// The text goes straight into widgets and the log: no zero byte, nothing above
// 0x7E, and line breaks only where Character mode keeps CR and LF.
TEST(FormatData, EveryByteValueGivesPrintableTextOfTheRightLength)
{
    for (int v = 0; v < 256; ++v) {
        const ByteString one(1, static_cast<char>(v));
        for (char esc : EscCharOpeners) {
            for (TDataMode mode : {dmHex, dmCharacter, dmMixed}) {
                for (unsigned char c : FormatData(one, mode, esc)) {
                    const bool lineBreak = c == '\r' || c == '\n';
                    EXPECT_TRUE((c >= 0x20 && c <= 0x7E) || (mode == dmCharacter && lineBreak))
                        << "byte " << v << " mode " << int(mode) << " gave " << int(c);
                }
            }
            const bool plain = v >= 0x20 && v <= 0x7E && v != esc && v != CloseBracketOf(esc);
            EXPECT_EQ(FormatData(one, dmMixed, esc).size(), plain ? 1u : 4u) << v;
        }
        EXPECT_EQ(FormatData(one, dmHex, '{'), ByteToHex(static_cast<std::uint8_t>(v)));
        EXPECT_EQ(FormatData(one + one, dmHex, '{').size(), 5u);
    }
}

// Long texts take a block-wise path; pair by pair is the plain definition.
TEST(FormatData, HexTextOfEveryLengthMatchesPairByPair)
{
    ByteString bytes;
    for (int len = 0; len <= 300; ++len) {
        std::string expected;
        for (unsigned char b : bytes)
            expected += (expected.empty() ? "" : " ") + ByteToHex(b);
        ASSERT_EQ(FormatData(bytes, dmHex, '{'), expected) << "length " << len;
        bytes.push_back(static_cast<char>(len * 37 + 11));
    }
}

TEST(ByteToHex, UpperCaseHighNibbleFirst)
{
    for (int v = 0; v < 256; ++v) {
        const std::string hex = ByteToHex(static_cast<std::uint8_t>(v));
        ASSERT_EQ(hex.size(), 2u);
        EXPECT_EQ(HexDigitValue(hex[0]) * 16 + HexDigitValue(hex[1]), v);
        EXPECT_EQ(hex.find_first_of("abcdef"), std::string::npos) << hex;
    }
}

// Callers should only pass the four opening brackets; anything else would put
// a zero byte or a hex digit into the escapes, so it falls back to "{}".
TEST(EscChar, UnknownOpeningBracketFormatsAsBraces)
{
    const ByteString data = Bytes({0x00, 0x41, 0x7B, 0xFE});
    for (char odd : {'\0', 'A', 'C', '\xFE', '\xFF', ' '})
        EXPECT_EQ(FormatData(data, dmMixed, odd), "{00}A{7B}{FE}") << int(odd);
}

} // namespace
} // namespace kestrune
