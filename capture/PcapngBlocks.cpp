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

// Wraps a body in the type and the total length, which stands at both ends.
std::string Block(std::uint32_t type, std::string_view body)
{
    const auto total = static_cast<std::uint32_t>(12 + body.size());
    std::string out;
    out.reserve(total);
    Put(out, type);
    Put(out, total);
    out.append(body);
    Put(out, total);
    return out;
}

} // namespace

std::string SectionHeaderBlock(std::string_view application)
{
    std::string body;
    Put(body, std::uint32_t{0x1A2B3C4D});
    Put(body, std::uint16_t{1}); // version 1.0
    Put(body, std::uint16_t{0});
    Put(body, std::int64_t{-1}); // the section's length is not known in advance
    PutOption(body, OptShbUserAppl, application);
    Put(body, OptEnd);
    Put(body, std::uint16_t{0});
    return Block(SectionHeaderType, body);
}

std::string InterfaceBlock(std::uint16_t linkType, std::string_view name)
{
    std::string body;
    Put(body, linkType);
    Put(body, std::uint16_t{0});
    Put(body, std::uint32_t{0}); // no snap length: packets are kept whole
    PutOption(body, OptIfName, name);
    PutOption(body, OptIfTsresol, std::string_view("\x09", 1));
    Put(body, OptEnd);
    Put(body, std::uint16_t{0});
    return Block(InterfaceType, body);
}

std::string PacketBlock(std::uint32_t interfaceId, std::uint64_t timeNs, TPacketDir dir,
                        std::string_view packet)
{
    std::string body;
    body.reserve(40 + packet.size());
    Put(body, interfaceId);
    Put(body, static_cast<std::uint32_t>(timeNs >> 32));
    Put(body, static_cast<std::uint32_t>(timeNs));
    Put(body, static_cast<std::uint32_t>(packet.size()));
    Put(body, static_cast<std::uint32_t>(packet.size()));
    body.append(packet);
    PadTo4(body);
    const auto flags = static_cast<std::uint32_t>(dir);
    std::string flagBytes;
    Put(flagBytes, flags);
    PutOption(body, OptEpbFlags, flagBytes);
    Put(body, OptEnd);
    Put(body, std::uint16_t{0});
    return Block(EnhancedPacketType, body);
}

} // namespace kestrune
