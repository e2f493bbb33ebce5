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
        {"abc", static_cast<TCheckKind>(99), "abc"},
    };
    for (const auto &c : cases) {
        ByteString frame = c.data;
        AppendCheck(frame, c.kind);
        EXPECT_EQ(frame, c.framed) << "kind " << int(c.kind) << " data " << c.data;
    }
}

// The appended checks against their catalogue check values over "123456789",
// in the byte order each standard puts on the wire; a frame verifies when it
// ends in its check, and fails when one bit of it is off or it is too short.
TEST(Checks, CatalogueValuesByteOrderAndVerification)
{
    const struct
    {
        TCheckKind kind;
        ByteString bytes;
    } cases[] = {
        {ckModbusCRC16, Bytes({0x37, 0x4B})},
        {ckSumMod, Bytes({0xDD})},
        {ckSumZero, Bytes({0x22})},
        {ckCRC8, Bytes({0xF4})},
        {ckCRC16CCITT, Bytes({0x29, 0xB1})},
        {ckCRC16XModem, Bytes({0x31, 0xC3})},
        {ckCRC16ARC, Bytes({0x3D, 0xBB})},
        {ckCRC32, Bytes({0x26, 0x39, 0xF4, 0xCB})},
        {ckLRC, Bytes({0x23})},
        {ckXOR8, Bytes({0x31})},
    };
    const ByteString data = "123456789";
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.kind));
        EXPECT_EQ(CheckBytes(data, c.kind), c.bytes);
        EXPECT_EQ(CheckSize(c.kind), c.bytes.size());
        EXPECT_TRUE(EndsWithCheck(data + c.bytes, c.kind));
        ByteString broken = data + c.bytes;
        broken.back() = static_cast<char>(broken.back() ^ 0x01);
        EXPECT_FALSE(EndsWithCheck(broken, c.kind));
        EXPECT_FALSE(EndsWithCheck(c.bytes.substr(1), c.kind)) << "too short for a check";
    }
    EXPECT_TRUE(EndsWithCheck("", ckNone));
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
