#pragma once

#include "transfer/RawSender.h"
#include "transfer/TransferMachine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

// A file transfer on the main channel, as the user asks for it.
struct TTransferRequest
{
    TTransferProtocol Protocol = TTransferProtocol::Xmodem;
    bool Receive = false;
    std::vector<std::string> Files; // to send, in order
    // To receive into: the file (XMODEM), or the folder the batch goes to (YMODEM).
    std::string Path;
    TRawPacing Pacing; // raw sends only
    TTransferTimeouts Timeouts;
};

// How a transfer ended.
enum class TTransferEnd : std::uint8_t
{
    Done,
    Failed,       // by the protocol, the peer, a file, or a cancel
    ChannelClosed // the channels closed (or the link was lost) under it
};

// Where a running transfer is, for a progress bar.
struct TTransferProgress
{
    std::uint64_t Done = 0;
    std::optional<std::uint64_t> Total;
    double BytesPerSecond = 0;
    std::optional<double> SecondsLeft;
    std::string File;
};

// The protocol's word on the command line and in the window ("xmodem-1k").
[[nodiscard]] const char *ProtocolWord(TTransferProtocol protocol);
[[nodiscard]] std::optional<TTransferProtocol> ProtocolFromWord(const std::string &word);

} // namespace kestrune
