#pragma once

#include "serial/TelnetCodec.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kestrune {

// "rfc2217://host:port": a serial port served over the network. The scheme
// is matched without regard to case; the host may be a name, an IPv4
// address or a bracketed IPv6 address; a trailing "/" is allowed.
struct TRemotePortAddress
{
    std::string Host;
    std::uint16_t Port = 0;
};

[[nodiscard]] bool IsRemotePortName(const std::string &CommName);
// Nothing when the name is not a well-formed remote port name.
[[nodiscard]] std::optional<TRemotePortAddress> ParseRemotePortName(const std::string &CommName);

// How long opening a remote port may take: the whole open, and within it the
// wait for the server to agree to the COM-PORT-OPTION.
struct TRemoteOpenLimits
{
    std::chrono::milliseconds Total{10000};
    std::chrono::milliseconds OptionAnswer{3000};
};
// Process-wide; tests shorten them.
TRemoteOpenLimits &RemoteOpenLimits();

// A connection on which the server has agreed to the option, or the reason
// why there is none.
struct TRemoteConnection
{
    int Socket = -1;
    std::unique_ptr<TTelnetCodec> Codec;
    std::string Reason;
};

// Resolves, connects and negotiates, blocking the calling thread for at most
// about Limits.Total (a name lookup cannot be interrupted and may take
// longer). Stops early, with no socket, when Cancel becomes true. Data the
// server sends before the option is agreed is dropped: the open purges it
// anyway.
[[nodiscard]] TRemoteConnection ConnectRemotePort(const TRemotePortAddress &Address,
                                                  const TRemoteOpenLimits &Limits,
                                                  const std::atomic<bool> &Cancel);

// ConnectRemotePort on a helper thread while the calling (GUI) thread keeps
// painting: its event loop runs, but without user input, socket notifiers or
// the serial components' notifications, which wait until the open is done.
[[nodiscard]] TRemoteConnection OpenRemotePort(const TRemotePortAddress &Address);

} // namespace kestrune
