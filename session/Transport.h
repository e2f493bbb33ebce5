#pragma once

#include "common/LineErrorCounts.h"
#include "common/ReadQuiet.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// What a channel's link can do right now.
enum class TLinkState : std::uint8_t
{
    Closed,    // no transport
    Listening, // a TCP server waiting for its client
    Connected, // a TCP server serving its client
    Open,      // a serial port, a UDP peer or a TCP client: ready to send
    Waiting    // a serial port whose device went away, awaited back
};

// The outputs of a serial line, for the links that have them.
class TLineControl
{
public:
    virtual ~TLineControl() = default;
    // False while the device is away: nothing can be set then.
    [[nodiscard]] virtual bool Present() const = 0;
    [[nodiscard]] virtual bool Dtr() const = 0;
    [[nodiscard]] virtual bool Rts() const = 0;
    // True while flow control drives RTS, so it cannot be set by hand.
    [[nodiscard]] virtual bool RtsByFlowControl() const = 0;
    virtual void SetDtr(bool on) = 0;
    virtual void SetRts(bool on) = 0;
    // Holds the transmit line in the break state for ms milliseconds.
    virtual void SendBreak(int ms) = 0;
    // Levels of the input lines last reported (ModemLine* bits of the serial
    // component), -1 while the device has not told them.
    [[nodiscard]] virtual std::int32_t ModemLines() const = 0;
    [[nodiscard]] virtual TLineErrorCounts LineErrors() const = 0;
};

// The outcome of handing bytes to a transport: all of them were accepted
// (they may still wait in the transport's queue), or none, with the reason.
struct TWriteResult
{
    bool Ok = true;
    std::string Error;

    [[nodiscard]] static TWriteResult Refused(std::string reason)
    {
        return {false, std::move(reason)};
    }
};

// The two ends of a socket link: IPv4 addresses and ports in host order.
struct TLinkAddresses
{
    bool Tcp = false;
    std::uint32_t LocalAddr = 0;
    std::uint16_t LocalPort = 0;
    std::uint32_t PeerAddr = 0;
    std::uint16_t PeerPort = 0;
};

// One open link of a channel: a serial port or a socket endpoint. Everything
// happens on the GUI thread. Events may be raised from inside the event loop
// only, never from inside a call on the transport, and a handler may close and
// destroy the transport that raised it.
class TTransport
{
public:
    TTransport() = default;
    TTransport(const TTransport &) = delete;
    TTransport &operator=(const TTransport &) = delete;
    virtual ~TTransport() = default;

    // Hands bytes to the link; the transport decides whether an empty write
    // means anything (an empty datagram does).
    [[nodiscard]] virtual TWriteResult Write(std::string_view bytes) = 0;
    // Bytes accepted by Write that the link has not taken yet.
    [[nodiscard]] virtual std::size_t QueuedBytes() const = 0;
    // Bytes past the queue that the device still holds (a serial driver's
    // output buffer); closing may discard them.
    [[nodiscard]] virtual std::size_t DeviceQueuedBytes() const { return 0; }
    // Stops or resumes reading. Only meaningful where PausesWithoutLoss holds.
    virtual void PauseReading(bool paused) = 0;
    // True when a paused reader holds its peer back instead of losing bytes:
    // a TCP peer, or a serial line with hardware or software flow control.
    [[nodiscard]] virtual bool PausesWithoutLoss() const = 0;
    // True when each write is a message of its own (UDP): such writes are
    // never joined.
    [[nodiscard]] virtual bool KeepsWriteBoundaries() const = 0;
    [[nodiscard]] virtual TLinkState State() const = 0;
    // During OnData, for a link that times its reads (a serial line): the
    // reads of the block that followed a silence. Null for a link whose
    // blocks are its messages (a socket).
    [[nodiscard]] virtual const std::vector<TReadQuiet> *BlockQuiet() const { return nullptr; }
    // Closes the link without raising events.
    virtual void Close() = 0;
    // The serial line's outputs and inputs; none for a socket.
    [[nodiscard]] virtual TLineControl *LineControl() { return nullptr; }
    // Bytes given to Write while the link was Waiting, refused and counted.
    [[nodiscard]] virtual std::uint64_t DroppedBytes() const { return 0; }
    // Clients a TCP server serves now (more than one when it serves several).
    [[nodiscard]] virtual int PeerCount() const { return State() == TLinkState::Connected ? 1 : 0; }
    // During OnData, on a socket: where the block came from ("a.b.c.d:port",
    // "[v6]:port"); empty elsewhere.
    [[nodiscard]] virtual std::string DataPeer() const { return {}; }
    // A socket link's ends while it has a peer; false for a serial line.
    [[nodiscard]] virtual bool Addresses(TLinkAddresses &) const { return false; }
    // On: every byte is handed on as soon as it arrives, whatever read
    // time-outs the link has (a protocol waits for one-byte answers). Off: the
    // link's own time-outs again. A link that reads so already ignores it.
    virtual void SetPromptReads(bool) {}

    // Bytes arrived; valid during the call.
    std::function<void(std::string_view bytes)> OnData;
    // Everything queued has been handed on.
    std::function<void()> OnDrained;
    // A TCP server's client arrived, or left (the server listens again).
    std::function<void()> OnPeerConnected;
    std::function<void()> OnPeerClosed;
    // A server of several clients: one left and others remain (PeerCount).
    std::function<void()> OnPeersChanged;
    // The link is gone for good. An empty message means the loss needs no
    // word (a TCP client whose server left); otherwise it says why.
    std::function<void(const std::string &message)> OnHangup;
    // A failure that leaves the link up, said in a line for the status bar.
    std::function<void(const std::string &message)> OnWarning;
    // Serial line errors (the component's error bits) and modem-line changes.
    std::function<void(std::uint32_t errors)> OnLineError;
    std::function<void(std::uint32_t modemEvent)> OnModemChange;
    // The levels of the modem input lines, when they change.
    std::function<void(std::uint32_t lines)> OnModemLines;
    // The device went away and the link waits for it under `port`; Write
    // refuses and counts meanwhile. OnReturned: it is back and open again.
    std::function<void(const std::string &port)> OnWaiting;
    std::function<void(const std::string &port)> OnReturned;
};

} // namespace kestrune
