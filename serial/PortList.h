#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// What discovery knows of one tty device before it decides whether to list it.
struct TTtyDeviceInfo
{
    std::string KernelName;              // "ttyS0", "ttyUSB0", ...
    bool HasHardwareParent = false;      // false for virtual terminals, ptmx, console
    std::optional<std::string> UartType; // the device's "type" attribute, when it has one
};

// The text between the first "(" and the first ")" after it; without "(" the
// text before the first ")"; empty when there is no such ")" or nothing between.
[[nodiscard]] std::string ParenthesisedPortName(std::string_view friendlyName);

// True when the name begins with "COM" in any letter case.
[[nodiscard]] bool IsComPortName(std::string_view name);

// The port named in a device's friendly name ("USB Serial Port (COM12)" gives
// "COM12"), or nothing when its first parentheses hold no COM name.
[[nodiscard]] std::optional<std::string> ComPortFromFriendlyName(std::string_view friendlyName);

// The name under which a tty device is offered: "COMn" for /dev/ttyS(n-1), the
// kernel name for any other port; nothing for a device that is not a port on
// real hardware.
[[nodiscard]] std::optional<std::string> PresentPortName(const TTtyDeviceInfo &device);

// A present port and what udev knows of the adapter behind it.
struct TPresentPort
{
    std::string Name;     // as listed: "COM1", "ttyUSB0"
    std::string Vendor;   // empty when unknown
    std::string Model;    // empty when unknown
    std::string Serial;   // the adapter's serial number, empty when unknown
    std::string ByIdPath; // its /dev/serial/by-id link, empty when it has none
};

// The present ports with their adapters' names, in enumeration order; empty
// when the device database cannot be read.
[[nodiscard]] std::vector<TPresentPort> ListPresentPorts();

// The tool tip of a present port: vendor, model and serial number on one line,
// the by-id path on the next; empty when udev knows none of them.
[[nodiscard]] std::string PortToolTip(const TPresentPort &Port);

// Appends the name of every present serial port, in enumeration order. Leaves
// the list as it was when the device database cannot be read.
void ListInstalledPorts(std::vector<std::string> &list);

// The list for the port choice: COM1 to COM8, each marked with "*" when
// present, then every other present port, marked, in the given order.
[[nodiscard]] std::vector<std::string> BuildPortList(std::vector<std::string> presentPorts);

// BuildPortList over the ports present on this machine.
[[nodiscard]] std::vector<std::string> BuildPortList();

} // namespace kestrune
