#pragma once

#include <string>
#include <thread>

namespace kestrune {

class TCommLink;
class TCommWriteQueue;

// Writes each queued request whole, in order, and reports a drained queue
// once after start and again after every burst of writes. Ends when the stop
// signal is set or the device fails (after a hang-up notice); requests still
// queued then are dropped unsent.
class TWriteThread
{
public:
    TWriteThread(TCommLink &Link, TCommWriteQueue &Queue) : FLink(Link), FQueue(Queue) {}
    TWriteThread(const TWriteThread &) = delete;
    TWriteThread &operator=(const TWriteThread &) = delete;
    ~TWriteThread() { Join(); }

    // Throws std::system_error when the thread cannot be created.
    void Start();
    void Join();

private:
    void Run();
    bool WriteRequest(const std::string &Request);

    TCommLink &FLink;
    TCommWriteQueue &FQueue;
    std::thread FThread;
};

} // namespace kestrune
