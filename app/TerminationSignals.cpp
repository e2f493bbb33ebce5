#include "app/TerminationSignals.h"

#include "app/Dialogs.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace kestrune {

namespace {

constexpr std::array<int, 3> Signals = {SIGTERM, SIGINT, SIGHUP};

int signalPipe[2] = {-1, -1};
struct sigaction previous[Signals.size()];

// Only async-signal-safe work here: the event loop picks the byte up.
void onTerminateSignal(int signo)
{
    const int savedErrno = errno;
    const char byte = static_cast<char>(signo);
    [[maybe_unused]] auto n = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

TTerminationSignals::TTerminationSignals(std::function<void()> onSignal)
    : FOnSignal(std::move(onSignal))
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    FNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(),
                     [this] { handle(); });
    struct sigaction action
    {
    };
    action.sa_handler = onTerminateSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < Signals.size(); ++i)
        ::sigaction(Signals[i], &action, &previous[i]);
}

TTerminationSignals::~TTerminationSignals()
{
    if (!FNotifier)
        return;
    for (std::size_t i = 0; i < Signals.size(); ++i)
        ::sigaction(Signals[i], &previous[i], nullptr);
    FNotifier.reset();
    for (int &end : signalPipe) {
        ::close(end);
        end = -1;
    }
}

void TTerminationSignals::handle()
{
    char bytes[16];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    dialogs::SetExiting(true);
    if (FOnSignal)
        FOnSignal();
    // Every loop, nested ones included, returns now, and one started later
    // returns at once: nothing waits for a person or a peer any more.
    QCoreApplication::exit(0);
}

} // namespace kestrune
