// The addresses of an endpoint's data socket, for captures.
#include "net/DRSock.h"

#include "common/FileDescriptor.h"
#include "net/AddressHelpers.h"

#include <cstring>

#include <netinet/in.h>
#include <sys/socket.h>

namespace kestrune {

namespace {

// The address the system picks to reach `peer`: a UDP socket connected to it
// sends nothing, but learns its source address.
bool SourceFor(const sockaddr_in &peer, sockaddr_in &local)
{
    const TFileDescriptor probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in chosen{};
    socklen_t len = sizeof chosen;
    if (!probe.IsOpen() ||
        ::connect(probe.Get(), reinterpret_cast<const sockaddr *>(&peer), sizeof peer) != 0 ||
        ::getsockname(probe.Get(), reinterpret_cast<sockaddr *>(&chosen), &len) != 0)
        return false;
    local.sin_addr = chosen.sin_addr;
    return true;
}

// An IPv4 address, plain or mapped into IPv6, as a plain one.
bool AsIPv4(const TSockAddress &address, sockaddr_in &out)
{
    out = sockaddr_in{};
    out.sin_family = AF_INET;
    if (address.Family() == AF_INET) {
        out = *reinterpret_cast<const sockaddr_in *>(address.Get());
        return true;
    }
    if (address.Family() != AF_INET6)
        return false;
    const auto &six = *reinterpret_cast<const sockaddr_in6 *>(address.Get());
    // A socket of both families bound to any address: its IPv4 side is any too.
    if (IN6_ARE_ADDR_EQUAL(&six.sin6_addr, &in6addr_any))
        out.sin_addr.s_addr = htonl(INADDR_ANY);
    else if (IN6_IS_ADDR_V4MAPPED(&six.sin6_addr))
        std::memcpy(&out.sin_addr, six.sin6_addr.s6_addr + 12, 4);
    else
        return false;
    out.sin_port = six.sin6_port;
    return true;
}

} // namespace

bool TDRSock::Ends(sockaddr_in &local, sockaddr_in &peer) const
{
    if (FDataSocket < 0)
        return false;
    TSockAddress mine;
    mine.Length = sizeof mine.Storage;
    if (::getsockname(FDataSocket, mine.Get(), &mine.Length) != 0)
        return false;
    TSockAddress theirs = FSendTo;
    if (FDataIsTcp) {
        theirs.Length = sizeof theirs.Storage;
        if (::getpeername(FDataSocket, theirs.Get(), &theirs.Length) != 0)
            return false;
    }
    // Captures describe IPv4 ends; a socket of both families reports its
    // IPv4 peers mapped into IPv6.
    if (!AsIPv4(mine, local) || !AsIPv4(theirs, peer))
        return false;
    if (local.sin_addr.s_addr == htonl(INADDR_ANY))
        (void)SourceFor(peer, local);
    return true;
}

} // namespace kestrune
