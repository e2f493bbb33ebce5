#pragma once

#include "engine/Channel.h"
#include "engine/TransferRequest.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kestrune {

enum class TCliCommand : std::uint8_t
{
    Run,     // run a command list, then exit
    Bridge,  // open the channels until a signal ends it
    Send,    // send files, then exit
    Receive, // receive files, then exit
    Help,    // print the usage of `Topic` (empty: the program's)
    Version
};

// A channel as given on the command line: its kind and the fields after it,
// applied over a base channel once the settings file is read.
struct TChannelArg
{
    TCommMethod Method = cmSerial;
    std::string Fields; // "PORT[,BAUD[,8N1]]", "LOCALPORT,HOST,PORT", "PORT", "HOST,PORT"
};

// What the command line asks for. Unset options leave the settings file's values.
struct TCliOptions
{
    TCliCommand Command = TCliCommand::Help;
    std::string Topic;    // Help: "run", "bridge" or empty
    std::string ListPath; // Run
    std::optional<std::string> SettingsPath;
    std::optional<TChannelArg> Main;
    std::vector<TChannelArg> Relays;      // given at least once: they replace the file's
    std::optional<std::uint8_t> DataMode; // index into DataModeTexts
    std::optional<std::uint8_t> EscCharIndex;
    std::optional<std::string> LogPath; // a name pattern: %Y %m %d %H %M %S
    std::optional<std::string> CapturePath;
    bool Quiet = false;
    std::optional<std::string> RulesPath; // answer what the main channel receives
    bool VerifyChecks = false;
    std::optional<std::int32_t> TimeoutMs;
    // send and receive: the files (Transfer.Files), the place (Transfer.Path).
    TTransferRequest Transfer;
    bool ProtocolGiven = false;
};

// A command line the program cannot follow; the message says why.
struct TUsageError
{
    std::string Message;
};

// Reads the arguments after the program's name. Every refusal names the
// argument at fault.
[[nodiscard]] std::variant<TCliOptions, TUsageError>
ParseCliArguments(const std::vector<std::string> &args);

// Applies `arg`'s fields over `base` (whose other fields, time-outs for one,
// stay): the error text when a field is not what its place asks for.
[[nodiscard]] std::variant<TChannel, TUsageError> ApplyChannelArg(const TChannelArg &arg,
                                                                  TChannel base);

// The kind word of --relay ("serial", "udp", "tcp-server", "tcp-client").
[[nodiscard]] std::optional<TCommMethod> MethodFromKind(const std::string &kind);

} // namespace kestrune
