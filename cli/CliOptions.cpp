#include "cli/CliOptions.h"

#include "engine/ChannelOptions.h"
#include "engine/ChoiceLists.h"

#include <charconv>
#include <map>

namespace kestrune {

namespace {

std::vector<std::string> Split(const std::string &text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos)
            return parts;
        start = comma + 1;
    }
}

// A decimal number in [min, max], nothing around it.
std::optional<std::int64_t> Number(const std::string &text, std::int64_t min, std::int64_t max)
{
    std::int64_t value = 0;
    const char *end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || at != end || value < min || value > max)
        return std::nullopt;
    return value;
}

TUsageError Bad(const std::string &what, const std::string &text, const std::string &expected)
{
    return TUsageError{what + " \"" + text + "\": " + expected};
}

// "8N1", "7E2", "8N1.5": data bits, parity letter, stop bits.
bool ApplyFrameFormat(const std::string &text, TChannel &c)
{
    if (text.size() < 3 || text[0] < '5' || text[0] > '8')
        return false;
    static const std::string parities = "NOEMS";
    const std::size_t parity = parities.find(static_cast<char>(std::toupper(text[1])));
    if (parity == std::string::npos)
        return false;
    const std::string stop = text.substr(2);
    std::size_t stopIndex = StopBitsTexts.size();
    for (std::size_t i = 0; i < StopBitsTexts.size(); ++i) {
        if (stop == StopBitsTexts[i])
            stopIndex = i;
    }
    if (stopIndex == StopBitsTexts.size())
        return false;
    c.ByteSize = static_cast<std::uint8_t>(text[0] - '5');
    c.ParityBit = static_cast<std::uint8_t>(parity);
    c.StopBits = static_cast<std::uint8_t>(stopIndex);
    return true;
}

const char *const PortExpected = "a port number from 1 to 65535";

// The network option words after a channel's fields ("several", "reply-to-sender", ...).
std::variant<TChannel, TUsageError> WithOptions(TChannel c, const std::vector<std::string> &words)
{
    if (const auto error = ApplyNetworkOptionWords(c, words))
        return TUsageError{*error};
    return c;
}

bool IsTransfer(const TCliOptions &o)
{
    return o.Command == TCliCommand::Send || o.Command == TCliCommand::Receive;
}

// True when `name` is an option of send and receive (TransferOptionError reads its value).
bool IsTransferOption(const std::string &name, const TCliOptions &o)
{
    return IsTransfer(o) && (name == "--protocol" || name == "--rate" || name == "--chunk" ||
                             name == "--retry-timeout");
}

std::optional<TUsageError> TransferOptionError(const std::string &name, const std::string &v,
                                               TCliOptions &o)
{
    TTransferRequest &t = o.Transfer;
    if (name == "--protocol") {
        const auto protocol = ProtocolFromWord(v);
        if (!protocol || (o.Command == TCliCommand::Receive && *protocol == TTransferProtocol::Raw))
            return TUsageError{std::string("--protocol takes ") +
                               (o.Command == TCliCommand::Send ? "raw, " : "") +
                               "xmodem, xmodem-1k or ymodem, not \"" + v + "\""};
        t.Protocol = *protocol;
        o.ProtocolGiven = true;
    } else if (name == "--rate") {
        const auto rate = Number(v, 1, 100'000'000);
        if (!rate || o.Command != TCliCommand::Send)
            return Bad("--rate", v, "bytes per second from 1, for a raw send");
        t.Pacing.BytesPerSecond = static_cast<std::uint32_t>(*rate);
    } else if (name == "--chunk") {
        const std::vector<std::string> f = Split(v);
        const auto size = Number(f[0], 1, 100'000'000);
        const auto delay = f.size() == 2 ? Number(f[1], 0, 3'600'000) : std::nullopt;
        if (!size || !delay || o.Command != TCliCommand::Send)
            return Bad("--chunk", v, "SIZE,DELAY_MS (bytes, then milliseconds), for a raw send");
        t.Pacing.ChunkSize = static_cast<std::uint32_t>(*size);
        t.Pacing.ChunkDelayMs = static_cast<std::uint32_t>(*delay);
    } else {
        const auto ms = Number(v, 1, 3'600'000);
        if (!ms)
            return Bad("--retry-timeout", v, "milliseconds from 1");
        t.Timeouts = TTransferTimeouts::WithTry(*ms);
    }
    return std::nullopt;
}

