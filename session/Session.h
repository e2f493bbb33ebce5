#pragma once

#include "session/Transport.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// The live side of the main channel and the relay channels: their transports,
// the main link's state, the forwarding of blocks between the main channel and
// the checked relays, and the flow control that keeps a slow destination from
// losing what a fast source sends. A source that cannot be held back (UDP, a
// serial line without flow control) is not allowed to fill the memory instead:
// past a limit, what a destination cannot take from it is dropped and counted.
// No widgets: the window draws what it reports and forwards what the user does.
class TSession
{
public:
    // Above this many waiting bytes a destination holds back the sources that
    // can wait without loss; they read again once it has drained.
    static constexpr std::size_t HighWater = 1024 * 1024;
    static constexpr std::size_t LowWater = 256 * 1024;
    // What a destination may hold waiting before blocks for it from sources
    // that cannot be held back are dropped.
    static constexpr std::size_t DefaultQueueLimit = 64 * 1024 * 1024;

    // Runs an action once the current event has been handled. Writes that
    // go to one destination in one pass of a reader are joined and handed on
    // then, as one write.
    using TDefer = std::function<void(std::function<void()>)>;

    explicit TSession(TDefer defer);
    TSession(const TSession &) = delete;
    TSession &operator=(const TSession &) = delete;
    ~TSession();

    // Relay slots follow the relay list, one per entry, open or not.
    void AddRelay(bool checked);
    // Closes the relay's transport, if any, before the slot goes.
    void RemoveRelay(std::size_t index);
    // A mark changed while open takes effect with the next block.
    void SetRelayChecked(std::size_t index, bool checked);
    [[nodiscard]] std::size_t RelayCount() const { return FRelays.size(); }
    [[nodiscard]] bool RelayChecked(std::size_t index) const;
    [[nodiscard]] bool RelayOpen(std::size_t index) const;

    // Takes over opened transports and wires their events.
    void OpenMain(std::unique_ptr<TTransport> transport);
    void OpenRelay(std::size_t index, std::unique_ptr<TTransport> transport);
    // Closes every transport without events; pending joined writes are dropped.
    void CloseAll();

    [[nodiscard]] bool IsOpen() const { return FMain.Transport != nullptr; }
    [[nodiscard]] TLinkState MainState() const;
    // True while the main link has a peer to send to.
    [[nodiscard]] bool MainCanSend() const;
    [[nodiscard]] std::size_t MainQueuedBytes() const;
    // The queue and what the device holds past it: 0 once all is on the line.
    [[nodiscard]] std::size_t MainUnsentBytes() const;
    // Clients the main channel's TCP server serves now.
    [[nodiscard]] int MainPeerCount() const;
    // During OnData: where the block came from on a socket, "" elsewhere.
    [[nodiscard]] std::string DeliveringPeer() const;
    // Bytes waiting for a relay: joined for it or queued in its transport.
    [[nodiscard]] std::size_t RelayQueuedBytes(std::size_t index) const;

    // The most a destination holds waiting for it from sources that cannot be
    // held back; a block that would take it past this is dropped. An empty
    // queue always takes a block, so any limit lets data through.
    void SetQueueLimit(std::size_t bytes) { FQueueLimit = bytes; }
    [[nodiscard]] std::size_t QueueLimit() const { return FQueueLimit; }
    // Bytes dropped for a destination whose queue was at the limit, since the
    // links opened. Channel -1 is the main channel, others are relay indexes.
    [[nodiscard]] std::uint64_t OverflowBytes(int channel) const;

    // Writes a frame to the main channel, after anything still waiting to be
    // joined for it, so the order on the link is the order of the calls.
    [[nodiscard]] TWriteResult SendToMain(std::string_view frame);
    // Forwards a received block by its origin: from the main channel to every
    // checked, open relay; from a relay to the main channel. Called from
    // inside OnData, it knows whether the block's source can wait; a relay's
    // block routed at another time is kept as if it could.
    void Route(bool fromRelay, std::string_view block);

    // True while the main channel's (or a relay's) reading is held back.
    [[nodiscard]] bool MainPaused() const { return FMain.Paused; }
    [[nodiscard]] bool RelayPaused(std::size_t index) const;

