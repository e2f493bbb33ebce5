#pragma once

#include "codec/ByteString.h"
#include "encoding/TextEncoding.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune {

// What one accepted line of a command file asks for.
enum class TCmdLineKind : std::uint8_t
{
    lkSend,  // S:k:data  send the bytes, go on at once
    lkReply, // R:k:data or R:Tn:k:data  wait (at most n ms) for the bytes
    lkDelay, // Tn  wait n ms
};

// How the data part of a send or reply line becomes bytes.
enum class TCmdDataKind : std::uint8_t
{
    dkMixed,  // M: Mixed text with the main window's current bracket pair
    dkHex,    // H: hexadecimal text
    dkString, // S: the characters as they stand
};

struct TCommandLine
{
    TCmdLineKind Kind = TCmdLineKind::lkDelay;
    // Milliseconds to wait: the delay, or the reply time-out (0 without one).
    // A value below 1 arms nothing, which stalls the list until it is cancelled.
    std::int32_t N = 0;
    TCmdDataKind DataKind = TCmdDataKind::dkString;
    // The data text from its first character to the end of the line.
    std::string Data;

    bool operator==(const TCommandLine &) const = default;
};

// Reads one command-file line (without its line end). nullopt means the line is
// ignored: empty, a comment, an unknown kind letter, a broken layout or a
// number that does not convert. Letter case never matters.
[[nodiscard]] std::optional<TCommandLine> ParseCommandLine(std::string_view line);

// The bytes a send or reply line stands for. `escChar` is the opening bracket
// currently chosen in the main window; only Mixed data reads it. Text data is
// in the chosen encoding (the file's text is UTF-8; Latin-1 sends it as it is).
[[nodiscard]] ByteString CommandBytes(const TCommandLine &command, char escChar,
                                      TEncoding encoding = TEncoding::Latin1);

} // namespace kestrune
