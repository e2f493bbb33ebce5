#pragma once

#include "common/FileDescriptor.h"

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace kestrune {

// An exclusive lock (flock) on a lock file, held until destroyed. Copies of the
// program that replace the same file take it in turn.
class TFileLock
{
public:
    // Creates the lock file when missing and waits up to `patience` for the
    // lock: 0, or the error (EWOULDBLOCK when another holder kept it too long).
    [[nodiscard]] int Acquire(const std::string &lockPath,
                              std::chrono::milliseconds patience = std::chrono::seconds(10));

private:
    TFileDescriptor FFd;
};

// Replaces the file at `path` with `content` as one step: the new text is
// written beside it, flushed to disk and renamed over it, so a reader or a
// crash sees the old file or the new one, never a part. 0, or the error.
//
// When `path` is a symbolic link (settings kept with other dotfiles), the file
// the links lead to is replaced and the links stay. That file keeps its
// permissions, and its owner and group where this process may set them; a new
// file gets the usual permissions of a user's file (0666 less the umask). A
// folder, device or pipe in the way is not replaced (EISDIR, EINVAL).
//
// The new text goes into an unnamed file that gets a name only once it is
// whole, just before the rename, so a process killed meanwhile leaves nothing
// behind. Where the file system has no unnamed files, it goes into a named one
// from the start (".<name>.saving-XXXXXX"); RemoveLeftoverTemporaries clears
// what a killed process left of those.
[[nodiscard]] int ReplaceFileAtomically(const std::string &path, std::string_view content);

// Removes the temporary files that replacements of `path` killed before they
// ended left beside the file its links lead to. Another replacement of the
// same file may be under way only if it is ours to wait for: call this while
// holding the lock the replacements take.
void RemoveLeftoverTemporaries(const std::string &path);

// Test seams. The steps of a replacement at which `hook` runs: the new text is
// whole in its temporary file; the temporary file has just got its name.
enum class TReplaceStep
{
    Written,
    Named
};
void SetReplaceStepHook(std::function<void(TReplaceStep)> hook);
// False makes replacements use a named temporary file from the start, as on a
// file system without unnamed ones.
void SetUnnamedTemporariesAllowed(bool allowed);

} // namespace kestrune
