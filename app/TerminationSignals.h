#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace kestrune {

// SIGTERM, SIGINT and SIGHUP end the program in order from wherever it waits:
// the main loop, a message box, a connect. The handler only writes to a pipe;
// the event loop running at the time, a nested one too, reads it, cancels
// every dialog and shows none any more (dialogs::SetExiting), runs `onSignal`
// (which closes the main window) and ends every event loop, so the exit steps
// run and save what they can. One at a time; the previous handlers come back
// when it is destroyed.
class TTerminationSignals
{
public:
    explicit TTerminationSignals(std::function<void()> onSignal);
    ~TTerminationSignals();
    TTerminationSignals(const TTerminationSignals &) = delete;
    TTerminationSignals &operator=(const TTerminationSignals &) = delete;

private:
    void handle();

    std::function<void()> FOnSignal;
    std::unique_ptr<QSocketNotifier> FNotifier;
};

} // namespace kestrune
