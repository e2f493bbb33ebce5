#include "serial/Rfc2217Device.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/socket.h>

namespace kestrune {

TRfc2217Device::TRfc2217Device(int Socket, TTelnetCodec Codec)
    : TSerialDevice(Socket), FInput(std::move(Codec))
{
}

std::string TRfc2217Device::FailureReason() const
{
    std::lock_guard lock(FSendLock);
    return FFailure;
}

TIoResult TRfc2217Device::Read(char *Buffer, std::size_t Size)
{
    if (Size == 0)
        return {TIoStatus::WouldBlock, 0};
    FRaw.resize(Size);
    // Received bytes that were all Telnet commands give no data: read on
    // until data comes or the socket is empty.
    for (;;) {
        if (FGivenUp.load())
            return {TIoStatus::Failed, 0};
        const ssize_t n = ::recv(Fd(), FRaw.data(), Size, MSG_DONTWAIT);
        if (n == 0)
            return {TIoStatus::Failed, 0}; // the server closed the connection
        if (n < 0)
            return {IoStatusOf(errno), 0};
        FData.clear();
        const std::string owed = FInput.Take(FRaw.data(), std::size_t(n), FData);
        if (!owed.empty())
            SendCommand(owed);
        if (!FData.empty()) {
            // Decoding never lengthens: the data fits where the raw bytes would.
            std::memcpy(Buffer, FData.data(), FData.size());
            return {TIoStatus::Ok, FData.size()};
        }
    }
}

TIoResult TRfc2217Device::Write(const char *Buffer, std::size_t Size)
{
    std::lock_guard lock(FSendLock);
    const TIoStatus flushed = FlushPending();
    if (flushed != TIoStatus::Ok)
        return {flushed, 0};
    if (!FOutbox.Empty())
        return {TIoStatus::WouldBlock, 0};

    const std::size_t chunk = std::min(Size, WriteChunk);
    FEncoded.clear();
    TelnetEscape(Buffer, chunk, FEncoded);
    const ssize_t n = ::send(Fd(), FEncoded.data(), FEncoded.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0)
        return {IoStatusOf(errno), 0};
    if (n == 0)
        return {TIoStatus::WouldBlock, 0};
    const auto sent = std::size_t(n);
    if (sent == FEncoded.size())
        return {TIoStatus::Ok, chunk};

    // Count the caller's bytes that went out whole. One cut between the two
    // halves of a doubled 0xFF keeps the second half for the next send.
    std::size_t accepted = 0;
    std::size_t position = 0;
    while (accepted < chunk) {
        const std::size_t length =
            static_cast<unsigned char>(Buffer[accepted]) == telnet::IAC ? 2 : 1;
        if (position + length > sent)
            break;
        position += length;
        ++accepted;
    }
    if (position < sent) {
        Queue(std::string_view("\xFF", 1));
        ++accepted;
    }
    return {TIoStatus::Ok, accepted};
}

TIoStatus TRfc2217Device::FlushPending()
{
    if (FGivenUp.load())
        return TIoStatus::Failed;
    while (!FOutbox.Empty()) {
        const std::string_view pending = FOutbox.Pending();
        const ssize_t n = ::send(Fd(), pending.data(), pending.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            const TIoStatus status = IoStatusOf(errno);
            return status == TIoStatus::WouldBlock ? TIoStatus::Ok : status;
        }
        FOutbox.Sent(std::size_t(n));
    }
    return TIoStatus::Ok;
}

void TRfc2217Device::Queue(std::string_view Bytes)
{
    if (FGivenUp.load() || FOutbox.Add(Bytes))
        return;
    FFailure = "The remote port's server stopped reading: more than " +
               std::to_string(TComPortOutbox::MaxPending / 1024) + " KiB waited to be sent to it";
    FGivenUp = true;
    // Wakes the reader at once, paused or not, and tells the server.
    ::shutdown(Fd(), SHUT_RDWR);
}

void TRfc2217Device::SendCommand(const std::string &Bytes)
{
    std::lock_guard lock(FSendLock);
    // Sent first, so a socket with room never makes the bytes wait at all.
    (void)FlushPending();
    Queue(Bytes);
    // A failed connection shows itself to the reader; commands are not reported.
    (void)FlushPending();
}

TIoStatus TRfc2217Device::ReadLineCounters(TLineCounters &Counters)
{
    {
        // The reader looks here every few tens of milliseconds: commands left
        // in FPending by a full socket go out even when the writer is idle. A
        // failure is left to Read, which hands over what it read first.
        std::lock_guard lock(FSendLock);
        (void)FlushPending();
    }
    const TComPortState &state = FInput.State();
    Counters = state.Counters();
    // The modem-state bits are the line levels' own values.
    Counters.ModemLines = state.ModemState() < 0 ? -1 : (state.ModemState() & 0xF0);
    return TIoStatus::Ok;
}

void TRfc2217Device::PurgeInput()
{
    SendCommand(ComPortCommand(rfc2217::PurgeData, rfc2217::PurgeReceive));
}

void TRfc2217Device::PurgeOutput()
{
    SendCommand(ComPortCommand(rfc2217::PurgeData, rfc2217::PurgeTransmit));
}

void TRfc2217Device::SetBreak(bool On)
{
    SendCommand(ComPortCommand(rfc2217::SetControl, On ? rfc2217::BreakOn : rfc2217::BreakOff));
}

void TRfc2217Device::ApplyLineSettings(const TLineSettings &Settings)
{
    SendCommand(LineSettingsCommands(Settings));
}

} // namespace kestrune
