#pragma once

#include "codec/ByteString.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune::xmodem {

inline constexpr char SOH = 0x01; // a 128-byte block follows
inline constexpr char STX = 0x02; // a 1024-byte block follows
inline constexpr char EOT = 0x04;
inline constexpr char ACK = 0x06;
inline constexpr char NAK = 0x15; // "send again", or at the start "use checksums"
inline constexpr char CAN = 0x18;
inline constexpr char CRC_REQUEST = 'C';
inline constexpr char SUB = 0x1A; // pads the last block

inline constexpr std::size_t ShortBlock = 128;
inline constexpr std::size_t LongBlock = 1024;
// Enough CANs that line noise cannot end a transfer and a peer reading slowly
// still sees two in a row.
inline constexpr std::size_t CancelLength = 8;

// CRC-16/XMODEM: polynomial 0x1021, register 0, not reflected.
[[nodiscard]] std::uint16_t Crc16(std::string_view data) noexcept;
// The 8-bit sum of the bytes.
[[nodiscard]] std::uint8_t Checksum(std::string_view data) noexcept;

// A whole block on the wire: header byte, number, its complement, `data`
// padded with `pad` to 128 or 1024 bytes (`data` longer than 128 takes 1024),
// then the CRC (high byte first) or the checksum.
[[nodiscard]] ByteString Block(std::uint8_t number, std::string_view data, bool crc,
                               char pad = SUB);
// The length of a whole block whose header byte is `header` (0 when it is no block header).
[[nodiscard]] std::size_t BlockLength(char header, bool crc) noexcept;

// What a whole block of BlockLength bytes holds.
struct TBlock
{
    bool Valid = false; // number and complement agree and the check matches
    std::uint8_t Number = 0;
    std::string_view Data;
};
[[nodiscard]] TBlock ParseBlock(std::string_view block, bool crc);

// The cancel sequence.
[[nodiscard]] ByteString CancelBytes();

// YMODEM's block 0: the file's name and size (the batch ends with an empty name).
struct THeader
{
    std::string Name;
    std::optional<std::uint64_t> Size;
    std::int64_t ModTime = 0; // seconds since 1970, 0 when unknown
};
// The data of block 0 (before padding with NUL): "name\0size mtime".
[[nodiscard]] ByteString HeaderData(const THeader &header);
// Reads block 0's data; an empty name ends the batch.
[[nodiscard]] THeader ParseHeader(std::string_view data);
// A name from a peer made safe to create in a folder: its last path part,
// never empty, "." or "..", without control characters.
[[nodiscard]] std::string SafeFileName(const std::string &name);

} // namespace kestrune::xmodem
