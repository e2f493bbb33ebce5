#include "net/AddressHelpers.h"

#include "net/SocketError.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace kestrune {

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

std::string LocalAddressList()
{
    std::vector<std::string> addresses;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (const ifaddrs *it = list; it; it = it->ifa_next) {
            if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET)
                continue;
            if ((it->ifa_flags & IFF_LOOPBACK) || !(it->ifa_flags & IFF_UP))
                continue;
            const auto *in = reinterpret_cast<const sockaddr_in *>(it->ifa_addr);
            addresses.push_back(DottedAddress(in->sin_addr.s_addr));
        }
        ::freeifaddrs(list);
    }
    return JoinAddressList(addresses);
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

} // namespace kestrune
