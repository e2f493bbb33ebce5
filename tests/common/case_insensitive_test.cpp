#include "common/CaseInsensitive.h"

#include <gtest/gtest.h>
#include <unordered_map>

namespace kestrune {
namespace {

TEST(CaseInsensitive, OnlyAsciiLettersFoldAndEveryOtherByteMustMatch)
{
    for (int c = 0; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const char other = letter ? static_cast<char>(c ^ 0x20) : ch;
        EXPECT_TRUE(SameText(std::string(1, ch), std::string(1, other))) << c;
        EXPECT_EQ(LowerAscii(ch), (c >= 'A' && c <= 'Z') ? other : ch) << c;
        EXPECT_EQ(UpperAscii(ch), (c >= 'a' && c <= 'z') ? other : ch) << c;
    }
    EXPECT_TRUE(SameText("TCPClient", "tcpCLIENT"));
    EXPECT_FALSE(SameText("TCPClient", "TCPClient "));
    EXPECT_FALSE(SameText("\xC4", "\xE4")) << "bytes beyond ASCII are compared as they are";
    EXPECT_TRUE(StartsWithText("com3", "COM"));
    EXPECT_FALSE(StartsWithText("CO", "COM"));
    EXPECT_EQ(LowerAsciiText("Trans12 \xC4"), "trans12 \xC4");
}

TEST(CaseInsensitive, HashAndEqualityKeyAMapByName)
{
    std::unordered_map<std::string, int, TTextHash, TTextEqual> names;
    names.emplace("Main", 1);
    EXPECT_FALSE(names.emplace("MAIN", 2).second);
    EXPECT_EQ(names.at("main"), 1);
    EXPECT_EQ(TTextHash{}("Trans0"), TTextHash{}("tRANS0"));
}

} // namespace
} // namespace kestrune
