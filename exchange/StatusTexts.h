#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrune {

// Texts of the send and receive status panes and of the command list's
// progress. Counters are 64-bit: a busy link passes 2 GiB within hours, and a
// 32-bit count would then show negative totals. A `start` parameter is the
// start moment already written as date-time text (see DateTimeText).

// Panes before the first send or receive and before any reset.
inline constexpr std::string_view SendPaneInitialCaption = "Send: 0B, 0P.";
inline constexpr std::string_view SendPaneInitialHint = "发送计数";
inline constexpr std::string_view RecvPaneInitialCaption = "Recv: 0B.";
inline constexpr std::string_view RecvPaneInitialHint = "接收计数";

// "Send: 12B, 3P."
[[nodiscard]] std::string SendPaneCaption(std::int64_t bytes, std::int64_t packets);
// After a frame: "From<start>, Total 12Bytes(3Pkgs)."
[[nodiscard]] std::string SendPaneHint(std::string_view start, std::int64_t bytes,
                                       std::int64_t packets);
// After a reset, which has always read without the blank: "From<start>, Total0Bytes(0Pkgs)."
[[nodiscard]] std::string SendPaneResetHint(std::string_view start);

// "Recv: 12B."
[[nodiscard]] std::string RecvPaneCaption(std::int64_t bytes);
// After a block, with no closing full stop: "From<start>, Total 12Bytes"
[[nodiscard]] std::string RecvPaneHint(std::string_view start, std::int64_t bytes);
// After a reset, with one: "From<start>, Total 0Bytes."
[[nodiscard]] std::string RecvPaneResetHint(std::string_view start);

// The date-time text of a start moment from the locale's short date and long
// time texts: "date time", or the date alone at exactly midnight.
[[nodiscard]] std::string DateTimeText(std::string_view date, std::string_view time,
                                       bool atMidnight);

// Command list: captions of its button and progress texts of the main pane.
inline constexpr std::string_view CmdListIdleCaption = "Exec Cmd List";
inline constexpr std::string_view CmdListRunningCaption = "Cancelling";
inline constexpr std::string_view CmdListFinishedText = "Ready";
// A reply line: "Wait data, Timeout=2000ms."
[[nodiscard]] std::string CmdListReplyText(std::int32_t timeout);
// A delay line: "Wait 500ms."
[[nodiscard]] std::string CmdListDelayText(std::int32_t delay);

} // namespace kestrune
