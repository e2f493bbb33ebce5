#include "cli/ShellSession.h"

#include "cli/Shell.h"
#include "serial/Comm.h"
#include "serial/Rfc2217Connect.h"

#include <QCoreApplication>

#include <algorithm>
#include <csignal>

namespace kestrune {

namespace {

// How often the queue is looked at while the last frames go out.
constexpr int DrainPollMs = 5;
// A remote port's server puts the last bytes on its line after they have
// left here, and closing purges its output: it gets this moment first.
constexpr int RemoteLingerMs = 200;
// The device's own buffer empties at the line's pace; one that has sent
// nothing for this long is held by flow control, and the end does not wait.
constexpr std::int64_t DeviceStallMs = 2000;

} // namespace

TShellSession::TShellSession(const TCliOptions &options, TSettings settings, std::FILE *out,
                             std::FILE *err)
    : FOptions(options), FOut(out), FErr(err)
{
    FEngine.SetSettings(std::move(settings));
    if (options.LogPath) {
        // A pattern, named from the current folder.
        FEngine.General().LogFolder.clear();
        FEngine.General().LogName = *options.LogPath;
        FEngine.SetLogToFile(true);
    }
    if (options.CapturePath)
        FCaptureError = FEngine.SetCapture(*options.CapturePath);
    // A file's blocks are no frames to read: send and receive print none.
    const bool transfer =
        options.Command == TCliCommand::Send || options.Command == TCliCommand::Receive;
    if (!options.Quiet && !transfer) {
        const auto sink = [this](const std::string &line) {
            std::fputs(line.c_str(), FOut);
            std::fputc('\n', FOut);
        };
        const auto whole = [this](std::uint16_t origin) { return WholeFrames(origin); };
        FRecvPrinter = std::make_unique<TFramePrinter>(
            TFramePrinter::TSource{&FEngine.RecvHistory(), &FEngine.RecvFrames(), false}, sink,
            whole);
        // Every sent frame is whole as it goes out.
        FSendPrinter = std::make_unique<TFramePrinter>(
            TFramePrinter::TSource{&FEngine.SendHistory(), &FEngine.SendFrames(), true}, sink,
            [](std::uint16_t) { return true; });
        const TGeneralSettings &g = FEngine.Settings().General;
        for (TFramePrinter *printer : {FRecvPrinter.get(), FSendPrinter.get()})
            printer->SetMode(static_cast<TDataMode>(g.DataMode), g.EscChar(), g.Encoding);
    }
    FSilence.setSingleShot(true);
    QObject::connect(&FSilence, &QTimer::timeout, [this] {
        if (FRecvPrinter)
            FRecvPrinter->Flush();
        std::fflush(FOut);
    });
    FDeadline.setSingleShot(true);
    QObject::connect(&FDeadline, &QTimer::timeout, [this] {
        Message("timed out after " + std::to_string(*FOptions.TimeoutMs) + " ms");
        Finish(ShellTimeout);
    });
    FDrain.setInterval(DrainPollMs);
    Wire();
}

TShellSession::~TShellSession()
{
    FEngine.Stop();
}

void TShellSession::Message(const std::string &text)
{
    // One line a message, whatever line breaks the text holds.
    std::string line = text;
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    line.erase(
        std::unique(line.begin(), line.end(), [](char a, char b) { return a == ' ' && b == ' '; }),
        line.end());
    std::fprintf(FErr, "kestrune: %s\n", line.c_str());
    std::fflush(FErr);
}

bool TShellSession::WholeFrames(std::uint16_t origin) const
{
    const TSettings &s = FEngine.Settings();
    const TChannel *channel = &s.Main;
    if (origin > 0 && origin <= s.Relays.size())
        channel = &s.Relays[origin - 1].Channel;
    // A serial line's frame ends with a silence; a network read is a frame.
    return channel->Method != cmSerial;
}

int TShellSession::SilenceMs() const
{
    // The frame gap, at least 3.5 characters at the slowest line, and a margin
    // for the reads' own delays.
    const TSettings &s = FEngine.Settings();
    std::int64_t slowest = s.Main.Method == cmSerial ? s.Main.Baudrate : 0;
    for (const TRelayEntry &r : s.Relays) {
        if (r.Channel.Method == cmSerial && r.Channel.Baudrate > 0)
            slowest = slowest > 0 ? std::min<std::int64_t>(slowest, r.Channel.Baudrate)
                                  : r.Channel.Baudrate;
    }
    const std::int64_t charGapMs = slowest > 0 ? 12 * 35 * 100 / slowest + 1 : 0;
    return static_cast<int>(std::max<std::int64_t>(s.General.FrameGap, charGapMs)) + 20;
}

void TShellSession::PrintFrames()
{
    // Sent frames are whole at once; a received frame still open waits for
    // its silence. What came before a sent frame is written first.
    if (FRecvPrinter) {
        FRecvPrinter->Update();
        FSendPrinter->Update();
        if (FRecvPrinter->Pending())
            FSilence.start(SilenceMs());
        std::fflush(FOut);
    }
}

void TShellSession::Wire()
{
    FEngine.OnDataAppended = [this](bool) { PrintFrames(); };
    if (FOptions.Command == TCliCommand::Send || FOptions.Command == TCliCommand::Receive) {
        // The port is opened for the transfer: a receiver that is already
        // waiting has put its start request there.
        FEngine.OnCommCreated = [](TComm &comm) { comm.SetPurgeInputAtOpen(false); };
    }
    FEngine.OnStatusMessage = [this](const std::string &text) { Message(text); };
    FEngine.OnLogStopped = [this](const std::string &text) { Message(text); };
    FEngine.OnCaptureStopped = [this](const std::string &text) { Message(text); };
    FEngine.OnReplyMissed = [this](std::size_t line, const std::string &data, std::int32_t ms) {
        FReplyMissed = true;
        Message("line " + std::to_string(line) + ": no reply \"" + data + "\" within " +
                std::to_string(ms) + " ms");
    };
    FEngine.OnError = [this](TEngineError kind, const std::string &text) {
        Message(text);
        switch (kind) {
        case TEngineError::OpenFailed:
        case TEngineError::LinkLost:
            if (!FTransferOver)
                Finish(ShellChannel);
            break;
        case TEngineError::Failure:
            // A command list line that cannot be read has ended the list.
            if (FOptions.Command == TCliCommand::Run)
                FFileFailed = true;
            break;
        }
    };
    FEngine.OnLinkStateChanged = [this](TLinkState) {
        StartListWhenReady();
        StartTransferWhenReady();
    };
    FEngine.OnTransferEnded = [this](TTransferEnd end, const std::string &text) {
        TransferEnded(end, text);
    };
    FEngine.OnListStateChanged = [this](TListState state) {
        if (state == TListState::Idle)
            ListEnded();
    };
    QObject::connect(&FDrain, &QTimer::timeout, [this] { DrainStep(); });
}

void TShellSession::StartDrain()
{
    FDeviceLeft = 0;
    FDeviceClock.invalidate();
    FDrain.start();
}

void TShellSession::DrainStep()
{
    const TSession &session = FEngine.Session();
    const bool open = FEngine.IsOpen() && session.MainCanSend();
    if (open && session.MainQueuedBytes() > 0)
        return;
    // Past the queue, the device may still hold bytes that closing discards.
    const std::size_t device = open ? session.MainUnsentBytes() : 0;
    if (device > 0 && (!FDeviceClock.isValid() || device < FDeviceLeft)) {
        FDeviceLeft = device;
        FDeviceClock.start();
    }
    if (device > 0 && FDeviceClock.elapsed() < DeviceStallMs)
        return;
    FDrain.stop();
    const int status = FFileFailed       ? ShellUsage
                       : FTransferFailed ? ShellTransferFailed
                       : FReplyMissed    ? ShellReplyMissed
                                         : ShellOk;
    const TChannel &main = FEngine.Settings().Main;
    if (open && main.Method == cmSerial && IsRemotePortName(main.Port))
        QTimer::singleShot(RemoteLingerMs, &FDeadline, [this, status] { Finish(status); });
    else
        Finish(status);
}

void TShellSession::StartListWhenReady()
{
    if (FOptions.Command != TCliCommand::Run || FListStarted || FStatus ||
        !FEngine.Session().MainCanSend())
        return;
    FListStarted = true;
    if (const auto error = FEngine.StartList(FOptions.ListPath)) {
        Message("cannot read the command list \"" + FOptions.ListPath + "\": " + *error);
        FFileFailed = true;
        Finish(ShellUsage);
        return;
    }
    // An empty list has ended already.
    if (!FEngine.ListRunning())
        ListEnded();
}

void TShellSession::StartTransferWhenReady()
{
    if ((FOptions.Command != TCliCommand::Send && FOptions.Command != TCliCommand::Receive) ||
        FTransferStarted || FStatus || !FEngine.Session().MainCanSend())
        return;
    FTransferStarted = true;
    if (const auto error = FEngine.StartTransfer(FOptions.Transfer)) {
        Message(*error);
        FTransferFailed = true;
        Finish(ShellTransferFailed);
    }
}

void TShellSession::TransferEnded(TTransferEnd end, const std::string &text)
{
    FTransferFailed = end != TTransferEnd::Done;
    if (FTransferFailed || !FOptions.Quiet)
        Message(text);
    // A channel that closed under the transfer is told next, with its status.
    if (end == TTransferEnd::ChannelClosed)
        return;
    // Its last bytes have left: a peer that ends now (and takes the line with
    // it) changes nothing.
    FTransferOver = true;
    // Closing the port purges its output: the last answer (an ACK, the
    // CANs) reaches the line first.
    StartDrain();
}

void TShellSession::ListEnded()
{
    if (!FListStarted || FStatus || FDrain.isActive())
        return;
    // What the last lines sent goes out before the channels close.
    StartDrain();
}

void TShellSession::Finish(int status)
{
    if (FStatus)
        return;
    FStatus = status;
    FDrain.stop();
    FSilence.stop();
    FDeadline.stop();
    if (FRecvPrinter) {
        FRecvPrinter->Flush();
        FSendPrinter->Flush();
    }
    std::fflush(FOut);
    const TGeneralSettings &g = FEngine.Settings().General;
    if (g.AnswerRules || g.VerifyChecks)
        Message("answered " + std::to_string(FEngine.AnsweredFrames()) + " frames; " +
                std::to_string(FEngine.BadFrames()) + " with a bad check");
    FEngine.Stop();
    QCoreApplication::exit(status);
}

void TShellSession::Terminate(int signal)
{
    // A signal cancels a transfer on both sides; its end ends the program.
    if (FEngine.TransferRunning()) {
        FEngine.CancelTransfer();
        return;
    }
    if (FOptions.Command == TCliCommand::Send || FOptions.Command == TCliCommand::Receive) {
        FTransferFailed = true;
        Message("cancelled before the transfer began");
        Finish(ShellTransferFailed);
        return;
    }
    if (FOptions.Command == TCliCommand::Bridge)
        Finish(ShellOk);
    else
        Finish(128 + signal);
}

int TShellSession::Exec()
{
    if (!FCaptureError.empty()) {
        Message(FCaptureError);
        return ShellUsage;
    }
    if (FOptions.RulesPath) {
        if (const auto error = FEngine.SetAnswerRules(*FOptions.RulesPath)) {
            Message(*error);
            return ShellUsage;
        }
    }
    if (FOptions.TimeoutMs)
        FDeadline.start(*FOptions.TimeoutMs);
    if (!FEngine.Start()) {
        // OnError has said why and set the status.
        if (!FStatus)
            FStatus = ShellChannel;
        return *FStatus;
    }
    if (FOptions.Command == TCliCommand::Bridge) {
        // Said once everything is open, so a script knows when to begin.
        std::string open = "open: main " + ChannelDescription(FEngine.Settings().Main);
        for (std::size_t i = 0; i < FEngine.Relays().size(); ++i) {
            if (FEngine.RelayOpen(i))
                open += "; R" + std::to_string(i + 1) + " " +
                        ChannelDescription(FEngine.Relays()[i].Channel);
        }
        Message(open);
    }
    if (FOptions.Command != TCliCommand::Bridge && !FEngine.Session().MainCanSend())
        Message("waiting for the main channel's peer");
    StartListWhenReady();
    StartTransferWhenReady();
    if (FStatus)
        return *FStatus;
    const int status = QCoreApplication::exec();
    return FStatus ? *FStatus : status;
}

} // namespace kestrune
