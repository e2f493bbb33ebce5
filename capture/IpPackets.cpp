#include "capture/IpPackets.h"

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

std::uint32_t Sum16(std::string_view bytes, std::uint32_t sum)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        sum += static_cast<std::uint32_t>(p[i] << 8 | p[i + 1]);
        // Folded as it goes, so any length fits.
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (i < bytes.size())
        sum += static_cast<std::uint32_t>(p[i] << 8);
    return sum;
}

// IPv4 header (20 bytes, no options, don't fragment) followed by `transport`,
// whose checksum at `checksumAt` is filled in over the pseudo-header.
std::string Ipv4Packet(const TIpEnd &from, const TIpEnd &to, std::uint16_t ipId, std::uint8_t proto,
                       std::string transport, std::size_t checksumAt)
{
    const auto length = static_cast<std::uint16_t>(transport.size());
    std::string pseudo;
    Put32(pseudo, from.Addr);
    Put32(pseudo, to.Addr);
    Put16(pseudo, proto);
    Put16(pseudo, length);
    std::uint16_t check = InternetChecksum(transport, Sum16(pseudo, 0));
    // In UDP a zero checksum means none; all ones stands for it.
    if (proto == ProtoUdp && check == 0)
        check = 0xFFFF;
    Set16(transport, checksumAt, check);

    std::string ip;
    ip.reserve(20 + transport.size());
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
    ip += transport;
    return ip;
}

} // namespace

std::uint16_t InternetChecksum(std::string_view bytes, std::uint32_t sum)
{
    sum = Sum16(bytes, sum);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

std::string UdpPacket(const TIpEnd &from, const TIpEnd &to, std::uint16_t ipId,
                      std::string_view payload)
{
    std::string udp;
    udp.reserve(8 + payload.size());
    Put16(udp, from.Port);
    Put16(udp, to.Port);
    Put16(udp, static_cast<std::uint16_t>(8 + payload.size()));
    Put16(udp, 0);
    udp.append(payload);
    return Ipv4Packet(from, to, ipId, ProtoUdp, std::move(udp), 6);
}

std::string TcpPacket(const TIpEnd &from, const TIpEnd &to, std::uint16_t ipId, std::uint32_t seq,
                      std::uint32_t ack, std::uint8_t flags, std::string_view payload)
{
    std::string tcp;
    tcp.reserve(20 + payload.size());
    Put16(tcp, from.Port);
    Put16(tcp, to.Port);
    Put32(tcp, seq);
    Put32(tcp, ack);
    tcp.push_back(0x50); // 20-byte header
    tcp.push_back(static_cast<char>(flags));
    Put16(tcp, 0xFFFF); // window
    Put16(tcp, 0);      // checksum, filled in below
    Put16(tcp, 0);      // urgent pointer
    tcp.append(payload);
    return Ipv4Packet(from, to, ipId, ProtoTcp, std::move(tcp), 16);
}

} // namespace kestrune
