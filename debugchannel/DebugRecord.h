#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune {

// First byte of a debug record: an ordinary text, or the one-character text
// 0x03, which the debug window reads as a command of its own.
inline constexpr std::uint8_t DebugRecordText = 0x01;
inline constexpr std::uint8_t DebugRecordCommand = 0x03;

// Marker byte, kind + 1, the text's bytes, 0x00: n + 3 bytes for a text of n.
[[nodiscard]] std::string BuildDebugRecord(std::string_view text, std::uint8_t kind);

struct TDebugRecord
{
    std::uint8_t Marker = DebugRecordText;
    std::uint8_t Kind = 0; // as sent, the record byte minus one
    std::string Text;
};

// The receiving side: nullopt for anything that is not a whole record (too short,
// unknown marker, no closing zero byte).
[[nodiscard]] std::optional<TDebugRecord> ParseDebugRecord(std::string_view bytes);

// One line for a received datagram, without the line end: "kind 2: text", or
// "kind 2, command: \x03" for a command record. Control bytes and the backslash
// are written as escapes so no text can drive the terminal it is shown on.
[[nodiscard]] std::string DescribeDebugRecord(std::string_view datagram);

} // namespace kestrune
