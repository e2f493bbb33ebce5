#pragma once

#include "serial/Rfc2217Messages.h"
#include "serial/TelnetCodec.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// What a remote port owes its server, in order, until the socket takes it:
// commands, negotiation answers, answers to signature requests and the second
// half of a doubled 0xFF. A server that asks and never reads would make it
// grow without end, so it is bounded; past the bound the connection is given up.
class TComPortOutbox
{
public:
    static constexpr std::size_t MaxPending = 64 * 1024;

    // Appends Bytes; false, with nothing appended, when they would take what
    // waits past MaxPending.
    [[nodiscard]] bool Add(std::string_view Bytes);
    [[nodiscard]] std::string_view Pending() const
    {
        return std::string_view(FBytes).substr(FFirst);
    }
    [[nodiscard]] bool Empty() const { return FFirst == FBytes.size(); }
    // The socket took the first Count bytes of Pending.
    void Sent(std::size_t Count);

private:
    // Pending starts at FFirst; the bytes before it are moved out only once
    // they are as many as those after, so a socket that takes little at a
    // time costs no copy of everything per send.
    std::string FBytes;
    std::size_t FFirst = 0;
};

// The receiving side of a remote port without its socket: what the server
// sent becomes data, line counters and the bytes owed to the server.
class TComPortInput
{
public:
    explicit TComPortInput(TTelnetCodec Codec) : FCodec(std::move(Codec)) {}

    // Decodes Size received bytes, appending their data to Data (never more
    // than Size bytes); returns what is owed to the server for them.
    [[nodiscard]] std::string Take(const char *Bytes, std::size_t Size, std::string &Data);

    [[nodiscard]] const TComPortState &State() const { return FState; }

private:
    TTelnetCodec FCodec;
    TComPortState FState;
    std::vector<TTelnetSubneg> FSubnegs;
};

} // namespace kestrune
