#include "cli/Shell.h"

#include "cli/CliOptions.h"
#include "cli/ShellHelp.h"
#include "cli/ShellSession.h"
#include "common/IniFile.h"
#include "engine/Settings.h"
#include "exchange/CommandFile.h"
#include "transfer/TransferFiles.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrune {

namespace {

int SignalPipe[2] = {-1, -1};

extern "C" void OnTerminationSignal(int signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const auto n = ::write(SignalPipe[1], &byte, 1);
    errno = saved;
}

// SIGINT and SIGTERM reach the event loop through a pipe, so the session
// ends in order: channels closed, log and output complete.
class TShellSignals
{
public:
    explicit TShellSignals(TShellSession &session)
    {
        if (::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        FNotifier = std::make_unique<QSocketNotifier>(SignalPipe[0], QSocketNotifier::Read);
        QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [&session] {
            unsigned char byte = 0;
            if (::read(SignalPipe[0], &byte, 1) == 1)
                session.Terminate(byte);
        });
        struct sigaction action
        {
        };
        action.sa_handler = OnTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    }
    ~TShellSignals()
    {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        FNotifier.reset();
        for (int &fd : SignalPipe) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    }
    TShellSignals(const TShellSignals &) = delete;
    TShellSignals &operator=(const TShellSignals &) = delete;

private:
    std::unique_ptr<QSocketNotifier> FNotifier;
};

int UsageError(const std::string &message)
{
    std::fprintf(stderr, "kestrune: %s\nTry 'kestrune --help' for more information.\n",
                 message.c_str());
    return ShellUsage;
}

// The settings the command starts from: the file's, or the defaults.
std::optional<TSettings> ReadSettings(const TCliOptions &o)
{
    if (!o.SettingsPath)
        return LoadSettings(TIniFile(std::string()));
    struct stat info
    {
    };
    if (::stat(o.SettingsPath->c_str(), &info) != 0) {
        std::fprintf(stderr, "kestrune: cannot read the settings file \"%s\": %s\n",
                     o.SettingsPath->c_str(), std::strerror(errno));
        return std::nullopt;
    }
    const TIniFile ini(*o.SettingsPath);
    if (!ini.ReadError().empty()) {
        std::fprintf(stderr, "kestrune: cannot read the settings file \"%s\"\n",
                     o.SettingsPath->c_str());
        return std::nullopt;
    }
    return LoadSettings(ini);
}

// The options over the settings; false (and the message given) when a channel's
// fields do not fit.
bool ApplyOptions(const TCliOptions &o, TSettings &s)
{
    const TChannel defaults = LoadSettings(TIniFile(std::string())).Main;
    if (o.Main) {
        auto channel = ApplyChannelArg(*o.Main, s.Main);
        if (auto *error = std::get_if<TUsageError>(&channel)) {
            UsageError(error->Message);
            return false;
        }
        s.Main = std::get<TChannel>(channel);
    }
    if (!o.Relays.empty()) {
        s.Relays.clear();
        for (const TChannelArg &arg : o.Relays) {
            auto channel = ApplyChannelArg(arg, defaults);
            if (auto *error = std::get_if<TUsageError>(&channel)) {
                UsageError("--relay: " + error->Message);
                return false;
            }
            s.Relays.push_back({std::get<TChannel>(channel), true});
        }
    }
    if (o.DataMode)
        s.General.DataMode = *o.DataMode;
    if (o.EscCharIndex)
        s.General.EscCharIndex = *o.EscCharIndex;
    if (o.VerifyChecks)
        s.General.VerifyChecks = true;
    return true;
}

// The files to send, read before any channel opens: the reason one cannot be.
std::optional<std::string> CheckTransferFiles(const TTransferRequest &t)
{
    try {
        for (const std::string &path : t.Files)
            static_cast<void>(OpenSendFile(path));
    } catch (const std::exception &e) {
        return std::string(e.what());
    }
    return std::nullopt;
}

// The place to receive into: a folder for a batch, a file in a folder otherwise.
std::optional<std::string> CheckReceivePlace(const TTransferRequest &t)
{
    struct stat info
    {
    };
    const bool folder = ::stat(t.Path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (t.Protocol == TTransferProtocol::Ymodem)
        return folder ? std::nullopt
                      : std::optional<std::string>("cannot receive into \"" + t.Path +
                                                   "\": ymodem needs an existing folder");
    const std::size_t slash = t.Path.find_last_of('/');
    const std::string parent = slash == std::string::npos ? "." : t.Path.substr(0, slash + 1);
    if (folder || ::stat(parent.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return "cannot receive into \"" + t.Path + "\": name a file in an existing folder";
    return std::nullopt;
}

} // namespace

bool IsShellInvocation(int argc, char **argv)
{
    if (argc < 2)
        return false;
    const std::string_view first = argv[1];
    // Every word is a command (an unknown one is refused as such); options
    // that start with "-" are the window's (Qt's -platform, say).
    return (!first.empty() && first[0] != '-') || first == "--help" || first == "-h" ||
           first == "--version" || first == "-V";
}

int ShellMain(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto parsed = ParseCliArguments(args);
    if (const auto *error = std::get_if<TUsageError>(&parsed))
        return UsageError(error->Message);
    const TCliOptions &o = std::get<TCliOptions>(parsed);
    switch (o.Command) {
    case TCliCommand::Help:
        std::fputs(ShellHelpText(o.Topic).c_str(), stdout);
        return ShellOk;
    case TCliCommand::Version:
        std::fputs(ShellVersionText().c_str(), stdout);
        return ShellOk;
    case TCliCommand::Run:
    case TCliCommand::Bridge:
    case TCliCommand::Send:
    case TCliCommand::Receive:
        break;
    }

    std::optional<TSettings> settings = ReadSettings(o);
    if (!settings || !ApplyOptions(o, *settings))
        return ShellUsage;
    if (o.Command == TCliCommand::Run) {
        // A list that cannot be read is told before any channel opens.
        TCommandFileReader probe;
        if (const auto error = probe.Open(o.ListPath)) {
            std::fprintf(stderr, "kestrune: cannot read the command list \"%s\": %s\n",
                         o.ListPath.c_str(), error->c_str());
            return ShellUsage;
        }
    }
    if (const auto error = CheckTransferFiles(o.Transfer);
        error && o.Command == TCliCommand::Send) {
        std::fprintf(stderr, "kestrune: %s\n", error->c_str());
        return ShellUsage;
    }
    if (const auto error = CheckReceivePlace(o.Transfer);
        error && o.Command == TCliCommand::Receive) {
        std::fprintf(stderr, "kestrune: %s\n", error->c_str());
        return ShellUsage;
    }
    // A reader that went away must not end the program without its clean-up.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    TShellSession session(o, std::move(*settings), stdout, stderr);
    const TShellSignals termination(session);
    return session.Exec();
}

} // namespace kestrune
