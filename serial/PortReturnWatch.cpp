#include "serial/PortReturnWatch.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cstring>
#include <libudev.h>

namespace kestrune {

TPortReturnWatch::TPortReturnWatch(std::function<void()> OnCheck)
    : FOnCheck(std::move(OnCheck)), FTimer(new QTimer(this))
{
    connect(FTimer, &QTimer::timeout, this, [this] {
        if (FOnCheck)
            FOnCheck();
    });
}

TPortReturnWatch::~TPortReturnWatch()
{
    Stop();
}

void TPortReturnWatch::Start()
{
    if (IsWatching())
        return;
    FTimer->start(RecheckMs);
    // Without udev (a container, a system without it) the timer alone serves.
    FUdev = udev_new();
    if (FUdev)
        FMonitor = udev_monitor_new_from_netlink(FUdev, "udev");
    if (!FMonitor ||
        udev_monitor_filter_add_match_subsystem_devtype(FMonitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(FMonitor) < 0) {
        if (FMonitor)
            udev_monitor_unref(FMonitor);
        FMonitor = nullptr;
        return;
    }
    FNotifier = new QSocketNotifier(udev_monitor_get_fd(FMonitor), QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] { UdevEvent(); });
}

void TPortReturnWatch::Stop()
{
    FTimer->stop();
    if (FNotifier) {
        // Stop may come from inside the notifier's own signal.
        FNotifier->setEnabled(false);
        FNotifier->deleteLater();
    }
    FNotifier = nullptr;
    if (FMonitor)
        udev_monitor_unref(FMonitor);
    FMonitor = nullptr;
    if (FUdev)
        udev_unref(FUdev);
    FUdev = nullptr;
}

bool TPortReturnWatch::IsWatching() const
{
    return FTimer->isActive();
}

void TPortReturnWatch::UdevEvent()
{
    bool arrived = false;
    // Drain what is there; by the time udev announces a device its links exist.
    while (udev_device *device = udev_monitor_receive_device(FMonitor)) {
        const char *action = udev_device_get_action(device);
        arrived = arrived || (action && std::strcmp(action, "remove") != 0);
        udev_device_unref(device);
    }
    if (arrived && FOnCheck)
        FOnCheck(); // may stop this watch
}

} // namespace kestrune
