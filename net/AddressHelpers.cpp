#include "net/AddressHelpers.h"

#include "net/SocketError.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>

namespace kestrune {

namespace {

const sockaddr_in6 &AsIPv6(const TSockAddress &a)
{
    return *reinterpret_cast<const sockaddr_in6 *>(&a.Storage);
}

const sockaddr_in &AsIPv4(const TSockAddress &a)
{
    return *reinterpret_cast<const sockaddr_in *>(&a.Storage);
}

TSockAddress FromSockaddr(const sockaddr *addr, socklen_t length)
{
    TSockAddress a;
    std::memcpy(&a.Storage, addr, std::min<std::size_t>(length, sizeof a.Storage));
    a.Length = length;
    return a;
}

std::string IPv6Text(const sockaddr_in6 &in)
{
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, &in.sin6_addr, text, sizeof text);
    std::string result = text;
    if (in.sin6_scope_id != 0) {
        char name[IF_NAMESIZE] = {};
        result += '%';
        result += ::if_indextoname(in.sin6_scope_id, name) ? std::string(name)
                                                           : std::to_string(in.sin6_scope_id);
    }
    return result;
}

// "addr" or "addr%scope", the scope an interface name or index; read here
// rather than by the resolver, which takes a scope on link-local addresses only.
TSockAddress IPv6Literal(const std::string &text, int port)
{
    sockaddr_in6 in{};
    in.sin6_family = AF_INET6;
    in.sin6_port = htons(static_cast<std::uint16_t>(port));
    const auto percent = text.find('%');
    if (::inet_pton(AF_INET6, text.substr(0, percent).c_str(), &in.sin6_addr) != 1)
        throw ESocketError("Error remote address.");
    if (percent != std::string::npos) {
        const std::string scope = text.substr(percent + 1);
        in.sin6_scope_id = ::if_nametoindex(scope.c_str());
        if (in.sin6_scope_id == 0 && !scope.empty() &&
            scope.find_first_not_of("0123456789") == std::string::npos && scope.size() < 10)
            in.sin6_scope_id = static_cast<std::uint32_t>(std::stoul(scope));
        if (in.sin6_scope_id == 0)
            throw ESocketError("Error remote address.");
    }
    return FromSockaddr(reinterpret_cast<const sockaddr *>(&in), sizeof in);
}

} // namespace

std::string DottedAddress(std::uint32_t netAddr)
{
    const auto *b = reinterpret_cast<const unsigned char *>(&netAddr);
    return std::to_string(b[0]) + '.' + std::to_string(b[1]) + '.' + std::to_string(b[2]) + '.' +
           std::to_string(b[3]);
}

std::string JoinAddressList(const std::vector<std::string> &addresses)
{
    std::string text;
    for (const std::string &address : addresses)
        text += address + ", ";
    if (text.find("127.0.0.1") != std::string::npos)
        text.resize(text.size() - 2);
    else
        text += "127.0.0.1";
    return text;
}

std::string JoinAddressList(const std::vector<std::string> &ipv4,
                            const std::vector<std::string> &ipv6)
{
    std::string text = JoinAddressList(ipv4);
    for (const std::string &address : ipv6)
        text += ", " + address;
    return text;
}

std::string LocalAddressList()
{
    std::vector<std::string> ipv4;
    std::vector<std::string> ipv6;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (const ifaddrs *it = list; it; it = it->ifa_next) {
            if (!it->ifa_addr || (it->ifa_flags & IFF_LOOPBACK) || !(it->ifa_flags & IFF_UP))
                continue;
            if (it->ifa_addr->sa_family == AF_INET) {
                const auto *in = reinterpret_cast<const sockaddr_in *>(it->ifa_addr);
                ipv4.push_back(DottedAddress(in->sin_addr.s_addr));
            } else if (it->ifa_addr->sa_family == AF_INET6) {
                ipv6.push_back(AddressText(FromSockaddr(it->ifa_addr, sizeof(sockaddr_in6))));
            }
        }
        ::freeifaddrs(list);
    }
    return JoinAddressList(ipv4, ipv6);
}

