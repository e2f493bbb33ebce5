#pragma once

#include <string>

namespace kestrune {

// The usage of `topic` ("run", "bridge"; anything else: the program's).
[[nodiscard]] std::string ShellHelpText(const std::string &topic);
[[nodiscard]] std::string ShellVersionText();

} // namespace kestrune
