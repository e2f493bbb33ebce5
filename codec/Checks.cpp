#include "codec/Checks.h"

#include <array>

namespace kestrune {

namespace {

// The bitwise register update of a reflected CRC, eight shifts per byte,
// folded into one table.
template <typename T> constexpr std::array<T, 256> ReflectedTable(T poly)
{
    std::array<T, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        T reg = static_cast<T>(i);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1) ? static_cast<T>((reg >> 1) ^ poly) : static_cast<T>(reg >> 1);
        table[i] = reg;
    }
    return table;
}

// The same for a CRC that shifts left, its register `bits` wide.
template <typename T> constexpr std::array<T, 256> ForwardTable(T poly, int bits)
{
    const T top = static_cast<T>(T(1) << (bits - 1));
    std::array<T, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        T reg = static_cast<T>(i << (bits - 8));
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & top) ? static_cast<T>((reg << 1) ^ poly) : static_cast<T>(reg << 1);
        table[i] = reg;
    }
    return table;
}

constexpr auto CrcTable = ReflectedTable<std::uint16_t>(0xA001);
constexpr auto Crc8Table = ForwardTable<std::uint8_t>(0x07, 8);
constexpr auto CcittTable = ForwardTable<std::uint16_t>(0x1021, 16);
constexpr auto Crc32Table = ReflectedTable<std::uint32_t>(0xEDB88320);

ByteString HighFirst(std::uint16_t value)
{
    return {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

ByteString LowFirst(std::uint32_t value, int bytes)
{
    ByteString out;
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return out;
}

// The reflected CRC-16 of MODBUS and ARC, which differ only in the start.
std::uint16_t ReflectedCrc16(std::string_view data, std::uint16_t reg) noexcept
{
    for (unsigned char b : data)
        reg = static_cast<std::uint16_t>((reg >> 8) ^ CrcTable[(reg ^ b) & 0xFF]);
    return reg;
}

} // namespace

std::uint16_t CalcModbusCRC16(std::string_view data) noexcept
{
    return ReflectedCrc16(data, 0xFFFF);
}

std::uint8_t CalcCRC8(std::string_view data) noexcept
{
    std::uint8_t reg = 0;
    for (unsigned char b : data)
        reg = Crc8Table[reg ^ b];
    return reg;
}

std::uint16_t CalcCRC16Ccitt(std::string_view data, std::uint16_t init) noexcept
{
    std::uint16_t reg = init;
    for (unsigned char b : data)
        reg = static_cast<std::uint16_t>((reg << 8) ^ CcittTable[((reg >> 8) ^ b) & 0xFF]);
    return reg;
}

std::uint16_t CalcCRC16Arc(std::string_view data) noexcept
{
    return ReflectedCrc16(data, 0);
}

std::uint32_t CalcCRC32(std::string_view data) noexcept
{
    std::uint32_t reg = 0xFFFFFFFF;
    for (unsigned char b : data)
        reg = (reg >> 8) ^ Crc32Table[(reg ^ b) & 0xFF];
    return ~reg;
}

std::uint8_t CalcLRC(std::string_view data) noexcept
{
    return static_cast<std::uint8_t>(-CalcSumMod(data));
}

std::uint8_t CalcXor8(std::string_view data) noexcept
{
    std::uint8_t x = 0;
    for (unsigned char b : data)
        x ^= b;
    return x;
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
    case ckCRC8:
        return ByteString(1, static_cast<char>(CalcCRC8(data)));
    case ckCRC16CCITT:
        return HighFirst(CalcCRC16Ccitt(data, 0xFFFF));
    case ckCRC16XModem:
        return HighFirst(CalcCRC16Ccitt(data, 0));
    case ckCRC16ARC:
        return LowFirst(CalcCRC16Arc(data), 2);
    case ckCRC32:
        return LowFirst(CalcCRC32(data), 4);
    case ckLRC:
        return ByteString(1, static_cast<char>(CalcLRC(data)));
    case ckXOR8:
        return ByteString(1, static_cast<char>(CalcXor8(data)));
    }
    return {};
}

std::size_t CheckSize(TCheckKind kind) noexcept
{
    switch (kind) {
    case ckModbusCRC16:
    case ckCRC16CCITT:
    case ckCRC16XModem:
    case ckCRC16ARC:
        return 2;
    case ckCRC32:
        return 4;
    case ckSumMod:
    case ckSumZero:
    case ckCRC8:
    case ckLRC:
    case ckXOR8:
        return 1;
    case ckNone:
        break;
    }
    return 0;
}

bool EndsWithCheck(std::string_view frame, TCheckKind kind)
{
    const std::size_t size = CheckSize(kind);
    if (size == 0)
        return true;
    if (frame.size() < size)
        return false;
    const std::string_view data = frame.substr(0, frame.size() - size);
    return frame.substr(data.size()) == CheckBytes(data, kind);
}

void AppendCheck(ByteString &data, TCheckKind kind)
{
    data += CheckBytes(data, kind);
}

} // namespace kestrune
