#include "codec/Checks.h"

#include <array>

namespace kestrune {

namespace {

// The bitwise register update, eight shifts per byte, folded into one table.
constexpr std::array<std::uint16_t, 256> CrcTable = [] {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t reg = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1) ? static_cast<std::uint16_t>((reg >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(reg >> 1);
        table[i] = reg;
    }
    return table;
}();

} // namespace

std::uint16_t CalcModbusCRC16(std::string_view data) noexcept
{
    std::uint16_t reg = 0xFFFF;
    for (unsigned char b : data)
        reg = static_cast<std::uint16_t>((reg >> 8) ^ CrcTable[(reg ^ b) & 0xFF]);
    return reg;
}

std::uint8_t CalcSumMod(std::string_view data) noexcept
{
    std::uint8_t sum = 0;
    for (unsigned char b : data)
        sum = static_cast<std::uint8_t>(sum + b);
    return sum;
}

std::uint8_t CalcSumZero(std::string_view data) noexcept
{
    return static_cast<std::uint8_t>(~CalcSumMod(data));
}

ByteString CheckBytes(std::string_view data, TCheckKind kind)
{
    switch (kind) {
    case ckNone:
        return {};
    case ckModbusCRC16: {
        const std::uint16_t crc = CalcModbusCRC16(data);
        return {static_cast<char>(crc & 0xFF), static_cast<char>(crc >> 8)};
    }
    case ckSumMod:
        return ByteString(1, static_cast<char>(CalcSumMod(data)));
    case ckSumZero:
        return ByteString(1, static_cast<char>(CalcSumZero(data)));
    }
    return {};
}

void AppendCheck(ByteString &data, TCheckKind kind)
{
    data += CheckBytes(data, kind);
}

} // namespace kestrune
