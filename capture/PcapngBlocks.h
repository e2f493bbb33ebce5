#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrune {

// Link types of the interfaces a capture describes.
inline constexpr std::uint16_t LinkTypeUser0 = 147; // a serial line's bytes as they are
inline constexpr std::uint16_t LinkTypeIpv4 = 228;  // an IPv4 packet, no link header

// Which way a packet went, as the enhanced packet block's flags say it.
enum class TPacketDir : std::uint8_t
{
    Inbound = 1,
    Outbound = 2
};

// The blocks of a pcapng file, in this machine's byte order (the section
// header's magic tells readers which). Each is whole on its own, so a file
// cut after any block still reads.

// A section of unknown length, naming the program that wrote it.
[[nodiscard]] std::string SectionHeaderBlock(std::string_view application);
// An interface with time stamps in nanoseconds (if_tsresol 9) and no snap length.
[[nodiscard]] std::string InterfaceBlock(std::uint16_t linkType, std::string_view name);
// One packet of interface `interfaceId`, captured whole, at `timeNs` since the epoch.
[[nodiscard]] std::string PacketBlock(std::uint32_t interfaceId, std::uint64_t timeNs,
                                      TPacketDir dir, std::string_view packet);

// The same block in pieces, so a long payload is written where it lies: Head
// (ending with the packet's `head`, its headers), then the payload of
// `payloadSize` bytes, then Tail.
struct TBlockAround
{
    std::string Head;
    std::string Tail;
};
[[nodiscard]] TBlockAround PacketBlockAround(std::uint32_t interfaceId, std::uint64_t timeNs,
                                             TPacketDir dir, std::string_view head,
                                             std::size_t payloadSize);

} // namespace kestrune