std::optional<TUsageError> CheckTransfer(TCliOptions &o)
{
    if (!IsTransfer(o))
        return std::nullopt;
    TTransferRequest &t = o.Transfer;
    t.Receive = o.Command == TCliCommand::Receive;
    if (!o.ProtocolGiven)
        return TUsageError{std::string(t.Receive ? "receive" : "send") + " needs --protocol"};
    if (t.Receive && t.Path.empty())
        return TUsageError{"receive needs a file (or, for ymodem, a folder) to receive into"};
    if (!t.Receive && t.Files.empty())
        return TUsageError{"send needs a file"};
    if (!t.Receive && t.Files.size() > 1 && t.Protocol != TTransferProtocol::Ymodem &&
        t.Protocol != TTransferProtocol::Raw)
        return TUsageError{"--protocol " + std::string(ProtocolWord(t.Protocol)) +
                           " sends one file; ymodem sends several"};
    if ((t.Pacing.BytesPerSecond > 0 || t.Pacing.ChunkSize > 0) &&
        t.Protocol != TTransferProtocol::Raw)
        return TUsageError{"--rate and --chunk pace a raw send only"};
    if (t.Pacing.BytesPerSecond > 0 && t.Pacing.ChunkSize > 0)
        return TUsageError{"--rate and --chunk cannot both pace one send"};
    return std::nullopt;
}

} // namespace

std::optional<TCommMethod> MethodFromKind(const std::string &kind)
{
    static const std::map<std::string, TCommMethod> kinds = {{"serial", cmSerial},
                                                             {"udp", cmUDP},
                                                             {"tcp-server", cmTCPServer},
                                                             {"tcp-client", cmTCPClient}};
    const auto it = kinds.find(kind);
    if (it == kinds.end())
        return std::nullopt;
    return it->second;
}

std::variant<TChannel, TUsageError> ApplyChannelArg(const TChannelArg &arg, TChannel c)
{
    const std::vector<std::string> f = Split(arg.Fields);
    const auto port = [&](const std::string &text, std::int64_t min, std::int32_t &into) {
        const auto value = Number(text, min, 65535);
        if (value)
            into = static_cast<std::int32_t>(*value);
        return value.has_value();
    };
    c.Method = arg.Method;
    switch (arg.Method) {
    case cmSerial:
        if (f.size() > 3 || f[0].empty())
            return TUsageError{"--serial takes PORT[,BAUD[,8N1]], not \"" + arg.Fields + "\""};
        c.Port = f[0];
        if (f.size() > 1) {
            const auto baud = Number(f[1], 1, 100'000'000);
            if (!baud)
                return Bad("Baud rate", f[1], "a positive whole number such as 9600");
            c.Baudrate = static_cast<std::int32_t>(*baud);
        }
        if (f.size() > 2 && !ApplyFrameFormat(f[2], c))
            return Bad(
                "Frame format", f[2],
                "data bits 5 to 8, parity N, O, E, M or S, stop bits 1, 1.5 or 2 (such as 8N1)");
        return c;
    case cmUDP:
        if (f.size() < 3 || f[1].empty())
            return TUsageError{"--udp takes LOCALPORT,HOST,PORT[,OPTION...], not \"" + arg.Fields +
                               "\""};
        if (!port(f[0], 0, c.LocalPort))
            return Bad("Local port", f[0], "a port number from 0 to 65535");
        c.IPAddr = f[1];
        if (!port(f[2], 1, c.RemotePort))
            return Bad("Port", f[2], PortExpected);
        return WithOptions(c, {f.begin() + 3, f.end()});
    case cmTCPServer:
        if (f.empty() || !port(f[0], 1, c.LocalPort))
            return Bad("--tcp-server takes PORT[,several]", arg.Fields, PortExpected);
        return WithOptions(c, {f.begin() + 1, f.end()});
    case cmTCPClient:
        if (f.size() != 2 || f[0].empty())
            return TUsageError{"--tcp-client takes HOST,PORT, not \"" + arg.Fields + "\""};
        c.IPAddr = f[0];
        if (!port(f[1], 1, c.RemotePort))
            return Bad("Port", f[1], PortExpected);
        return c;
    }
    return c;
}

