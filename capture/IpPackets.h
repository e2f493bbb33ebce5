#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrune {

// One end of a socket: IPv4 address and port in host order.
struct TIpEnd
{
    std::uint32_t Addr = 0;
    std::uint16_t Port = 0;

    friend bool operator==(const TIpEnd &, const TIpEnd &) = default;
};

// The most payload one synthesized packet carries: an IPv4 packet is at most
// 65,535 bytes, headers included.
inline constexpr std::size_t MaxUdpPayload = 65535 - 20 - 8;
inline constexpr std::size_t MaxTcpPayload = 65535 - 20 - 20;

// TCP header flags used here.
inline constexpr std::uint8_t TcpFin = 0x01;
inline constexpr std::uint8_t TcpPsh = 0x08;
inline constexpr std::uint8_t TcpAck = 0x10;

// The Internet checksum of `bytes`: the complement of their one's
// complement sum as big-endian 16-bit words.
[[nodiscard]] std::uint16_t InternetChecksum(std::string_view bytes);

// The IPv4 and UDP or TCP headers of a packet carrying `payload`, both
// checksums valid: the packet is these followed by the payload.
[[nodiscard]] std::string UdpHeaders(const TIpEnd &from, const TIpEnd &to, std::uint16_t ipId,
                                     std::string_view payload);
[[nodiscard]] std::string TcpHeaders(const TIpEnd &from, const TIpEnd &to, std::uint16_t ipId,
                                     std::uint32_t seq, std::uint32_t ack, std::uint8_t flags,
                                     std::string_view payload);

// An IPv4 packet holding one UDP datagram, both checksums valid. At most
// MaxUdpPayload bytes of payload.
[[nodiscard]] std::string UdpPacket(const TIpEnd &from, const TIpEnd &to, std::uint16_t ipId,
                                    std::string_view payload);

// An IPv4 packet holding one TCP segment, both checksums valid. At most
// MaxTcpPayload bytes of payload.
[[nodiscard]] std::string TcpPacket(const TIpEnd &from, const TIpEnd &to, std::uint16_t ipId,
                                    std::uint32_t seq, std::uint32_t ack, std::uint8_t flags,
                                    std::string_view payload);

} // namespace kestrune
