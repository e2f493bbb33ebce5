#pragma once

#include "codec/ByteString.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrune {

// The check appended to each frame sent from the send box. The values are the
// positions in the check list and the numbers stored in the settings file.
enum TCheckKind : std::uint8_t
{
    ckNone = 0,
    ckModbusCRC16 = 1,
    ckSumMod = 2,
    ckSumZero = 3,
    // Checks users meet on other links, after the four above so stored
    // values keep their meaning.
    ckCRC8 = 4,        // CRC-8, polynomial 07
    ckCRC16CCITT = 5,  // CRC-16/CCITT-FALSE, high byte first
    ckCRC16XModem = 6, // CRC-16/XMODEM, high byte first
    ckCRC16ARC = 7,    // CRC-16/ARC, low byte first
    ckCRC32 = 8,       // CRC-32 (IEEE 802.3), low byte first as on Ethernet
    ckLRC = 9,         // Modbus ASCII's LRC: the two's complement of the 8-bit sum
    ckXOR8 = 10,       // every byte XORed
};

// Each check covers every byte of `data`, however long: a 16-bit count would
// leave the bytes past 65,535 unchecked without a word.

// CRC-16/MODBUS: register 0xFFFF, reflected polynomial 0xA001, no final XOR.
[[nodiscard]] std::uint16_t CalcModbusCRC16(std::string_view data) noexcept;

// The 8-bit sum of the bytes, wrapping.
[[nodiscard]] std::uint8_t CalcSumMod(std::string_view data) noexcept;

// One's complement of the 8-bit sum: data and check together sum to 0xFF.
[[nodiscard]] std::uint8_t CalcSumZero(std::string_view data) noexcept;

// CRC-8: register 0, polynomial 0x07, not reflected, no final XOR.
[[nodiscard]] std::uint8_t CalcCRC8(std::string_view data) noexcept;
// CRC-16 with polynomial 0x1021, not reflected, from `init` (0xFFFF for
// CCITT-FALSE, 0 for XMODEM), no final XOR.
[[nodiscard]] std::uint16_t CalcCRC16Ccitt(std::string_view data, std::uint16_t init) noexcept;
// CRC-16/ARC: register 0, reflected polynomial 0xA001, no final XOR.
[[nodiscard]] std::uint16_t CalcCRC16Arc(std::string_view data) noexcept;
// CRC-32 as zlib and Ethernet compute it.
[[nodiscard]] std::uint32_t CalcCRC32(std::string_view data) noexcept;
// Modbus ASCII's LRC: data and check together sum to 0 modulo 256.
[[nodiscard]] std::uint8_t CalcLRC(std::string_view data) noexcept;
[[nodiscard]] std::uint8_t CalcXor8(std::string_view data) noexcept;

// How many bytes the check of `kind` takes on the wire.
[[nodiscard]] std::size_t CheckSize(TCheckKind kind) noexcept;

// The bytes that go on the wire for `kind` over `data`; the CRC low byte
// first. ckNone and kinds outside TCheckKind give no bytes.
[[nodiscard]] ByteString CheckBytes(std::string_view data, TCheckKind kind);

// Appends CheckBytes of the whole of `data` to it.
void AppendCheck(ByteString &data, TCheckKind kind);

// Whether a received frame ends in the check of `kind` over the bytes before
// it. A frame too short to hold a check fails; ckNone always passes.
[[nodiscard]] bool EndsWithCheck(std::string_view frame, TCheckKind kind);

} // namespace kestrune
