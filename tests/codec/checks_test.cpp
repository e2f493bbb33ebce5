#include "codec/Checks.h"
#include "tests/codec/ByteHelpers.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::Bytes;

struct TCheckCase
{
    ByteString data;
    std::uint16_t crc;
    std::uint8_t sumMod;
    std::uint8_t sumZero;
};

TEST(Checks, KnownAnswers)
{
    const TCheckCase cases[] = {
        {"", 0xFFFF, 0x00, 0xFF},
        {"123456789", 0x4B37, 0xDD, 0x22},
        {"abc", 0x5749, 0x26, 0xD9},
        {Bytes({0x00}), 0x40BF, 0x00, 0xFF},
        {Bytes({0xFF}), 0x00FF, 0xFF, 0x00},
        {Bytes({0x80, 0x80}), 0xD061, 0x00, 0xFF},
        {Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}), 0x0A84, 0x05, 0xFA},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(CalcModbusCRC16(c.data), c.crc) << c.data;
        EXPECT_EQ(CalcSumMod(c.data), c.sumMod) << c.data;
        EXPECT_EQ(CalcSumZero(c.data), c.sumZero) << c.data;
    }
}

TEST(Checks, AppendedBytesLowCrcByteFirst)
{
    const struct
    {
        ByteString data;
        TCheckKind kind;
        ByteString framed;
    } cases[] = {
        {"abc", ckNone, "abc"},
        {"abc", ckModbusCRC16, "abc" + Bytes({0x49, 0x57})},
        {"abc", ckSumMod, "abc" + Bytes({0x26})},
        {"abc", ckSumZero, "abc" + Bytes({0xD9})},
        {"", ckNone, ""},
        {"", ckModbusCRC16, Bytes({0xFF, 0xFF})},
        {"", ckSumMod, Bytes({0x00})},
        {"", ckSumZero, Bytes({0xFF})},
        {Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}), ckModbusCRC16,
         Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A})},
        {"abc", static_cast<TCheckKind>(4), "abc"},
    };
    for (const auto &c : cases) {
        ByteString frame = c.data;
        AppendCheck(frame, c.kind);
        EXPECT_EQ(frame, c.framed) << "kind " << int(c.kind) << " data " << c.data;
    }
}

// A 16-bit count would check only the first (size mod 65,536) bytes.
TEST(Checks, CoverEveryByteOfLongData)
{
    ByteString data(65536, '\0');
    data.push_back(0x05);
    EXPECT_EQ(CalcSumMod(data), 0x05);
    EXPECT_EQ(CalcSumZero(data), 0xFA);
    EXPECT_EQ(CalcModbusCRC16(data), 0xC3B1);

    ByteString framed = data;
    AppendCheck(framed, ckModbusCRC16);
    EXPECT_EQ(framed.substr(data.size()), Bytes({0xB1, 0xC3}));
}

} // namespace
} // namespace kestrune
