#pragma once

#include "codec/ByteString.h"

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
};

// Each check covers every byte of `data`, however long: a 16-bit count would
// leave the bytes past 65,535 unchecked without a word.

// CRC-16/MODBUS: register 0xFFFF, reflected polynomial 0xA001, no final XOR.
[[nodiscard]] std::uint16_t CalcModbusCRC16(std::string_view data) noexcept;

// The 8-bit sum of the bytes, wrapping.
[[nodiscard]] std::uint8_t CalcSumMod(std::string_view data) noexcept;

// One's complement of the 8-bit sum: data and check together sum to 0xFF.
[[nodiscard]] std::uint8_t CalcSumZero(std::string_view data) noexcept;

// The bytes that go on the wire for `kind` over `data`; the CRC low byte
// first. ckNone and kinds outside TCheckKind give no bytes.
[[nodiscard]] ByteString CheckBytes(std::string_view data, TCheckKind kind);

// Appends CheckBytes of the whole of `data` to it.
void AppendCheck(ByteString &data, TCheckKind kind);

} // namespace kestrune
