#pragma once

#include "serial/Rfc2217Stream.h"
#include "serial/SerialDevice.h"
#include "serial/TelnetCodec.h"

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

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
    [[nodiscard]] std::string FailureReason() const override;

    // Largest piece of caller data encoded and offered to the socket at once.
    static constexpr std::size_t WriteChunk = 16384;

private:
    // Queues bytes that are not data (commands, answers) behind whatever is
    // already waiting, and sends what the socket takes.
    void SendCommand(const std::string &Bytes);
    // The following are called with FSendLock held.
    // Adds Bytes to what waits; past the outbox's bound the connection is
    // given up instead.
    void Queue(std::string_view Bytes);
    // Sends what waits in the outbox.
    TIoStatus FlushPending();

    // Used by the reader thread only (Read, ReadLineCounters).
    TComPortInput FInput;
    std::string FRaw;
    std::string FData;

    // Both threads and the owner send: commands must not land inside a data
    // byte's IAC pair, so everything goes out in order under this lock.
    mutable std::mutex FSendLock;
    TComPortOutbox FOutbox;
    std::string FEncoded;
    // Set once, when the server stops reading; from then on every call fails.
    std::atomic<bool> FGivenUp{false};
    std::string FFailure;
};

} // namespace kestrune
