#pragma once

#include <functional>
#include <string>

namespace kestrune {

// What udev knows of the adapter behind a serial device node. Empty for a
// device it knows nothing of (a pty, a system without its database).
struct TPortIdentity
{
    std::string Vendor; // ID_VENDOR_ID, else ID_VENDOR
    std::string Model;  // ID_MODEL_ID, else ID_MODEL
    std::string Serial; // ID_SERIAL_SHORT

    [[nodiscard]] bool Known() const
    {
        return !Vendor.empty() || !Model.empty() || !Serial.empty();
    }
    bool operator==(const TPortIdentity &) const = default;
};

// Whether a device now showing Now may be reopened in place of the one that
// showed AtOpen: the same identity, when one was known at open; otherwise the
// path alone decides, so any device counts.
[[nodiscard]] bool MayReopenAs(const TPortIdentity &AtOpen, const TPortIdentity &Now);

// udev's identity of the device DevicePath leads to (links followed).
[[nodiscard]] TPortIdentity UdevPortIdentity(const std::string &DevicePath);

// The lookup the return check uses: UdevPortIdentity unless a test stands in
// for udev. Process-wide.
using TPortIdentityLookup = std::function<TPortIdentity(const std::string &DevicePath)>;
TPortIdentityLookup &PortIdentityLookup();

// Where a port that went away is looked for, and which device found there is
// the one that was opened. Without a by-id link the path is the kernel node,
// where another adapter may appear; the identity keeps that one out.
class TPortReturnTarget
{
public:
    TPortReturnTarget() = default;
    // DevicePath as opened, taken while the device is there.
    explicit TPortReturnTarget(const std::string &DevicePath);

    [[nodiscard]] const std::string &Path() const { return FPath; }
    // True when a device is at Path and may be reopened as the one opened.
    [[nodiscard]] bool IsBack() const;

private:
    std::string FPath;
    TPortIdentity FIdentity;
};

} // namespace kestrune
