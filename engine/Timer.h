#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

namespace kestrune {

// A timer with the classic component semantics: it fires only while enabled with
// an interval of at least 1 ms (an interval of 0 arms nothing, where a QTimer
// would fire continuously), and changing the interval of a running timer
// restarts its count.
class TTimer : public QObject
{
    Q_OBJECT

public:
    explicit TTimer(QObject *parent = nullptr);

    [[nodiscard]] bool Enabled() const { return FEnabled; }
    void SetEnabled(bool enabled);
    [[nodiscard]] int Interval() const { return FInterval; }
    void SetInterval(int ms);
    // True while the timer is counting towards its next tick.
    [[nodiscard]] bool Armed() const { return FTimer.isActive(); }

    std::function<void()> OnTimer;

private:
    void Rearm();

    QTimer FTimer;
    bool FEnabled = false;
    int FInterval = 1000;
};

} // namespace kestrune
