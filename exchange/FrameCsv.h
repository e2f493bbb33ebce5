#pragma once

#include "exchange/BoundedHistory.h"
#include "exchange/FrameIndex.h"

#include <string>
#include <string_view>

namespace kestrune {

// One CSV field: as it is, or in double quotes with its quotes doubled when
// it holds a comma, a quote, CR or LF (RFC 4180).
[[nodiscard]] std::string CsvField(std::string_view text);

// The header row of a frame export, CR LF at its end.
inline constexpr std::string_view FramesCsvHeader = "time,channel,direction,length,hex,text\r\n";

// One frame as a row: its local time to the millisecond, the channel ("main",
// "R1", ...), "sent" or "received", its length, its bytes in hex ("01 03")
// and as text (printable ASCII as it is, every other byte a dot). CR LF ends it.
[[nodiscard]] std::string FrameCsvRow(const TFrameMark &mark, bool sent, std::string_view bytes);

// Writes the header and a row for every frame of `history` that `frames`
// marks (a frame cut by the history's front keeps what is left). Returns 0,
// or the errno of the call that failed.
[[nodiscard]] int WriteFramesCsv(const std::string &path, const THistoryBytes &history,
                                 const TFrameMarks &frames, bool sent);

} // namespace kestrune
