#pragma once

#include <string>
#include <string_view>

struct sockaddr_un;

namespace kestrune {

// The debug window is known by its window class; its socket carries the same name.
inline constexpr std::string_view DebugWindowClassName = "TfmDebug";

// Folder of the debug window's socket: $XDG_RUNTIME_DIR, else a private folder
// /tmp/gexperts-debug-<uid>. The /tmp folder is made (mode 0700) only when `create`
// is set, and refused unless it is a real folder of this user that nobody else may
// enter, since anyone can create names under /tmp. Empty when there is no usable folder.
[[nodiscard]] std::string DebugSocketDir(bool create);

// DebugSocketDir() + "/TfmDebug"; empty when there is no folder or the path is
// too long for a socket address.
[[nodiscard]] std::string DebugSocketPath(bool create = false);

// Fills `addr` for `path`; false when the path does not fit.
[[nodiscard]] bool MakeDebugSocketAddress(const std::string &path, sockaddr_un &addr);

// A real folder (not a link) of this user that no one else may enter.
[[nodiscard]] bool IsPrivateUserFolder(const std::string &dir);

// Test seam: the socket lives in `dir` instead. Empty resets.
void SetDebugSocketDirOverride(std::string dir);

} // namespace kestrune
