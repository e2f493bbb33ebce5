#include "exchange/StatusTexts.h"

namespace kestrune {

namespace {

std::string Num(std::int64_t value)
{
    return std::to_string(value);
}

} // namespace

std::string SendPaneCaption(std::int64_t bytes, std::int64_t packets)
{
    return "Send: " + Num(bytes) + "B, " + Num(packets) + "P.";
}

std::string SendPaneHint(std::string_view start, std::int64_t bytes, std::int64_t packets)
{
    return "From" + std::string(start) + ", Total " + Num(bytes) + "Bytes(" + Num(packets) +
           "Pkgs).";
}

std::string SendPaneResetHint(std::string_view start)
{
    return "From" + std::string(start) + ", Total0Bytes(0Pkgs).";
}

std::string RecvPaneCaption(std::int64_t bytes)
{
    return "Recv: " + Num(bytes) + "B.";
}

std::string RecvPaneHint(std::string_view start, std::int64_t bytes)
{
    return "From" + std::string(start) + ", Total " + Num(bytes) + "Bytes";
}

std::string RecvPaneResetHint(std::string_view start)
{
    return "From" + std::string(start) + ", Total 0Bytes.";
}

std::string DateTimeText(std::string_view date, std::string_view time, bool atMidnight)
{
    if (atMidnight)
        return std::string(date);
    return std::string(date) + " " + std::string(time);
}

std::string CmdListReplyText(std::int32_t timeout)
{
    // Below 1 ms no time-out is armed: the list waits for the reply itself.
    if (timeout < 1)
        return "Wait data, until the reply comes.";
    return "Wait data, Timeout=" + Num(timeout) + "ms.";
}

std::string CmdListDelayText(std::int32_t delay)
{
    return "Wait " + Num(delay) + "ms.";
}

} // namespace kestrune
