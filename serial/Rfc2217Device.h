#pragma once

#include "serial/Rfc2217Messages.h"
#include "serial/SerialDevice.h"
#include "serial/TelnetCodec.h"

#include <mutex>
#include <string>

namespace kestrune {

// A serial port on another machine, reached over a connected TCP socket that
// speaks Telnet with the COM-PORT-OPTION (RFC 2217) already agreed. The
// reader and writer threads use it like a local device: Read gives the data
// with Telnet taken out, Write doubles IAC, line settings, purges and breaks
// become commands to the server, and the server's notifications become the
// line counters. A closed or failed connection reads as a failed device,
// which the reader reports as a hang-up.
class TRfc2217Device : public TSerialDevice
{
public:
    // Takes ownership of the socket; Codec is the one that negotiated on it.
    TRfc2217Device(int Socket, TTelnetCodec Codec);

    TIoResult Read(char *Buffer, std::size_t Size) override;
    TIoResult Write(const char *Buffer, std::size_t Size) override;
    TIoStatus ReadLineCounters(TLineCounters &Counters) override;
    void PurgeInput() override;
    void PurgeOutput() override;
    void SetBreak(bool On) override;
    void ApplyLineSettings(const TLineSettings &Settings) override;

    // Largest piece of caller data encoded and offered to the socket at once.
    static constexpr std::size_t WriteChunk = 16384;

private:
    // Queues bytes that are not data (commands, negotiation answers) behind
    // whatever is already waiting, and sends what the socket takes.
    void SendCommand(const std::string &Bytes);
    // Sends what waits in FPending; called with FSendLock held.
    TIoStatus FlushPending();

    // Used by the reader thread only (Read, ReadLineCounters).
    TTelnetCodec FCodec;
    TComPortState FState;
    std::string FRaw;
    std::string FData;
    std::vector<TTelnetSubneg> FSubnegs;

    // Both threads and the owner send: commands must not land inside a data
    // byte's IAC pair, so everything goes out in order under this lock.
    std::mutex FSendLock;
    std::string FPending; // encoded bytes owed to the socket, in order
    std::string FEncoded;
};

} // namespace kestrune
