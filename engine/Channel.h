#pragma once

#include "serial/FlowControl.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kestrune {

enum TCommMethod : std::uint8_t
{
    cmSerial = 0,
    cmUDP = 1,
    cmTCPServer = 2,
    cmTCPClient = 3
};

// One channel's settings. Its live transport, while it is open, belongs to
// the session.
struct TChannel
{
    TCommMethod Method = cmSerial;
    std::string Port;
    std::int32_t Baudrate = 0;
    std::uint8_t ByteSize = 0;  // index into ByteSizeTexts
    std::uint8_t ParityBit = 0; // index into ParityTexts
    std::uint8_t StopBits = 0;  // index into StopBitsTexts
    std::string IPAddr;
    std::int32_t LocalPort = 0;
    std::int32_t RemotePort = 0;
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTimeoutMultiplier = 0;
    std::uint32_t ReadTimeoutConstant = 0;
    std::uint32_t WriteTimeoutMultiplier = 0;
    std::uint32_t WriteTimeoutConstant = 0;
    // Serial only, edited in the time-outs dialog like the time-outs.
    TFlowControl FlowControl = TFlowControl::None;
    bool ReopenOnReturn = false; // a vanished device is awaited instead of stopping all
    // Network options; each off (the plain endpoint) by default.
    bool SeveralClients = false;   // a TCP server serves every client at once
    bool ReplyToSender = false;    // UDP sends go to the last datagram's sender
    std::int32_t MulticastTtl = 1; // UDP to a group: hops of what is sent
    bool MulticastLoop = true;     // UDP to a group: this host's members get it too
};

// The one-line description shown in the relay list and in the main status pane,
// e.g. "Serial,COM1,9600,8,N,1" or "TCP Client,127.0.0.1:13002"; an IPv6
// address is bracketed ("TCP Client,[::1]:13002"), and network options that
// are on follow as NetworkOptionWords.
[[nodiscard]] std::string ChannelDescription(const TChannel &channel);

// A history size with an optional unit: "64k" -> 65536, "2M" -> 2097152; -1 when
// the text is not a size or the product leaves the 32-bit signed range.
[[nodiscard]] std::int32_t ParseSizeText(std::string_view text);

// The address pane shows the address list up to its second comma.
[[nodiscard]] std::string AddressPaneCaption(const std::string &addressList);

} // namespace kestrune
