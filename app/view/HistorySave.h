#pragma once

#include "app/view/ShownText.h"

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace kestrune {

// The file calls Save As makes, so that tests can make any of them fail.
struct TFileCalls
{
    int (*Open)(const char *path, int flags, mode_t mode);
    ssize_t (*Write)(int fd, const void *data, std::size_t size);
    int (*Close)(int fd);
};

// open(2), write(2) and close(2).
[[nodiscard]] const TFileCalls &PosixFileCalls();

// Writes the shown text of [from, to) to the file at path, formatted a piece
// at a time. Returns 0, or the errno of the first call that failed: opening,
// a write, or the close, which is where some file systems report a write
// that could not be done.
[[nodiscard]] int SaveShownText(const TShownText &text, TTextPos from, TTextPos to,
                                bool withFirstPrefix, const std::string &path,
                                const TFileCalls &calls = PosixFileCalls());

} // namespace kestrune
