#include "serial/PortList.h"

#include "common/CaseInsensitive.h"
#include "serial/Udev.h"

#include <algorithm>
#include <charconv>

namespace kestrune {

namespace {

// "ttyS<n>" with n in canonical decimal (no sign, no leading zero); anything
// else could not be reopened under the COM name it would be given.
std::optional<unsigned> StandardSerialIndex(std::string_view kernelName)
{
    constexpr std::string_view prefix = "ttyS";
    if (!kernelName.starts_with(prefix))
        return std::nullopt;
    const std::string_view digits = kernelName.substr(prefix.size());
    if (digits.empty() || (digits.size() > 1 && digits.front() == '0'))
        return std::nullopt;
    unsigned index = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    // COM<index + 1> must still read back as a 32-bit signed number.
    if (ec != std::errc() || end != digits.data() + digits.size() || index >= 0x7FFFFFFEu)
        return std::nullopt;
    return index;
}

TTtyDeviceInfo DescribeDevice(udev_device *device)
{
    TTtyDeviceInfo info;
    if (const char *name = udev_device_get_sysname(device))
        info.KernelName = name;
    // Virtual terminals, ptmx and the console live under /devices/virtual and
    // have no bus device above them.
    const char *syspath = udev_device_get_syspath(device);
    const bool isVirtual = syspath != nullptr && std::string_view(syspath).find(
                                                     "/devices/virtual/") != std::string_view::npos;
    info.HasHardwareParent = !isVirtual && udev_device_get_parent(device) != nullptr;
    if (const char *type = udev_device_get_sysattr_value(device, "type"))
        info.UartType = type;
    return info;
}

// udev writes blanks in ID_VENDOR and ID_MODEL as "_"; the hardware
// database's names keep theirs.
std::string Name(udev_device *device, const char *fromDatabase, const char *own)
{
    std::string text = UdevProperty(device, {fromDatabase});
    if (!text.empty())
        return text;
    text = UdevProperty(device, {own});
    std::ranges::replace(text, '_', ' ');
    return text;
}

} // namespace

std::string ParenthesisedPortName(std::string_view friendlyName)
{
    const std::size_t open = friendlyName.find('(');
    const std::size_t from = open == std::string_view::npos ? 0 : open + 1;
    const std::size_t close = friendlyName.find(')', from);
    if (close == std::string_view::npos || close <= from)
        return {};
    return std::string(friendlyName.substr(from, close - from));
}

bool IsComPortName(std::string_view name)
{
    return StartsWithText(name, "COM");
}

std::optional<std::string> ComPortFromFriendlyName(std::string_view friendlyName)
{
    std::string name = ParenthesisedPortName(friendlyName);
    if (!IsComPortName(name))
        return std::nullopt;
    return name;
}

std::optional<std::string> PresentPortName(const TTtyDeviceInfo &device)
{
    if (!device.HasHardwareParent || device.KernelName.empty())
        return std::nullopt;
    // The serial core registers every UART slot it could have; type 0 means no
    // chip answered there.
    if (device.UartType && *device.UartType == "0")
        return std::nullopt;
    if (const auto index = StandardSerialIndex(device.KernelName))
        return "COM" + std::to_string(*index + 1);
    return device.KernelName;
}

std::vector<TPresentPort> ListPresentPorts()
{
    std::vector<TPresentPort> found;
    TUdevPtr<udev> context(udev_new());
    if (!context)
        return found;
    TUdevPtr<udev_enumerate> enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0)
        return found;

    udev_list_entry *entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get()))
    {
        TUdevPtr<udev_device> device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!device)
            continue; // gone between the scan and now
        auto name = PresentPortName(DescribeDevice(device.get()));
        if (!name)
            continue;
        TPresentPort port;
        port.Name = std::move(*name);
        port.Vendor = Name(device.get(), "ID_VENDOR_FROM_DATABASE", "ID_VENDOR");
        port.Model = Name(device.get(), "ID_MODEL_FROM_DATABASE", "ID_MODEL");
        port.Serial = UdevProperty(device.get(), {"ID_SERIAL_SHORT"});
        udev_list_entry *link = nullptr;
        udev_list_entry_foreach(link, udev_device_get_devlinks_list_entry(device.get()))
        {
            const std::string_view path = udev_list_entry_get_name(link);
            if (path.starts_with("/dev/serial/by-id/"))
                port.ByIdPath = path;
        }
        found.push_back(std::move(port));
    }
    return found;
}

std::string PortToolTip(const TPresentPort &Port)
{
    std::string line;
    for (const std::string *part : {&Port.Vendor, &Port.Model}) {
        if (part->empty())
            continue;
        if (!line.empty())
            line += ' ';
        line += *part;
    }
    if (!Port.Serial.empty())
        line += (line.empty() ? "serial " : ", serial ") + Port.Serial;
    if (Port.ByIdPath.empty())
        return line;
    return line.empty() ? Port.ByIdPath : line + '\n' + Port.ByIdPath;
}

void ListInstalledPorts(std::vector<std::string> &list)
{
    for (TPresentPort &port : ListPresentPorts())
        list.push_back(std::move(port.Name));
}

std::vector<std::string> BuildPortList(std::vector<std::string> presentPorts)
{
    std::vector<std::string> result;
    for (int n = 1; n <= 8; ++n) {
        std::string name = "COM" + std::to_string(n);
        const auto match = std::ranges::find_if(
            presentPorts, [&](const std::string &port) { return SameText(port, name); });
        if (match != presentPorts.end()) {
            presentPorts.erase(match);
            name += '*';
        }
        result.push_back(std::move(name));
    }
    for (const std::string &port : presentPorts)
        result.push_back(port + '*');
    return result;
}

std::vector<std::string> BuildPortList()
{
    std::vector<std::string> present;
    ListInstalledPorts(present);
    return BuildPortList(std::move(present));
}

} // namespace kestrune
