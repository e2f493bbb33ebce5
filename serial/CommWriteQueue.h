#pragma once

#include "serial/CommEventFd.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace kestrune {

// The writer thread's queue of write requests. Each request is a copy of the
// caller's bytes that belongs to the queue, then to the writer.
class TCommWriteQueue
{
public:
    [[nodiscard]] bool IsValid() const { return FWake.IsValid(); }
    // Readable while requests may be waiting.
    [[nodiscard]] int WakeFd() const { return FWake.Fd(); }

    // False once the writer has closed the queue: nothing would write it.
    bool Push(std::string Request);
    std::optional<std::string> TryTake();
    void ClearWake() { FWake.Clear(); }

    // The writer reports bytes that have reached the device.
    void Written(std::size_t Count) { FPending.fetch_sub(Count); }
    // Drops every request; later pushes fail.
    void Close();

    // Bytes accepted and not yet handed to the device.
    [[nodiscard]] std::size_t PendingBytes() const { return FPending.load(); }

private:
    std::mutex FLock;
    std::deque<std::string> FRequests;
    bool FClosed = false;
    TCommEventFd FWake;
    std::atomic<std::size_t> FPending{0};
};

} // namespace kestrune
