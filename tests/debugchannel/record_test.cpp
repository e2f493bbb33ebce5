#include "debugchannel/DebugRecord.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace kestrune {
namespace {

struct RecordCase
{
    std::string Text;
    std::uint8_t Kind;
    std::string Expected;
};

TEST(DebugRecord, BuildsMarkerKindTextAndClosingZero)
{
    const RecordCase cases[] = {
        {"COMReceiveError", 2,
         "\x01\x03"
         "COMReceiveError\0"s},
        {"COMModemStateChange", 2,
         "\x01\x03"
         "COMModemStateChange\0"s},
        // Only the text that is exactly 0x03 is a command.
        {"\x03", 2, "\x03\x03\x03\0"s},
        {"\x03x", 2, "\x01\x03\x03x\0"s},
        {"\x03\x03", 2, "\x01\x03\x03\x03\0"s},
        {"", 2, "\x01\x03\0"s},
        {"a\0b"s, 0,
         "\x01\x01"
         "a\0b\0"s},
        {"z", 255, "\x01\x00z\0"s},
    };
    for (const auto &c : cases) {
        const std::string record = BuildDebugRecord(c.Text, c.Kind);
        EXPECT_EQ(record, c.Expected) << "text of " << c.Text.size() << " bytes";
        EXPECT_EQ(record.size(), c.Text.size() + 3);
    }
}

TEST(DebugRecord, ParseReadsBackEveryKindAndKeepsZeroBytes)
{
    for (const std::string &text : {""s, "\x03"s, "\x03z"s, "a\0b"s, std::string(300, '\xff')}) {
        for (int kind = 0; kind < 256; ++kind) {
            const auto record = ParseDebugRecord(BuildDebugRecord(text, kind));
            ASSERT_TRUE(record.has_value());
            EXPECT_EQ(record->Kind, kind);
            EXPECT_EQ(record->Text, text);
            EXPECT_EQ(record->Marker, text == "\x03" ? DebugRecordCommand : DebugRecordText);
        }
    }
}

TEST(DebugRecord, ParseRejectsWhatIsNoRecord)
{
    for (const std::string &bytes : {""s, "\x01\x03"s,
                                     "\x01\x03"
                                     "abc"s,
                                     "\x02\x03"
                                     "a\0"s,
                                     "\0\x03"
                                     "a\0"s}) {
        EXPECT_FALSE(ParseDebugRecord(bytes).has_value()) << bytes.size() << " bytes";
    }
}

TEST(DebugRecord, DescriptionEscapesWhatCouldDriveATerminal)
{
    const std::pair<std::string, std::string> cases[] = {
        {BuildDebugRecord("COMReceiveError", 2), "kind 2: COMReceiveError"},
        {BuildDebugRecord("\x03", 2), "kind 2, command: \\x03"},
        {BuildDebugRecord("a\x1b[2J\\\r\n\x7f", 0), "kind 0: a\\x1b[2J\\x5c\\x0d\\x0a\\x7f"},
        {BuildDebugRecord("gr\xc3\xbc\xc3\x9f", 4), "kind 4: gr\xc3\xbc\xc3\x9f"},
        {"xyz", "malformed record of 3 bytes"},
    };
    for (const auto &[datagram, line] : cases)
        EXPECT_EQ(DescribeDebugRecord(datagram), line);
}

} // namespace
} // namespace kestrune
