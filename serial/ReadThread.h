#pragma once

#include "serial/CommEventFd.h"
#include "serial/CommTimeouts.h"
#include "serial/SerialDevice.h"

#include <array>
#include <atomic>
#include <thread>

namespace kestrune {

class TCommLink;

// Reads the port and reports to the component: received blocks of 1 to 4096
// bytes, line errors and modem-line changes. Ends when the stop signal is
// set or the device fails (after a hang-up notice).
class TReadThread
{
public:
    explicit TReadThread(TCommLink &Link) : FLink(Link) {}
    TReadThread(const TReadThread &) = delete;
    TReadThread &operator=(const TReadThread &) = delete;
    ~TReadThread() { Join(); }

    // Throws std::system_error when the thread cannot be created.
    void Start();
    // Waits for the body to end; the owner sets the stop signal first.
    void Join();

    // While paused the device is not read, so bytes wait in the driver (and
    // flow control, when on, holds the peer back). Bytes already read are
    // handed over first.
    void SetPaused(bool Paused);

private:
    void Run();
    bool HandOverData(const char *Bytes, std::size_t Count);
    bool CheckLine(TLineCounters &Last);

    TCommLink &FLink;
    TCommEventFd FWake;
    std::atomic<bool> FPaused{false};
    std::array<char, ReadBlockSize> FBuffer{};
    std::thread FThread;
};

} // namespace kestrune
