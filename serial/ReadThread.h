#pragma once

#include "serial/CommEventFd.h"
#include "serial/CommNotifier.h"
#include "serial/CommTimeouts.h"
#include "serial/SerialDevice.h"

#include <array>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

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
    // Queues a finished block for the next HandOver; false (after handing over
    // what was queued and a hang-up notice) when no memory is left for it.
    bool Keep(const char *Bytes, std::size_t Count);
    void HandOver();
    bool HandOverData(const char *Bytes, std::size_t Count);
    bool CheckLine(TLineCounters &Last);
    // Notes a read of bytes placed at Offset of the buffer, made at Now.
    void NoteRead(std::size_t Offset, std::chrono::steady_clock::time_point Now);

    TCommLink &FLink;
    TCommEventFd FWake;
    std::atomic<bool> FPaused{false};
    // The block being filled, and room for a whole read beyond it: the driver
    // hands out a little under a block per read, so reads need not be cut to
    // what the block lacks.
    std::array<char, 2 * ReadBlockSize> FBuffer{};
    std::vector<TCommNotice> FFinished; // blocks complete but not yet handed over
    // Reads into FBuffer that followed a silence, offsets into FBuffer; the
    // time of the last read that brought bytes.
    std::vector<TReadQuiet> FQuiet;
    std::int64_t FLastReadNs = 0;
    bool FHasRead = false;
    std::thread FThread;
};

} // namespace kestrune
