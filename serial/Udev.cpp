#include "serial/Udev.h"

namespace kestrune {

std::string UdevProperty(udev_device *Device, std::initializer_list<const char *> Keys)
{
    for (const char *key : Keys) {
        if (const char *value = udev_device_get_property_value(Device, key); value && *value)
            return value;
    }
    return {};
}

} // namespace kestrune