std::variant<TCliOptions, TUsageError> ParseCliArguments(const std::vector<std::string> &args)
{
    TCliOptions o;
    if (args.empty())
        return TUsageError{"no command given"};
    const std::string &command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        o.Command = TCliCommand::Help;
        if (args.size() > 1)
            o.Topic = args[1];
        return o;
    }
    if (command == "--version" || command == "-V") {
        o.Command = TCliCommand::Version;
        return o;
    }
    if (command == "run")
        o.Command = TCliCommand::Run;
    else if (command == "bridge")
        o.Command = TCliCommand::Bridge;
    else if (command == "send")
        o.Command = TCliCommand::Send;
    else if (command == "receive")
        o.Command = TCliCommand::Receive;
    else
        return TUsageError{"unknown command \"" + command + "\" (try kestrune --help)"};

    bool listGiven = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (name.rfind("--", 0) == 0) {
            const std::size_t eq = name.find('=');
            if (eq != std::string::npos) {
                inlineValue = name.substr(eq + 1);
                name.resize(eq);
            }
        }
        // The option's value: after "=" or the next argument.
        const auto value = [&]() -> std::optional<std::string> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < args.size())
                return args[++i];
            return std::nullopt;
        };
        if (name == "--help" || name == "-h") {
            o.Topic = command;
            o.Command = TCliCommand::Help;
            return o;
        }
        if (name == "--quiet" || name == "-q") {
            o.Quiet = true;
            continue;
        }
        if (name == "--verify-checks") {
            o.VerifyChecks = true;
            continue;
        }
        if ((name.rfind("-", 0) != 0 || name == "-") && o.Command == TCliCommand::Send) {
            o.Transfer.Files.push_back(name);
            continue;
        }
        if ((name.rfind("-", 0) != 0 || name == "-") && o.Command == TCliCommand::Receive &&
            !listGiven) {
            o.Transfer.Path = name;
            listGiven = true;
            continue;
        }
        if (name.rfind("-", 0) != 0 || name == "-") {
            if (o.Command != TCliCommand::Run || listGiven)
                return TUsageError{"unexpected argument \"" + name + "\""};
            o.ListPath = name;
            listGiven = true;
            continue;
        }
        const std::optional<std::string> v = value();
        if (!v)
            return TUsageError{name + " needs a value"};
        static const std::map<std::string, TCommMethod> channelOptions = {
            {"--serial", cmSerial},
            {"--udp", cmUDP},
            {"--tcp-server", cmTCPServer},
            {"--tcp-client", cmTCPClient}};
        if (const auto it = channelOptions.find(name); it != channelOptions.end()) {
            o.Main = TChannelArg{it->second, *v};
        } else if (name == "--relay") {
            const std::size_t comma = v->find(',');
            const auto method = MethodFromKind(v->substr(0, comma));
            if (!method || comma == std::string::npos)
                return TUsageError{"--relay takes KIND,FIELDS with KIND serial, udp, tcp-server or "
                                   "tcp-client, not \"" +
                                   *v + "\""};
            o.Relays.push_back({*method, v->substr(comma + 1)});
        } else if (name == "--settings") {
            o.SettingsPath = *v;
        } else if (name == "--mode") {
            static const std::map<std::string, std::uint8_t> modes = {
                {"hex", 0}, {"char", 1}, {"mixed", 2}};
            const auto mode = modes.find(*v);
            if (mode == modes.end())
                return TUsageError{"--mode takes hex, char or mixed, not \"" + *v + "\""};
            o.DataMode = mode->second;
        } else if (name == "--esc") {
            std::size_t index = EscCharTexts.size();
            for (std::size_t k = 0; k < EscCharTexts.size(); ++k) {
                if (*v == EscCharTexts[k])
                    index = k;
            }
            if (index == EscCharTexts.size())
                return TUsageError{"--esc takes {}, [], () or <>, not \"" + *v + "\""};
            o.EscCharIndex = static_cast<std::uint8_t>(index);
        } else if (name == "--rules") {
            o.RulesPath = *v;
        } else if (name == "--log") {
            if (v->empty())
                return TUsageError{"--log needs a file name"};
            o.LogPath = *v;
        } else if (name == "--capture") {
            if (v->empty())
                return TUsageError{"--capture needs a file name"};
            o.CapturePath = *v;
        } else if (IsTransferOption(name, o)) {
            if (const auto error = TransferOptionError(name, *v, o))
                return *error;
        } else if (name == "--timeout" && o.Command != TCliCommand::Bridge) {
            const auto ms = Number(*v, 1, INT32_MAX);
            if (!ms)
                return TUsageError{"--timeout takes milliseconds from 1, not \"" + *v + "\""};
            o.TimeoutMs = static_cast<std::int32_t>(*ms);
        } else {
            return TUsageError{"unknown option \"" + name + "\" for " + command};
        }
    }
    if (o.Command == TCliCommand::Run && !listGiven)
        return TUsageError{"run needs a command list file"};
    if (const auto error = CheckTransfer(o))
        return *error;
    return o;
}

} // namespace kestrune
