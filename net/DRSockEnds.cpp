// The addresses of an endpoint's data socket, for captures.
#include "net/DRSock.h"

#include "common/FileDescriptor.h"

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

} // namespace

bool TDRSock::Ends(sockaddr_in &local, sockaddr_in &peer) const
{
    if (FDataSocket < 0)
        return false;
    socklen_t len = sizeof local;
    if (::getsockname(FDataSocket, reinterpret_cast<sockaddr *>(&local), &len) != 0)
        return false;
    if (FDataIsTcp) {
        len = sizeof peer;
        return ::getpeername(FDataSocket, reinterpret_cast<sockaddr *>(&peer), &len) == 0;
    }
    peer = sockaddr_in{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = FSendToAddr;
    peer.sin_port = htons(FSendToPort);
    if (local.sin_addr.s_addr == htonl(INADDR_ANY))
        (void)SourceFor(peer, local);
    return true;
}

} // namespace kestrune
