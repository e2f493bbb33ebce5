#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace kestrune {

// Where udev keeps the stable names of serial devices: by-id names follow the
// adapter (vendor, model, serial number), by-path names the socket it sits in.
inline const std::string SerialByIdDir = "/dev/serial/by-id";
inline const std::string SerialByPathDir = "/dev/serial/by-path";

// The device a port name opens. CommDevicePath's mapping first; a bare name
// that is no device under /dev but a stable name in one of LinkDirs (a by-id
// or by-path name typed without its folder) is that link.
[[nodiscard]] std::string ResolvePortPath(const std::string &CommName,
                                          const std::vector<std::string> &LinkDirs = {
                                              SerialByIdDir, SerialByPathDir});

// The name that finds this device again after it was unplugged and came back
// under another ttyUSB number: DevicePath itself when it is already a link
// (a by-id name, a link of the user's own), otherwise the by-id link in ByIdDir
// that leads to it, otherwise DevicePath.
[[nodiscard]] std::string StablePortPath(const std::string &DevicePath,
                                         const std::string &ByIdDir = SerialByIdDir);

// The groups the current user is in now (primary and supplementary).
[[nodiscard]] std::vector<gid_t> CurrentUserGroups();

// One sentence for a port that could not be opened for lack of permission:
// which group owns the device and the command that adds the user to it. Empty
// when the device's group is one of UserGroups, or the device is gone.
[[nodiscard]] std::string GroupAdvice(const std::string &DevicePath,
                                      const std::vector<gid_t> &UserGroups);

} // namespace kestrune
