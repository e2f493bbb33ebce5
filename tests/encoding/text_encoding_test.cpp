// Decoding for display and encoding of typed text, known answers per encoding.
#include "encoding/ByteCells.h"
#include "encoding/TypedText.h"

#include "codec/ByteHelpers.h"
#include "codec/Format.h"

#include <QString>
#include <gtest/gtest.h>

#include <random>

namespace kestrune {
namespace {

using test::Bytes;

const std::string Replacement = "\xEF\xBF\xBD"; // U+FFFD

struct TShowCase
{
    TEncoding Encoding;
    TDataMode Mode;
    ByteString Data;
    std::string Shown; // UTF-8
};

class ShownTextTest : public testing::TestWithParam<TShowCase>
{
};

TEST_P(ShownTextTest, ShowsEachCharacterOnceAndEscapesWhatDoesNotDecode)
{
    const TShowCase &c = GetParam();
    EXPECT_EQ(FormatText(c.Data, c.Mode, '{', c.Encoding), c.Shown);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, ShownTextTest,
    testing::Values(
        // UTF-8: whole characters, broken and unfinished ones.
        TShowCase{TEncoding::Utf8, dmCharacter, "A\xE4\xB8\xAD\r\n", "A\xE4\xB8\xAD\r\n"},
        TShowCase{TEncoding::Utf8, dmCharacter,
                  "\xE4"
                  "A\xFF",
                  Replacement + "A" + Replacement},
        TShowCase{TEncoding::Utf8, dmCharacter, "A\xE4\xB8", "A"},
        TShowCase{TEncoding::Utf8, dmCharacter, "\xC2\x85\t", "..."},
        TShowCase{TEncoding::Utf8, dmCharacter, "\xED\xA0\x80",
                  Replacement + Replacement + Replacement},
        TShowCase{TEncoding::Utf8, dmMixed, "\xE4\xB8\xAD{\r", "\xE4\xB8\xAD{7B}{0D}"},
        TShowCase{TEncoding::Utf8, dmMixed,
                  "\xE4"
                  "A\xC3\xA9",
                  "{E4}A\xC3\xA9"},
        TShowCase{TEncoding::Utf8, dmMixed, "\xC2\x85", "{C2}{85}"},
        TShowCase{TEncoding::Utf8, dmHex, "\xE4\xB8\xAD", "E4 B8 AD"},
        // GB18030: two and four bytes, and bytes that start nothing.
        TShowCase{TEncoding::Gb18030, dmCharacter, "\xD6\xD0\xCE\xC4", "\xE4\xB8\xAD\xE6\x96\x87"},
        TShowCase{TEncoding::Gb18030, dmCharacter, "\x81\x30\x84\x36", "\xC2\xA5"},
        TShowCase{TEncoding::Gb18030, dmCharacter, "\x81 \x80", Replacement + " " + Replacement},
        TShowCase{TEncoding::Gb18030, dmCharacter, "A\xD6", "A"},
        TShowCase{TEncoding::Gb18030, dmMixed, "\xD6\xD0{\xFF", "\xE4\xB8\xAD{7B}{FF}"},
        TShowCase{TEncoding::Gb18030, dmHex, "\xD6\xD0", "D6 D0"},
        // The others, one character each.
        TShowCase{TEncoding::ShiftJis, dmCharacter, "\x82\xA0\xB1", "\xE3\x81\x82\xEF\xBD\xB1"},
        TShowCase{TEncoding::EucKr, dmCharacter, "\xB0\xA1", "\xEA\xB0\x80"},
        TShowCase{TEncoding::Windows1251, dmMixed, "\xC0\x98", "\xD0\x90{98}"},
        TShowCase{TEncoding::Windows1252, dmCharacter, "\x80\x81", "\xE2\x82\xAC."},
        // Latin-1 is the original display, byte by byte.
        TShowCase{TEncoding::Latin1, dmCharacter, "\xE4\xB8\xAD", "..."},
        TShowCase{TEncoding::Latin1, dmMixed, "\xE4{", "{E4}{7B}"}));

// Every byte string shows as the original formatter shows it in Latin-1 and
// in Hex, and any encoding's text is well-formed UTF-8 however random the bytes.
TEST(ShownText, HexAndLatin1AreTheOriginalAndEveryTextIsWellFormed)
{
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        ByteString data(random() % 40, '\0');
        for (char &b : data)
            b = static_cast<char>(random());
        for (const TDataMode mode : {dmHex, dmCharacter, dmMixed}) {
            EXPECT_EQ(FormatText(data, mode, '[', TEncoding::Latin1), FormatData(data, mode, '['));
            EXPECT_EQ(FormatText(data, dmHex, '[', static_cast<TEncoding>(round % 7)),
                      FormatData(data, dmHex, '['));
            const std::string text = FormatText(data, mode, '[', static_cast<TEncoding>(round % 7));
            const QString back =
                QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
            EXPECT_EQ(back.toUtf8().toStdString(), text);
        }
    }
}

struct TTypedCase
{
    TEncoding Encoding;
    TDataMode Mode;
    std::string Typed; // UTF-8, as a widget gives it
    ByteString Bytes;
    std::string Missing;
};

class TypedTextTest : public testing::TestWithParam<TTypedCase>
{
};

TEST_P(TypedTextTest, SendsTheTextInTheEncodingAndNamesWhatItLacks)
{
    const TTypedCase &c = GetParam();
    std::string missing;
    EXPECT_EQ(ParseTyped(c.Typed, c.Mode, '{', c.Encoding, &missing), c.Bytes);
    EXPECT_EQ(missing, c.Missing);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, TypedTextTest,
    testing::Values(TTypedCase{TEncoding::Gb18030, dmCharacter, "\xE4\xB8\xAD\xE6\x96\x87",
                               "\xD6\xD0\xCE\xC4", ""},
                    TTypedCase{TEncoding::Gb18030, dmMixed, "\xE4\xB8\xAD{0D 0A}{7B",
                               Bytes({0xD6, 0xD0, 0x0D, 0x0A, 0x7B}), ""},
                    TTypedCase{TEncoding::Utf8, dmMixed, "\xC3\xA9}{41}", "\xC3\xA9}A", ""},
                    TTypedCase{TEncoding::ShiftJis, dmCharacter, "\xE3\x81\x82", "\x82\xA0", ""},
                    TTypedCase{TEncoding::Windows1251, dmCharacter,
                               "\xE4\xB8\xAD\xD0\x90\xE4\xB8\xAD", "\xC0", "\xE4\xB8\xAD"},
                    TTypedCase{TEncoding::Gb18030, dmHex, "\xE4\xB8\xAD 41", "A", ""},
                    // Latin-1 keeps what was always sent: the text's own bytes.
                    TTypedCase{TEncoding::Latin1, dmCharacter, "\xC3\xA9", "\xC3\xA9", ""}));

TEST(TypedText, HexHintNamesEveryCharacterHexModePassesOver)
{
    EXPECT_EQ(IgnoredInHex("Marlowen"), "Mrlown");
    EXPECT_EQ(IgnoredInHex("0x1F, 2a;3B-4c\r\n"), "");
    EXPECT_EQ(IgnoredInHex("41 \xE4\xB8\xAD \xE4\xB8\xAD G"), "\xE4\xB8\xADG");
}

TEST(TextEncoding, NamesReadBackInAnyCaseAndOthersAreRefused)
{
    for (std::size_t i = 0; i < EncodingNames.size(); ++i) {
        std::string upper = EncodingNames[i];
        for (char &c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(EncodingFromName(upper), static_cast<TEncoding>(i)) << upper;
    }
    EXPECT_FALSE(EncodingFromName("UTF-16"));
    EXPECT_FALSE(EncodingFromName(""));
}

} // namespace
} // namespace kestrune
