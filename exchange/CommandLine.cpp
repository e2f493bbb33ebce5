#include "exchange/CommandLine.h"

#include "codec/Parse.h"
#include "common/CaseInsensitive.h"
#include "common/IntText.h"
#include "encoding/TypedText.h"

namespace kestrune {

namespace {

std::optional<TCmdDataKind> DataKindOf(char letter)
{
    switch (UpperAscii(letter)) {
    case 'M':
        return TCmdDataKind::dkMixed;
    case 'H':
        return TCmdDataKind::dkHex;
    case 'S':
        return TCmdDataKind::dkString;
    default:
        return std::nullopt;
    }
}

// The part shared by send and reply lines: the kind letter at index `kindAt`,
// a ":" after it, and at least one data character after that.
std::optional<TCommandLine> KindAndData(std::string_view line, std::size_t kindAt,
                                        TCmdLineKind kind, std::int32_t n)
{
    if (line.size() < kindAt + 3 || line[kindAt + 1] != ':')
        return std::nullopt;
    const auto dataKind = DataKindOf(line[kindAt]);
    if (!dataKind)
        return std::nullopt;
    return TCommandLine{kind, n, *dataKind, std::string(line.substr(kindAt + 2))};
}

std::optional<TCommandLine> SendLine(std::string_view line)
{
    if (line.size() < 5 || line[1] != ':')
        return std::nullopt;
    return KindAndData(line, 2, TCmdLineKind::lkSend, 0);
}

std::optional<TCommandLine> ReplyLine(std::string_view line)
{
    if (line.size() < 5 || line[1] != ':')
        return std::nullopt;
    if (UpperAscii(line[2]) != 'T')
        return KindAndData(line, 2, TCmdLineKind::lkReply, 0);

    // A T in the third place always starts a time-out, closed by the next ":".
    const std::size_t close = line.find(':', 3);
    if (close == std::string_view::npos)
        return std::nullopt;
    std::int32_t n = 0;
    if (close > 3) {
        const auto value = TryStrToInt(line.substr(3, close - 3));
        if (!value)
            return std::nullopt;
        n = *value;
    }
    return KindAndData(line, close + 1, TCmdLineKind::lkReply, n);
}

std::optional<TCommandLine> DelayLine(std::string_view line)
{
    const auto value = TryStrToInt(line.substr(1));
    if (!value)
        return std::nullopt;
    return TCommandLine{TCmdLineKind::lkDelay, *value, TCmdDataKind::dkString, {}};
}

} // namespace

std::optional<TCommandLine> ParseCommandLine(std::string_view line)
{
    if (line.empty())
        return std::nullopt;
    switch (UpperAscii(line[0])) {
    case 'S':
        return SendLine(line);
    case 'R':
        return ReplyLine(line);
    case 'T':
        return DelayLine(line);
    default:
        return std::nullopt;
    }
}

ByteString CommandBytes(const TCommandLine &command, char escChar, TEncoding encoding)
{
    switch (command.DataKind) {
    case TCmdDataKind::dkMixed:
        return ParseTyped(command.Data, dmMixed, escChar, encoding);
    case TCmdDataKind::dkHex:
        // The bracket plays no part in Hex text; "{" is what the list always passed.
        return ParseData(command.Data, dmHex, '{');
    case TCmdDataKind::dkString:
        return EncodeText(command.Data, encoding);
    }
    return {};
}

} // namespace kestrune