    // A block arrived on the main channel or on a relay.
    std::function<void(bool fromRelay, std::string_view block)> OnData;
    // During OnData: the relay it came from (-1 the main channel) and, for a
    // link that times its reads, the silences within the block.
    struct TDelivery
    {
        int Relay = -1;
        const std::vector<TReadQuiet> *Quiet = nullptr;
        const TTransport *From = nullptr;
    };
    [[nodiscard]] const TDelivery &Delivering() const { return FDelivering; }
    std::function<void(TLinkState state)> OnMainStateChanged;
    // A link was lost for good: every channel must close. An empty message
    // needs no word.
    std::function<void(const std::string &message)> OnStopped;
    // Before the stop it causes: the server of a TCP client went away, the
    // main channel's (-1) or a relay's (its index).
    std::function<void(int relay)> OnServerClosed;
    // A failure that keeps the links up, for the status bar.
    std::function<void(const std::string &message)> OnWarning;
    // The main channel has handed on everything queued for it.
    std::function<void()> OnMainDrained;
    std::function<void(bool fromRelay, std::uint32_t errors)> OnLineError;
    std::function<void(bool fromRelay, std::uint32_t modemEvent)> OnModemChange;
    std::function<void(bool fromRelay, std::uint32_t lines)> OnModemLines;
    // A serial port's device went away and its link waits for it (the main
    // channel's state turns Waiting first), or it is back and open again (the
    // main channel's state turns Open first). The others stay open meanwhile.
    std::function<void(bool fromRelay, const std::string &port)> OnPortWaiting;
    std::function<void(bool fromRelay, const std::string &port)> OnPortReturned;
    // Bytes meant for a waiting port were dropped; the total since the links opened.
    std::function<void(std::uint64_t total)> OnDropped;
    // A destination's queue is at the limit and blocks for it are being
    // dropped: raised once per episode, with OverflowBytes(channel) so far.
    // The episode ends, silently, once the queue has drained to half the
    // limit. Channel as for OverflowBytes; the handler must not change the
    // relay list.
    std::function<void(int channel, std::uint64_t droppedSoFar)> OnRelayDropping;

    // A transport took these bytes (channel -1 the main channel, otherwise the
    // relay's index): what actually goes out, joined writes as one.
    std::function<void(int channel, std::string_view bytes)> OnWritten;
    // The live transport of a channel numbered as for OnWritten, or null.
    [[nodiscard]] const TTransport *TransportOf(int channel) const;

    // The port the main channel waits for, while it is Waiting.
    [[nodiscard]] const std::string &MainWaitingFor() const { return FMainWaitingFor; }
    // Bytes dropped for waiting ports, main and relays, since the links opened.
    [[nodiscard]] std::uint64_t DroppedBytes() const;
    // The main channel's serial line, while it is an open serial port.
    [[nodiscard]] TLineControl *MainLineControl() const;
    // TTransport::SetPromptReads on the main channel, while it is open.
    void SetMainPromptReads(bool on);

private:
    struct TSlot
    {
        std::unique_ptr<TTransport> Transport;
        bool Relay = false;
        bool Checked = true;
        bool Full = false;   // its queue passed the high mark
        bool Paused = false; // its reading is held back
        std::string Joined;  // bytes for it, handed on at the end of the pass
        bool FlushArmed = false;
        std::string LastWarning;
        std::uint64_t Overflow = 0; // dropped at the queue limit
        bool Dropping = false;      // an overflow episode is under way
    };

    using TSlotPtr = std::shared_ptr<TSlot>;

    void Wire(const TSlotPtr &slot);
    void Deliver(TSlot &slot, std::string_view bytes, bool sourceWaits);
    // Whether a block from a source that cannot wait fits the slot's queue;
    // counts and reports it when not.
    [[nodiscard]] bool Admit(TSlot &slot, std::size_t size);
    void EndOverflow(TSlot &slot);
    [[nodiscard]] bool SourceWaits(bool fromRelay) const;
    // A relay slot's index in the list; -1 for the main channel.
    [[nodiscard]] int IndexOf(const TSlot &slot) const;
    void Flush(TSlot &slot);
    void Written(const TSlot &slot, std::string_view bytes);
    void CheckFull(TSlot &slot);
    void Relieve(TSlot &slot);
    void DestinationDrained(TSlot &slot);
    void UpdatePauses();
    void SetPaused(TSlot &slot, bool paused);
    void Warn(TSlot &slot, const std::string &message);
    void Stop(const std::string &message);
    // A write to the slot was refused; counts it as dropped when its port is away.
    void Refused(TSlot &slot, const TWriteResult &result);
    [[nodiscard]] std::size_t Waiting(const TSlot &slot) const;
    // Closes a transport now and deletes it later: the call may come from
    // inside one of its own events.
    void Retire(std::unique_ptr<TTransport> transport);

    TDefer FDefer;
    TSlotPtr FMainSlot = std::make_shared<TSlot>();
    TSlot &FMain = *FMainSlot;
    std::vector<TSlotPtr> FRelays;
    TLinkState FMainState = TLinkState::Closed;
    TDelivery FDelivering;
    // During OnData: where the block came from and whether that source can be
    // held back without loss.
    struct TSource
    {
        bool Known = false;
        bool Relay = false;
        bool Waits = false;
    };
    TSource FSource;
    std::size_t FQueueLimit = DefaultQueueLimit;
    std::string FMainWaitingFor;
    // Dropped by transports already closed since the links opened.
    std::uint64_t FDroppedBefore = 0;
};

} // namespace kestrune
