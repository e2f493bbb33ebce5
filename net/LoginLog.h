#pragma once

#include <QDateTime>
#include <string>

namespace kestrune {

// One line of the TCP server's connection log, with its CR LF:
// "<date time>  <a.b.c.d>:<port> Connected." (or " Disconnected."); an IPv6
// address is bracketed: "[::1]:<port>".
[[nodiscard]] std::string LoginLine(const QDateTime &when, const std::string &address, int port,
                                    bool connected);

// Appends `line` to the file at `path`, creating the file when missing, and
// closes it again. Raises std::runtime_error naming the file when any step
// fails, a full disk included.
void AppendLoginLine(const std::string &path, const std::string &line);

} // namespace kestrune