std::uint32_t ResolveHost(const std::string &host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found) {
        const std::uint32_t addr =
            reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr.s_addr;
        ::freeaddrinfo(found);
        return addr;
    }
    const in_addr_t addr = ::inet_addr(host.c_str());
    if (addr == INADDR_NONE)
        throw ESocketError("Error remote address.");
    return addr;
}

int TSockAddress::Port() const
{
    if (Family() == AF_INET)
        return ntohs(AsIPv4(*this).sin_port);
    if (Family() == AF_INET6)
        return ntohs(AsIPv6(*this).sin6_port);
    return 0;
}

bool TSockAddress::IsIPv4() const
{
    return Family() == AF_INET ||
           (Family() == AF_INET6 && IN6_IS_ADDR_V4MAPPED(&AsIPv6(*this).sin6_addr));
}

bool TSockAddress::IsMulticast() const
{
    if (Family() == AF_INET)
        return IN_MULTICAST(ntohl(AsIPv4(*this).sin_addr.s_addr));
    if (Family() != AF_INET6)
        return false;
    const in6_addr &a = AsIPv6(*this).sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a))
        return (a.s6_addr[12] & 0xF0) == 0xE0;
    return IN6_IS_ADDR_MULTICAST(&a);
}

TSockAddress IPv4SockAddress(std::uint32_t netAddr, int port)
{
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(static_cast<std::uint16_t>(port));
    in.sin_addr.s_addr = netAddr;
    return FromSockaddr(reinterpret_cast<const sockaddr *>(&in), sizeof in);
}

TSockAddress AnySockAddress(int family, int port)
{
    if (family == AF_INET)
        return IPv4SockAddress(htonl(INADDR_ANY), port);
    sockaddr_in6 in{};
    in.sin6_family = AF_INET6;
    in.sin6_port = htons(static_cast<std::uint16_t>(port));
    in.sin6_addr = in6addr_any;
    return FromSockaddr(reinterpret_cast<const sockaddr *>(&in), sizeof in);
}

TSockAddress MappedToIPv6(const TSockAddress &address)
{
    if (address.Family() != AF_INET)
        return address;
    sockaddr_in6 in{};
    in.sin6_family = AF_INET6;
    in.sin6_port = AsIPv4(address).sin_port;
    in.sin6_addr.s6_addr[10] = 0xFF;
    in.sin6_addr.s6_addr[11] = 0xFF;
    std::memcpy(&in.sin6_addr.s6_addr[12], &AsIPv4(address).sin_addr, 4);
    return FromSockaddr(reinterpret_cast<const sockaddr *>(&in), sizeof in);
}

TSockAddress ResolveEndpoint(const std::string &host, int port)
{
    std::string name = host;
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    if (name.find(':') != std::string::npos)
        return IPv6Literal(name, port);
    try {
        return IPv4SockAddress(ResolveHost(name), port);
    } catch (const ESocketError &) {
        // Perhaps a name with IPv6 addresses only.
    }
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    addrinfo *found = nullptr;
    if (name.empty() || ::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found)
        throw ESocketError("Error remote address.");
    TSockAddress a = FromSockaddr(found->ai_addr, found->ai_addrlen);
    ::freeaddrinfo(found);
    reinterpret_cast<sockaddr_in6 *>(&a.Storage)->sin6_port =
        htons(static_cast<std::uint16_t>(port));
    return a;
}

std::string AddressText(const TSockAddress &address)
{
    if (address.Family() == AF_INET)
        return DottedAddress(AsIPv4(address).sin_addr.s_addr);
    if (address.Family() != AF_INET6)
        return "0.0.0.0";
    const sockaddr_in6 &in = AsIPv6(address);
    if (IN6_IS_ADDR_V4MAPPED(&in.sin6_addr)) {
        std::uint32_t v4;
        std::memcpy(&v4, &in.sin6_addr.s6_addr[12], 4);
        return DottedAddress(v4);
    }
    return IPv6Text(in);
}

std::string EndpointText(const TSockAddress &address)
{
    return HostPortText(AddressText(address), address.Port());
}

std::string HostPortText(const std::string &host, int port)
{
    const bool bracket = host.find(':') != std::string::npos && host.front() != '[';
    return (bracket ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

} // namespace kestrune
