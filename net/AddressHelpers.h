#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace kestrune {

// "a.b.c.d" of an IPv4 address held in network byte order.
[[nodiscard]] std::string DottedAddress(std::uint32_t netAddr);

// Joins addresses with ", " and ends the list with the loopback address,
// unless the text already contains "127.0.0.1" (a plain substring test, so
// 127.0.0.10 counts too). An empty list gives "127.0.0.1".
[[nodiscard]] std::string JoinAddressList(const std::vector<std::string> &addresses);

// JoinAddressList of the IPv4 addresses, then the IPv6 ones after ", ", so a
// caption cut at the second comma reads as it does without IPv6.
[[nodiscard]] std::string JoinAddressList(const std::vector<std::string> &ipv4,
                                          const std::vector<std::string> &ipv6);

// This computer's non-loopback addresses of interfaces that are up, in
// interface order, IPv4 first, joined as above. Never fails.
[[nodiscard]] std::string LocalAddressList();

// A host name or dotted address as an IPv4 address in network byte order.
// Blocks while the resolver works. Raises ESocketError "Error remote address.".
[[nodiscard]] std::uint32_t ResolveHost(const std::string &host);

// A socket address of either family.
struct TSockAddress
{
    sockaddr_storage Storage{};
    socklen_t Length = 0;

    [[nodiscard]] int Family() const { return Storage.ss_family; }
    [[nodiscard]] const sockaddr *Get() const
    {
        return reinterpret_cast<const sockaddr *>(&Storage);
    }
    [[nodiscard]] sockaddr *Get() { return reinterpret_cast<sockaddr *>(&Storage); }
    [[nodiscard]] bool Empty() const { return Length == 0; }
    [[nodiscard]] int Port() const;
    // 224.0.0.0/4 or ff00::/8 (an IPv4 group mapped into IPv6 included).
    [[nodiscard]] bool IsMulticast() const;
    // An IPv4 address, plain or mapped into IPv6.
    [[nodiscard]] bool IsIPv4() const;
};

[[nodiscard]] TSockAddress IPv4SockAddress(std::uint32_t netAddr, int port);
// The wildcard address of the family on the port.
[[nodiscard]] TSockAddress AnySockAddress(int family, int port);
// An IPv4 address as ::ffff:a.b.c.d, for a socket of both families; others as they are.
[[nodiscard]] TSockAddress MappedToIPv6(const TSockAddress &address);

// A host as the user types it: a name, a dotted address, or an IPv6 literal
// with an optional scope ("fe80::1%eth0"), bracketed or not. A name with
// both kinds of address gives its IPv4 one, so names reach what they reached
// before IPv6; IPv6 only when the name has no IPv4 address. Blocks while the
// resolver works. Raises ESocketError "Error remote address.".
[[nodiscard]] TSockAddress ResolveEndpoint(const std::string &host, int port);

// The address alone: dotted for IPv4 (also when mapped into IPv6, so an IPv4
// peer of a socket of both families never shows as ::ffff:), the RFC 5952
// text for IPv6 with its scope ("fe80::1%eth0").
[[nodiscard]] std::string AddressText(const TSockAddress &address);
// Address and port: "a.b.c.d:port" or "[v6]:port".
[[nodiscard]] std::string EndpointText(const TSockAddress &address);
// A host text and a port as one: "host:port", a host with a colon bracketed.
[[nodiscard]] std::string HostPortText(const std::string &host, int port);

} // namespace kestrune
