#include "exchange/CommLog.h"

#include "codec/Format.h"
#include "common/FileDescriptor.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace kestrune {

TLocalTime CurrentLocalTime()
{
    using namespace std::chrono;
    return LocalTimeAt(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

TLocalTime LocalTimeAt(std::int64_t msSinceEpoch)
{
    // Floor division, so moments before the epoch keep a positive millisecond.
    const std::int64_t ms = ((msSinceEpoch % 1000) + 1000) % 1000;
    const auto seconds = static_cast<std::time_t>((msSinceEpoch - ms) / 1000);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    return TLocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,       parts.tm_hour,
                      parts.tm_min,         parts.tm_sec,     static_cast<int>(ms)};
}

std::string LogTimeStamp(const TLocalTime &time)
{
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", time.Year, time.Month,
                  time.Day, time.Hour, time.Minute, time.Second, time.Millisecond);
    return text;
}

std::string CommLogRecord(const TLocalTime &time, std::uint8_t direction, const ByteString &data,
                          TDataMode mode, char escChar)
{
    std::string record = LogTimeStamp(time);
    record += direction == LogDirSend ? " => " : " <= ";
    record += FormatData(data, mode, escChar);
    record += "\r\n";
    return record;
}

TFileResult AppendCommLog(const std::string &path, std::string_view record)
{
    if (const int error = AppendRecord(path, record); error != 0)
        return {ErrorText(error)};
    return {};
}

TFileResult WriteCommLog(const std::string &path, std::uint8_t direction, const ByteString &data,
                         TDataMode mode, char escChar)
{
    return AppendCommLog(path, CommLogRecord(CurrentLocalTime(), direction, data, mode, escChar));
}

} // namespace kestrune
