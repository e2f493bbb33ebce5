#include "serial/PortIdentity.h"

#include "serial/PortNames.h"
#include "serial/Udev.h"

#include <filesystem>
#include <sys/stat.h>

namespace kestrune {

bool MayReopenAs(const TPortIdentity &AtOpen, const TPortIdentity &Now)
{
    // A device udev has not finished describing is not taken for the same one.
    return !AtOpen.Known() || AtOpen == Now;
}

TPortIdentity UdevPortIdentity(const std::string &DevicePath)
{
    struct stat info
    {
    };
    if (::stat(DevicePath.c_str(), &info) != 0 || !S_ISCHR(info.st_mode))
        return {};
    TUdevPtr<udev> context(udev_new());
    if (!context)
        return {};
    TUdevPtr<udev_device> device(udev_device_new_from_devnum(context.get(), 'c', info.st_rdev));
    if (!device)
        return {};
    TPortIdentity identity;
    identity.Vendor = UdevProperty(device.get(), {"ID_VENDOR_ID", "ID_VENDOR"});
    identity.Model = UdevProperty(device.get(), {"ID_MODEL_ID", "ID_MODEL"});
    identity.Serial = UdevProperty(device.get(), {"ID_SERIAL_SHORT"});
    return identity;
}

TPortIdentityLookup &PortIdentityLookup()
{
    static TPortIdentityLookup lookup = UdevPortIdentity;
    return lookup;
}

TPortReturnTarget::TPortReturnTarget(const std::string &DevicePath)
    : FPath(StablePortPath(DevicePath)), FIdentity(PortIdentityLookup()(DevicePath))
{
}

bool TPortReturnTarget::IsBack() const
{
    std::error_code error;
    return std::filesystem::exists(FPath, error) &&
           MayReopenAs(FIdentity, PortIdentityLookup()(FPath));
}

} // namespace kestrune
