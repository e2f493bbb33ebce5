#pragma once

#include "common/FileDescriptor.h"

#include <chrono>
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

// Replaces `path` with `content` as one step: a temporary file beside it is
// written, flushed to disk and renamed over it, so a reader or a crash sees the
// old file or the new one, never a part. 0, or the error; the temporary file
// is removed on failure.
[[nodiscard]] int ReplaceFileAtomically(const std::string &path, std::string_view content);

} // namespace kestrune
