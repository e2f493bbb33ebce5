#pragma once

#include "serial/CommEventFd.h"
#include "serial/CommNotifier.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace kestrune {

class TSerialDevice;

// What both worker threads of one open port are given: the device, the stop
// signal and the receiver of their notifications. The component keeps it
// alive until both threads have been joined.
class TCommLink
{
public:
    TCommLink(TSerialDevice &Device, const TCommEventFd &StopEvent, TCommNotifier *Notifier)
        : FDevice(Device), FStopEvent(StopEvent), FNotifier(Notifier)
    {
    }

    [[nodiscard]] TSerialDevice &Device() const { return FDevice; }
    [[nodiscard]] const TCommEventFd &StopEvent() const { return FStopEvent; }

    void Post(TCommMessage Message, std::uint32_t Value = 0);
    // A line-error report: the error flags and how many of each kind arrived.
    void PostErrors(std::uint32_t Flags, const std::array<std::uint32_t, 4> &Counts);
    // Hands over received blocks in order, with one wake of the GUI thread for
    // all of them; Blocks is left empty.
    void PostData(std::vector<TCommNotice> &Blocks);

    // Reports that a thread has stopped on a failure. Both threads may fail
    // on the same vanished device; the owner hears of it once.
    void SignalHangup();

private:
    TSerialDevice &FDevice;
    const TCommEventFd &FStopEvent;
    TCommNotifier *FNotifier;
    std::atomic<bool> FHangupSent{false};
};

} // namespace kestrune
