#pragma once

#include <initializer_list>
#include <memory>
#include <string>

#include <libudev.h>

namespace kestrune {

// Owning pointers to libudev's objects.
struct TUdevDeleter
{
    void operator()(udev *Context) const { udev_unref(Context); }
    void operator()(udev_enumerate *Enumerate) const { udev_enumerate_unref(Enumerate); }
    void operator()(udev_device *Device) const { udev_device_unref(Device); }
};
template <typename T> using TUdevPtr = std::unique_ptr<T, TUdevDeleter>;

// The first of Keys that is set on Device; empty when none is.
[[nodiscard]] std::string UdevProperty(udev_device *Device,
                                       std::initializer_list<const char *> Keys);

} // namespace kestrune
