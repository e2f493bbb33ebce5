#include "capture/IpPackets.h"

#include <bit>
#include <cstring>

namespace kestrune {

namespace {

constexpr std::uint8_t ProtoTcp = 6;
constexpr std::uint8_t ProtoUdp = 17;

void Put16(std::string &out, std::uint16_t v)
{
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v));
}

void Put32(std::string &out, std::uint32_t v)
{
    Put16(out, static_cast<std::uint16_t>(v >> 16));
    Put16(out, static_cast<std::uint16_t>(v));
}

void Set16(std::string &out, std::size_t at, std::uint16_t v)
{
    out[at] = static_cast<char>(v >> 8);
    out[at + 1] = static_cast<char>(v);
}

// The one's complement sum of `bytes` as big-endian 16-bit words, unfolded.
// Summed four bytes at a time in this machine's order and swapped once at
// the end, which gives the same folded result (RFC 1071).
std::uint64_t Sum16(std::string_view bytes)
{
    std::uint64_t sum = 0;
    std::size_t i = 0;
    for (; i + 4 <= bytes.size(); i += 4) {
        std::uint32_t word;
        std::memcpy(&word, bytes.data() + i, 4);
        sum += word;
    }
    std::uint64_t tail = 0;
    for (std::size_t shift = 0; i < bytes.size(); ++i, shift += 8)
        tail |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i]))
                << (std::endian::native == std::endian::little ? shift : 24 - shift);
    sum += tail;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    if constexpr (std::endian::native == std::endian::little)
        sum = ((sum & 0xFF) << 8) | (sum >> 8);
    return sum;
}

std::uint16_t Fold(std::uint64_t sum)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

// IPv4 header (20 bytes, no options, don't fragment), then the transport
// header, whose checksum at `checksumAt` is filled in over the pseudo-header
// and the payload; the payload itself is not copied.
std::string Ipv4Headers(const TIpEnd &from, const TIpEnd &to, std::uint16_t ipId,
                        std::uint8_t proto, std::string header, std::size_t checksumAt,
                        std::string_view payload)
{
    const auto length = static_cast<std::uint16_t>(header.size() + payload.size());
    std::string pseudo;
    Put32(pseudo, from.Addr);
    Put32(pseudo, to.Addr);
    Put16(pseudo, proto);
    Put16(pseudo, length);
    // The header is of even length, so the payload's words line up.
    std::uint16_t check = Fold(Sum16(pseudo) + Sum16(header) + Sum16(payload));
    // In UDP a zero checksum means none; all ones stands for it.
    if (proto == ProtoUdp && check == 0)
        check = 0xFFFF;
    Set16(header, checksumAt, check);

    std::string ip;
    ip.reserve(20 + header.size());
    Put16(ip, 0x4500);
    Put16(ip, static_cast<std::uint16_t>(20 + length));
    Put16(ip, ipId);
    Put16(ip, 0x4000);
    ip.push_back(64);
    ip.push_back(static_cast<char>(proto));
    Put16(ip, 0);
    Put32(ip, from.Addr);
    Put32(ip, to.Addr);
    Set16(ip, 10, InternetChecksum(ip));
    ip += header;
    return ip;
}

std::string Whole(std::string headers, std::string_view payload)
{
    headers += payload;
    return headers;
}

} // namespace

std::uint16_t InternetChecksum(std::string_view bytes)
{
    return Fold(Sum16(bytes));
}

std::string UdpHeaders(const TIpEnd &from, const TIpEnd &to, std::uint16_t ipId,
                       std::string_view payload)
{
    std::string udp;
    Put16(udp, from.Port);
    Put16(udp, to.Port);
    Put16(udp, static_cast<std::uint16_t>(8 + payload.size()));
    Put16(udp, 0);
    return Ipv4Headers(from, to, ipId, ProtoUdp, std::move(udp), 6, payload);
}

std::string TcpHeaders(const TIpEnd &from, const TIpEnd &to, std::uint16_t ipId, std::uint32_t seq,
                       std::uint32_t ack, std::uint8_t flags, std::string_view payload)
{
    std::string tcp;
    Put16(tcp, from.Port);
    Put16(tcp, to.Port);
    Put32(tcp, seq);
    Put32(tcp, ack);
    tcp.push_back(0x50); // 20-byte header
    tcp.push_back(static_cast<char>(flags));
    Put16(tcp, 0xFFFF); // window
    Put16(tcp, 0);      // checksum, filled in below
    Put16(tcp, 0);      // urgent pointer
    return Ipv4Headers(from, to, ipId, ProtoTcp, std::move(tcp), 16, payload);
}

std::string UdpPacket(const TIpEnd &from, const TIpEnd &to, std::uint16_t ipId,
                      std::string_view payload)
{
    return Whole(UdpHeaders(from, to, ipId, payload), payload);
}

std::string TcpPacket(const TIpEnd &from, const TIpEnd &to, std::uint16_t ipId, std::uint32_t seq,
                      std::uint32_t ack, std::uint8_t flags, std::string_view payload)
{
    return Whole(TcpHeaders(from, to, ipId, seq, ack, flags, payload), payload);
}

} // namespace kestrune
