#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;

struct udev;
struct udev_monitor;

namespace kestrune {

// While a vanished port is awaited: calls OnCheck whenever udev reports a tty
// device added or changed, and every RecheckMs besides, for devices udev does
// not announce (ptys, links of the user's own, a node whose group is set a
// moment later). Nothing runs before Start or after Stop.
class TPortReturnWatch : public QObject
{
public:
    static constexpr int RecheckMs = 500;

    explicit TPortReturnWatch(std::function<void()> OnCheck);
    ~TPortReturnWatch() override;

    void Start();
    void Stop();
    [[nodiscard]] bool IsWatching() const;

private:
    void UdevEvent();

    std::function<void()> FOnCheck;
    QTimer *FTimer;
    udev *FUdev = nullptr;
    udev_monitor *FMonitor = nullptr;
    QSocketNotifier *FNotifier = nullptr;
};

} // namespace kestrune
