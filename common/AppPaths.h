#pragma once

#include <string>

namespace kestrune::paths {

// Full path of the running program.
[[nodiscard]] std::string ExecutablePath();

// The folder where the settings file and "Login.txt" live: the program's own
// folder, or $XDG_CONFIG_HOME/kestrune (~/.config/kestrune) when that folder
// cannot be written (an installed program).
[[nodiscard]] std::string DataDir();

// The settings file: the program's path with ".ini" ("kestrune.ini").
[[nodiscard]] std::string SettingsFilePath();

// The TCP server's connection log, "Login.txt" in DataDir().
[[nodiscard]] std::string LoginFilePath();

// Test seam: settings file and connection log go to `dir` instead. Empty resets.
void SetDataDirOverride(std::string dir);

} // namespace kestrune::paths
