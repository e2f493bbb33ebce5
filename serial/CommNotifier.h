#pragma once

#include "common/ReadQuiet.h"

#include <QEvent>
#include <QObject>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace kestrune {

class TComm;

// What the reader and writer threads report to the component. The values
// follow the port's historical message numbers, so logs and traces of both
// line up.
enum class TCommMessage : int
{
    Data = 0x401,
    Error = 0x402,
    Hangup = 0x403,
    Modem = 0x404,
    Sent = 0x405,
    Lines = 0x406 // the levels of the modem input lines changed
};

// One notification on its way to the GUI thread. A data notification owns
// its block, so one dropped undelivered frees it.
struct TCommNotice
{
    TCommMessage Message = TCommMessage::Data;
    std::uint32_t Value = 0;
    std::unique_ptr<char[]> Block;
    std::uint16_t Count = 0;
    // Reads of the block that followed a silence, in order.
    std::vector<TReadQuiet> Quiet;
    // Line errors since the last report: framing, parity, overrun, break.
    std::array<std::uint32_t, 4> Errors{};
};

// The component's receiver on the GUI thread: turns queued notifications into
// the component's events, one at a time, in queueing order. The threads queue
// from any thread; the GUI thread is woken once for whatever gathered since
// its last wake, not once per notification. It may outlive its component by
// a moment when a handler destroys the component from inside an event; it
// then drops whatever is still queued.
class TCommNotifier : public QObject
{
public:
    static constexpr QEvent::Type WakeType = QEvent::Type(QEvent::User + 0x400);

    explicit TCommNotifier(TComm *Owner) : FOwner(Owner) {}

    void Detach() { FOwner = nullptr; }
    [[nodiscard]] bool IsDispatching() const { return FDispatching > 0; }
    // The silences of the data block being delivered; empty outside a delivery.
    [[nodiscard]] const std::vector<TReadQuiet> &DeliveringQuiet() const;

    // Thread-safe. The batch form queues all of Notices in order and clears it.
    void Enqueue(TCommNotice Notice);
    void Enqueue(std::vector<TCommNotice> &Notices);

protected:
    bool event(QEvent *Event) override;

private:
    // Called with FLock held; true when the caller must post a wake event.
    [[nodiscard]] bool NeedsWake();
    void PostWake();
    void Dispatch(TComm *Comm, const TCommNotice &Notice);

    TComm *FOwner;
    int FDispatching = 0;
    const TCommNotice *FDelivering = nullptr;
    std::mutex FLock;
    std::deque<TCommNotice> FQueue;
    bool FWakePosted = false; // a wake event is on its way and not yet begun
};

} // namespace kestrune
