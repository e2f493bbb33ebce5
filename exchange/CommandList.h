#pragma once

#include "exchange/CommandFile.h"
#include "exchange/CommandLine.h"

#include <optional>

namespace kestrune {

// Reads on to the next line that is a command, passing over comments and
// lines that are ignored; nullopt once the file has no further command (the
// file is then at its end). Read errors throw as ReadLine does.
[[nodiscard]] std::optional<TCommandLine> NextCommand(TCommandFileReader &file);

} // namespace kestrune
