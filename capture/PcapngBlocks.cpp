#include "capture/PcapngBlocks.h"

#include <cstring>

namespace kestrune {

namespace {

constexpr std::uint32_t SectionHeaderType = 0x0A0D0D0A;
constexpr std::uint32_t InterfaceType = 1;
constexpr std::uint32_t EnhancedPacketType = 6;
constexpr std::uint16_t OptEnd = 0;
constexpr std::uint16_t OptShbUserAppl = 4;
constexpr std::uint16_t OptIfName = 2;
constexpr std::uint16_t OptIfTsresol = 9;
constexpr std::uint16_t OptEpbFlags = 2;

template <typename T> void Put(std::string &out, T value)
{
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    out.append(bytes, sizeof value);
}

void PadTo4(std::string &out)
{
    out.append((4 - out.size() % 4) % 4, '\0');
}

void PutOption(std::string &out, std::uint16_t code, std::string_view value)
{
    Put(out, code);
    Put(out, static_cast<std::uint16_t>(value.size()));
    out.append(value);
    PadTo4(out);
}

// A block is built in place: its type and a length to be filled in, the
// body, then the total length again, which stands at both ends.
std::string BeginBlock(std::uint32_t type, std::size_t bodySize)
{
    std::string out;
    out.reserve(12 + bodySize);
    Put(out, type);
    Put(out, std::uint32_t{0});
    return out;
}

std::string EndBlock(std::string out)
{
    const auto total = static_cast<std::uint32_t>(out.size() + 4);
    std::memcpy(out.data() + 4, &total, sizeof total);
    Put(out, total);
    return out;
}

} // namespace

std::string SectionHeaderBlock(std::string_view application)
{
    std::string body = BeginBlock(SectionHeaderType, 64);
    Put(body, std::uint32_t{0x1A2B3C4D});
    Put(body, std::uint16_t{1}); // version 1.0
    Put(body, std::uint16_t{0});
    Put(body, std::int64_t{-1}); // the section's length is not known in advance
    PutOption(body, OptShbUserAppl, application);
    Put(body, OptEnd);
    Put(body, std::uint16_t{0});
    return EndBlock(std::move(body));
}

std::string InterfaceBlock(std::uint16_t linkType, std::string_view name)
{
    std::string body = BeginBlock(InterfaceType, 32 + name.size());
    Put(body, linkType);
    Put(body, std::uint16_t{0});
    Put(body, std::uint32_t{0}); // no snap length: packets are kept whole
    PutOption(body, OptIfName, name);
    PutOption(body, OptIfTsresol, std::string_view("\x09", 1));
    Put(body, OptEnd);
    Put(body, std::uint16_t{0});
    return EndBlock(std::move(body));
}

TBlockAround PacketBlockAround(std::uint32_t interfaceId, std::uint64_t timeNs, TPacketDir dir,
                               std::string_view head, std::size_t payloadSize)
{
    const std::size_t packetSize = head.size() + payloadSize;
    TBlockAround block;
    block.Head = BeginBlock(EnhancedPacketType, 28 + head.size());
    Put(block.Head, interfaceId);
    Put(block.Head, static_cast<std::uint32_t>(timeNs >> 32));
    Put(block.Head, static_cast<std::uint32_t>(timeNs));
    Put(block.Head, static_cast<std::uint32_t>(packetSize));
    Put(block.Head, static_cast<std::uint32_t>(packetSize));
    block.Head.append(head);
    // The tail pads the packet to a multiple of four, then the options
    // (aligned on their own), then the total length, which counts the payload.
    const std::size_t before = block.Head.size() + payloadSize;
    std::string options;
    std::string flagBytes;
    Put(flagBytes, static_cast<std::uint32_t>(dir));
    PutOption(options, OptEpbFlags, flagBytes);
    Put(options, OptEnd);
    Put(options, std::uint16_t{0});
    block.Tail.assign((4 - before % 4) % 4, '\0');
    block.Tail += options;
    const auto total = static_cast<std::uint32_t>(before + block.Tail.size() + 4);
    std::memcpy(block.Head.data() + 4, &total, sizeof total);
    Put(block.Tail, total);
    return block;
}

std::string PacketBlock(std::uint32_t interfaceId, std::uint64_t timeNs, TPacketDir dir,
                        std::string_view packet)
{
    TBlockAround block = PacketBlockAround(interfaceId, timeNs, dir, {}, packet.size());
    block.Head.append(packet);
    block.Head.append(block.Tail);
    return std::move(block.Head);
}

} // namespace kestrune
