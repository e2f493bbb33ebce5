#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune {

// "a.b.c.d" of an IPv4 address held in network byte order.
[[nodiscard]] std::string DottedAddress(std::uint32_t netAddr);

// Joins addresses with ", " and ends the list with the loopback address,
// unless the text already contains "127.0.0.1" (a plain substring test, so
// 127.0.0.10 counts too). An empty list gives "127.0.0.1".
[[nodiscard]] std::string JoinAddressList(const std::vector<std::string> &addresses);

// This computer's non-loopback IPv4 addresses of interfaces that are up, in
// interface order, joined by JoinAddressList. Never fails.
[[nodiscard]] std::string LocalAddressList();

// A host name or dotted address as an IPv4 address in network byte order.
// Blocks while the resolver works. Raises ESocketError "Error remote address.".
[[nodiscard]] std::uint32_t ResolveHost(const std::string &host);

} // namespace kestrune
