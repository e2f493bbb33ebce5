#pragma once

#include "debugchannel/DebugWindow.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace kestrune {

// Hands short diagnostic texts to the outside debug window. Every failure is
// silent: with no window found or started, the text is dropped. GUI thread
// only, and it never waits there: one socket to the window is kept and
// reused, a started window is awaited by the event loop (texts sent meanwhile
// wait in a small queue), and a window that does not keep up loses texts.

// The kind every text of this program carries.
inline constexpr std::uint8_t DebugTextKind = 2;
// The debug window program looked for beside our own executable.
inline constexpr std::string_view DebugWindowProgramName = "GExpertsDebugWindow";
// How long a freshly started debug window gets to open its socket.
inline constexpr int DebugWindowStartWaitMs = 3000;
// Texts kept while a started window is awaited; later ones are dropped.
inline constexpr std::size_t DebugQueueLimit = 64;

void SendDebugText(std::string_view text) noexcept;
void SendDebugTextOfKind(std::string_view text, std::uint8_t kind) noexcept;

// Starts the debug window program unless an earlier start failed, and awaits
// its socket on the event loop for up to DebugWindowStartWaitMs. True while a
// start is being awaited (this one or an earlier one). A program that opens no
// socket in time is no failure: the next text starts it again.
bool LaunchDebugWindow() noexcept;

// A started program's socket is still being awaited, or the texts queued
// meanwhile are still being handed to it.
[[nodiscard]] bool DebugWindowStarting() noexcept;

// Set for good once the program could not be found or started.
[[nodiscard]] bool DebugWindowLaunchFailed() noexcept;

// The per-user file naming the debug window program, "FilePath" in section
// "Debug": $XDG_CONFIG_HOME/GExperts/Debug.ini (~/.config/GExperts/Debug.ini).
[[nodiscard]] std::string DebugWindowSettingsPath();

// The program LaunchDebugWindow starts: "FilePath" as written, or, when that is
// missing or blank, GExpertsDebugWindow in the folder of the running executable.
[[nodiscard]] std::string DebugWindowProgramPath();

namespace debugchannel_testing {

// The settings file read instead of DebugWindowSettingsPath(). Empty resets.
void SetSettingsPathOverride(std::string path);
// The folder taken as the executable's own. Empty resets.
void SetExecutableDirOverride(std::string dir);
// Calls of LaunchDebugWindow that got past the launch-failed flag.
[[nodiscard]] int LaunchAttempts();
// Attempts to start a process.
[[nodiscard]] int SpawnAttempts();
// The last process started, or 0.
[[nodiscard]] pid_t LastSpawnedPid();
// Flag cleared, counters zeroed, the kept socket closed, a start being
// awaited and its queue forgotten, every override (socket folder too) removed.
void Reset();

} // namespace debugchannel_testing

} // namespace kestrune
