#pragma once

#include <string>

namespace kestrune::paths {

// Full path of the running program.
[[nodiscard]] std::string ExecutablePath();

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute
// path, else $HOME/.config, else .config in the home folder of the user's
// passwd entry.
[[nodiscard]] std::string UserConfigDir();

// True for a folder under a system prefix (/usr, /usr/local, /opt): the place
// of an installed program, whose folder is no place for a user's files.
[[nodiscard]] bool IsSystemLocation(const std::string &programDir);

// Where a program in `programDir` keeps its settings file and "Login.txt":
// UserConfigDir()/kestrune for an installed program (also for root, who could
// write anywhere) or when `programDir` cannot be written; otherwise the
// program's own folder (a build folder).
[[nodiscard]] std::string DataDirFor(const std::string &programDir);

// DataDirFor() of the running program, the folder created when missing.
[[nodiscard]] std::string DataDir();

// The settings file: the program's file name with ".ini" ("kestrune.ini") in DataDir().
[[nodiscard]] std::string SettingsFilePath();

// The TCP server's connection log, "Login.txt" in DataDir().
[[nodiscard]] std::string LoginFilePath();

// Test seams. Settings file and connection log go to `dir` instead; empty resets.
void SetDataDirOverride(std::string dir);
// The program's path as if it ran from `path`; empty resets.
void SetExecutablePathOverride(std::string path);

} // namespace kestrune::paths
