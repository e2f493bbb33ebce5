#include "engine/Timer.h"

namespace kestrune {

TTimer::TTimer(QObject *parent) : QObject(parent)
{
    FTimer.setTimerType(Qt::PreciseTimer);
    connect(&FTimer, &QTimer::timeout, this, [this] {
        if (OnTimer)
            OnTimer();
    });
}

void TTimer::SetEnabled(bool enabled)
{
    if (enabled == FEnabled)
        return;
    FEnabled = enabled;
    Rearm();
}

void TTimer::SetInterval(int ms)
{
    if (ms == FInterval)
        return;
    FInterval = ms;
    Rearm();
}

void TTimer::Rearm()
{
    FTimer.stop();
    if (FEnabled && FInterval >= 1)
        FTimer.start(FInterval);
}

} // namespace kestrune
