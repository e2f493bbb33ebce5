#pragma once

#include "codec/ByteString.h"
#include "codec/DataMode.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrune {

// The log's name, in the current directory.
inline constexpr const char *CommLogFileName = "CommLog.txt";

// Direction byte of a record: 1 for sent data, any other value for received.
inline constexpr std::uint8_t LogDirSend = 1;
inline constexpr std::uint8_t LogDirRecv = 0;

// A local wall-clock moment to the millisecond.
struct TLocalTime
{
    int Year = 0;
    int Month = 1; // 1..12
    int Day = 1;   // 1..31
    int Hour = 0;  // 0..23
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

// The current local time, read from the system clock.
[[nodiscard]] TLocalTime CurrentLocalTime();
// The local time of a moment given in milliseconds since the epoch.
[[nodiscard]] TLocalTime LocalTimeAt(std::int64_t msSinceEpoch);

// "yyyy-mm-dd hh:nn:ss.zzz", e.g. "2026-12-06 19:31:15.123".
[[nodiscard]] std::string LogTimeStamp(const TLocalTime &time);

// One record: time stamp, " => " (send) or " <= " (receive), the data in the
// given representation, CR LF. In Character mode CR and LF bytes of the data
// stay as they are, so one record may span several text lines.
[[nodiscard]] std::string CommLogRecord(const TLocalTime &time, std::uint8_t direction,
                                        const ByteString &data, TDataMode mode, char escChar);

// Outcome of a file operation: empty Error on success, otherwise the system's reason.
struct TFileResult
{
    std::string Error;
    [[nodiscard]] bool Ok() const { return Error.empty(); }
};

// Appends `record` to the file at `path`, creating it when missing, in one
// write where the system takes it all. The file is opened and closed for every
// record, so each one is in the file when this returns and other programs can
// read the log meanwhile; it is closed on failure too. A record that a full
// disk cut short stays as it is, and the next one starts on a new line.
[[nodiscard]] TFileResult AppendCommLog(const std::string &path, std::string_view record);

// One whole log write: a record stamped with the current local time, appended
// to `path` (CommLogFileName in the main window, which resolves against the
// current directory).
[[nodiscard]] TFileResult WriteCommLog(const std::string &path, std::uint8_t direction,
                                       const ByteString &data, TDataMode mode, char escChar);

} // namespace kestrune
