#include "codec/EscChar.h"
#include "codec/Format.h"
#include "codec/Parse.h"

#include <gtest/gtest.h>

#include <random>

namespace kestrune {
namespace {

using namespace std::string_literals;

// Hex and Mixed display texts must parse back to the bytes they show, with
// every bracket pair; Character text is lossy by design and is not included.
struct TTextForm
{
    TDataMode mode;
    char escChar;
};

std::string FormName(const testing::TestParamInfo<TTextForm> &info)
{
    static const char *const names[] = {"Braces", "Squares", "Parens", "Angles"};
    if (info.param.mode == dmHex)
        return "Hex";
    for (std::size_t i = 0; i < EscCharOpeners.size(); ++i)
        if (EscCharOpeners[i] == info.param.escChar)
            return std::string("Mixed") + names[i];
    return "Unknown";
}

class RoundTrip : public testing::TestWithParam<TTextForm>
{
protected:
    ByteString Back(const ByteString &bytes) const
    {
        const auto [mode, esc] = GetParam();
        return ParseData(FormatData(bytes, mode, esc), mode, esc);
    }
};

TEST_P(RoundTrip, EveryByteValueAlone)
{
    for (int v = 0; v < 256; ++v) {
        const ByteString one(1, static_cast<char>(v));
        EXPECT_EQ(Back(one), one) << "byte " << v;
    }
}

TEST_P(RoundTrip, RandomStringsOfEveryLengthUpTo300)
{
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t len = 0; len <= 300; ++len) {
        ByteString bytes(len, '\0');
        for (char &b : bytes)
            b = static_cast<char>(byte(rng));
        ASSERT_EQ(Back(bytes), bytes) << "length " << len;
    }
}

// Runs of brackets and control bytes side by side are where escapes could merge.
TEST_P(RoundTrip, RunsOfEscapedBytes)
{
    const ByteString bytes = "{{}}[[]]((<<>>))\r\n\r\n\0\0\xFF\xFF\x7F"s;
    EXPECT_EQ(Back(bytes), bytes);
}

INSTANTIATE_TEST_SUITE_P(Codec, RoundTrip,
                         testing::Values(TTextForm{dmHex, '{'}, TTextForm{dmMixed, '{'},
                                         TTextForm{dmMixed, '['}, TTextForm{dmMixed, '('},
                                         TTextForm{dmMixed, '<'}),
                         FormName);

} // namespace
} // namespace kestrune
