#include "exchange/CommandLine.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kestrune {

void PrintTo(const TCommandLine &c, std::ostream *os)
{
    *os << "{kind " << int(c.Kind) << ", n " << c.N << ", data kind " << int(c.DataKind)
        << ", data \"" << c.Data << "\"}";
}

namespace {

using K = TCmdLineKind;
using D = TCmdDataKind;

struct LineCase
{
    std::string line;
    std::optional<TCommandLine> expected;
};

TCommandLine Send(D kind, std::string data)
{
    return {K::lkSend, 0, kind, std::move(data)};
}
TCommandLine Reply(std::int32_t n, D kind, std::string data)
{
    return {K::lkReply, n, kind, std::move(data)};
}
TCommandLine Delay(std::int32_t n)
{
    return {K::lkDelay, n, D::dkString, {}};
}

const std::vector<LineCase> LineCases = {
    // Send lines.
    {"S:H:01 03 00 00 00 01", Send(D::dkHex, "01 03 00 00 00 01")},
    {"S:S:AT", Send(D::dkString, "AT")},
    {"s:m:A{0D}", Send(D::dkMixed, "A{0D}")},
    {"S:h:x", Send(D::dkHex, "x")},
    {"S:S: ", Send(D::dkString, " ")},
    {"S:S:a:b:", Send(D::dkString, "a:b:")},
    {"S:S:", std::nullopt},   // no data character
    {"S:S", std::nullopt},    // too short
    {"S;S:AT", std::nullopt}, // second character not ":"
    {"S:S;AT", std::nullopt}, // fourth character not ":"
    {"S:X:AT", std::nullopt}, // unknown kind
    {"S:T:AT", std::nullopt}, // T is no kind letter
    {"S::AT", std::nullopt},  // kind missing
    {"SEND:AT", std::nullopt},
    // Reply lines without a time-out.
    {"R:S:OK", Reply(0, D::dkString, "OK")},
    {"r:h:06", Reply(0, D::dkHex, "06")},
    {"R:M:x", Reply(0, D::dkMixed, "x")},
    {"R:S:", std::nullopt},
    {"R:S", std::nullopt},
    {"R;S:OK", std::nullopt},
    {"R:S;OK", std::nullopt},
    {"R:Q:OK", std::nullopt},
    // Reply lines with a time-out.
    {"R:T1000:S:OK", Reply(1000, D::dkString, "OK")},
    {"R:T2000:H:06", Reply(2000, D::dkHex, "06")},
    {"r:t50:m:A", Reply(50, D::dkMixed, "A")},
    {"R:T:H:06", Reply(0, D::dkHex, "06")},        // ":" right after T: no number
    {"R:T$10:S:OK", Reply(16, D::dkString, "OK")}, // hex number
    {"R:T0x10:S:OK", Reply(16, D::dkString, "OK")},
    {"R:T 7:S:OK", Reply(7, D::dkString, "OK")},  // leading blank
    {"R:T-5:S:OK", Reply(-5, D::dkString, "OK")}, // accepted; arms nothing
    {"R:T5:S:a:b", Reply(5, D::dkString, "a:b")}, // first ":" closes the number
    {"R:T7 :S:OK", std::nullopt},                 // nothing may follow the number
    {"R:Tabc:S:OK", std::nullopt},
    {"R:T5:T:OK", std::nullopt},
    {"R:T5;S:OK", std::nullopt},
    // Reply forms cut short.
    {"R:T", std::nullopt},
    {"R:T:", std::nullopt},
    {"R:T:H", std::nullopt},
    {"R:T:H:", std::nullopt},
    {"R:T5", std::nullopt},
    {"R:T5:", std::nullopt},
    {"R:T5:H", std::nullopt},
    {"R:T5:H:", std::nullopt},
    {"R:T:H:0", Reply(0, D::dkHex, "0")},
    // Delay lines.
    {"T500", Delay(500)},
    {"t0", Delay(0)},
    {"T-1", Delay(-1)},
    {"T  20", Delay(20)},
    {"Tx1F", Delay(31)},
    {"T2147483647", Delay(2147483647)},
    {"T-2147483648", Delay(-2147483647 - 1)},
    {"T", std::nullopt},
    {"T500 ", std::nullopt},
    {"T500ms", std::nullopt},
    {"T2147483648", std::nullopt}, // past 32 bits
    {"T4294967296", std::nullopt},
    {"T99999999999999999999", std::nullopt},
    {"R:T4294967296:S:OK", std::nullopt},
    // Comments and everything else.
    {"", std::nullopt},
    {";S:S:AT", std::nullopt},
    {" S:S:AT", std::nullopt},
    {"# T500", std::nullopt},
    {"X:S:AT", std::nullopt},
    {"\r", std::nullopt},
};

class LineTable : public ::testing::TestWithParam<LineCase>
{
};

TEST_P(LineTable, AcceptanceRules)
{
    const LineCase &c = GetParam();
    EXPECT_EQ(ParseCommandLine(c.line), c.expected) << "line: " << c.line;
}

INSTANTIATE_TEST_SUITE_P(Rows, LineTable, ::testing::ValuesIn(LineCases));

TEST(CommandLine, HostileLinesNeitherCrashNorMisread)
{
    // Binary data: zero bytes and high bytes are data like any other.
    const std::string binary("S:S:\0\x01\xff\r", 8);
    const auto send = ParseCommandLine(binary);
    ASSERT_TRUE(send);
    EXPECT_EQ(send->Data, binary.substr(4));
    EXPECT_FALSE(ParseCommandLine(std::string("\0S:S:AT", 7)));
    EXPECT_FALSE(ParseCommandLine(std::string("R:T\0:S:OK", 9)));

    // A line of a megabyte, accepted and ignored.
    const std::string bulk(1 << 20, 'A');
    const auto big = ParseCommandLine("S:H:" + bulk);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->Data.size(), bulk.size());
    EXPECT_FALSE(ParseCommandLine("T" + bulk));
    EXPECT_FALSE(ParseCommandLine("R:T" + bulk));
    EXPECT_FALSE(ParseCommandLine("R:T" + std::string(1 << 20, '9') + ":S:OK"));
}

struct BytesCase
{
    std::string line;
    char escChar;
    std::string bytes;
};

const std::vector<BytesCase> BytesCases = {
    {"S:H:01 03 00 00 00 01", '{', std::string("\x01\x03\x00\x00\x00\x01", 6)},
    {"S:S:AT", '{', "AT"},
    {"R:T1000:S:OK", '{', "OK"},
    {"S:S:{0D}", '{', "{0D}"}, // characters as they stand
    {"S:M:A{0D}", '{', "A\r"}, // Mixed with the chosen pair
    {"S:M:A[0D]", '[', "A\r"},
    {"S:M:A[0D]", '{', "A[0D]"}, // other brackets are plain characters
    {"S:H:{06}", '[', "\x06"},   // Hex text ignores brackets
    {"S:H:zz", '{', ""},         // no digit at all: an empty frame
};

class BytesTable : public ::testing::TestWithParam<BytesCase>
{
};

TEST_P(BytesTable, KindLetters)
{
    const BytesCase &c = GetParam();
    const auto command = ParseCommandLine(c.line);
    ASSERT_TRUE(command) << c.line;
    EXPECT_EQ(CommandBytes(*command, c.escChar), c.bytes) << c.line;
}

INSTANTIATE_TEST_SUITE_P(Rows, BytesTable, ::testing::ValuesIn(BytesCases));

} // namespace
} // namespace kestrune
