// The engine's channels, relay list, send and receive paths, log and auto send.
#include "engine/Engine.h"

#include "capture/CaptureFile.h"
#include "codec/Checks.h"
#include "debugchannel/DbugIntf.h"
#include "encoding/TypedText.h"
#include "engine/ChannelTransports.h"
#include "engine/Timer.h"
#include "exchange/CommLog.h"
#include "net/SocketError.h"
#include "serial/Comm.h"

#include <algorithm>
#include <chrono>

namespace kestrune {

TEngine::TEngine(QObject *context)
    : FOwnContext(context ? nullptr : std::make_unique<QObject>()),
      FContext(context ? context : FOwnContext.get()),
      // Deferred work of the session (joined writes, retired transports)
      // runs on a later turn of the event loop.
      FSession([this](std::function<void()> action) {
          QTimer::singleShot(0, &FLife, std::move(action));
      })
{
    FAutoSendTimer = new TTimer(FContext);
    FAutoSendTimer->setObjectName(QStringLiteral("tmrAutoSend"));
    FAutoSendTimer->OnTimer = [this] { AutoSendTick(); };
    FListTimer = new TTimer(FContext);
    FListTimer->setObjectName(QStringLiteral("tmrCmdSequ"));
    FListTimer->OnTimer = [this] { ListTimeUp(); };
    FListContinue = new QTimer(&FLife);
    FListContinue->setSingleShot(true);
    FListContinue->setInterval(0);
    QObject::connect(FListContinue, &QTimer::timeout, &FLife, [this] { RunListSteps(); });
    FFrameQuiet = new QTimer(&FLife);
    FFrameQuiet->setSingleShot(true);
    FFrameQuiet->setTimerType(Qt::PreciseTimer);
    QObject::connect(FFrameQuiet, &QTimer::timeout, &FLife, [this] { JudgeOpenFrame(); });
    FPendingAnswers = std::make_unique<QObject>();
    FTransferTimer = new QTimer(&FLife);
    FTransferTimer->setSingleShot(true);
    QObject::connect(FTransferTimer, &QTimer::timeout, &FLife, [this] { TransferTimeUp(); });
    ConnectSession();
}

TEngine::~TEngine()
{
    // The timers live on the context, which may outlive the engine.
    delete FAutoSendTimer;
    delete FListTimer;
    FSession.CloseAll();
}

void TEngine::ConnectSession()
{
    FSession.OnData = [this](bool fromRelay, std::string_view block) {
        Received(fromRelay, block);
    };
    FSession.OnMainStateChanged = [this](TLinkState state) {
        if (OnLinkStateChanged)
            OnLinkStateChanged(state);
        LinkChangedForList();
        TransferLinkChanged();
    };
    FSession.OnStopped = [this](const std::string &message) { LinkLost(message); };
    FSession.OnServerClosed = [this](int relay) {
        // Every channel still closes; the user learns whose peer left.
        const bool main = relay < 0 || static_cast<std::size_t>(relay) >= FSettings.Relays.size();
        const TChannel &channel =
            main ? FSettings.Main : FSettings.Relays[static_cast<std::size_t>(relay)].Channel;
        Status((main ? std::string("Main channel") : "Relay " + std::to_string(relay + 1)) + " (" +
               ChannelDescription(channel) +
               "): the server closed the connection, every channel stopped.");
    };
    FSession.OnWarning = [this](const std::string &message) { Status(message); };
    FSession.OnWritten = [this](int channel, std::string_view bytes) {
        if (FCapture)
            CapturePacket(channel, TPacketDir::Outbound, bytes);
    };
    FSession.OnMainDrained = [this] {
        if (FListState == TListState::WaitingDrain)
            RunListSteps();
        TransferDrained();
    };
    FSession.OnLineError = [this](bool fromRelay, std::uint32_t) {
        SendDebugText("COMReceiveError");
        if (OnLineError)
            OnLineError(fromRelay);
    };
    FSession.OnModemChange = [](bool, std::uint32_t) { SendDebugText("COMModemStateChange"); };
    FSession.OnRelayDropping = [this](int channel, std::uint64_t) {
        const std::string name =
            channel < 0 ? "The main channel" : "R" + std::to_string(channel + 1);
        Status(name + " cannot take data as fast as it comes: what does not fit in its " +
               FSettings.General.RelayQueueLimitText + " queue is dropped.");
    };
}

void TEngine::Report(TEngineError kind, const std::string &message)
{
    if (OnError)
        OnError(kind, message);
}

void TEngine::Status(const std::string &text)
{
    if (OnStatusMessage)
        OnStatusMessage(text);
}

// --- Settings and the relay list ---------------------------------------------

void TEngine::SetSettings(TSettings settings)
{
    CloseAll();
    while (FSession.RelayCount() > 0)
        FSession.RemoveRelay(FSession.RelayCount() - 1);
    FSettings = std::move(settings);
    for (const TRelayEntry &relay : FSettings.Relays)
        FSession.AddRelay(relay.Checked);
}

bool TEngine::SetBufSizeText(const std::string &text)
{
    // Sizes past the 32-bit range come back negative too and are refused alike.
    const std::int32_t size = ParseSizeText(text);
    if (size < 0)
        return false;
    FSettings.General.BufSizeText = text;
    FSettings.General.BufSize = size;
    return true;
}

void TEngine::AddRelay(const TChannel &channel, bool checked)
{
    FSettings.Relays.push_back({channel, checked});
    FSession.AddRelay(checked);
}

void TEngine::RemoveRelays(std::vector<std::size_t> indexes)
{
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    // From the back, so the indexes still to go keep their meaning. Each is
    // closed with its slot, so no event of it arrives afterwards.
    for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) {
        if (*it >= FSettings.Relays.size())
            continue;
        FSession.RemoveRelay(*it);
        FSettings.Relays.erase(FSettings.Relays.begin() + static_cast<std::ptrdiff_t>(*it));
    }
}

void TEngine::SetRelayChecked(std::size_t index, bool checked)
{
    if (index >= FSettings.Relays.size())
        return;
    FSettings.Relays[index].Checked = checked;
    FSession.SetRelayChecked(index, checked);
}

// --- Channels ------------------------------------------------------------------

std::unique_ptr<TTransport> TEngine::OpenTransport(const TChannel &channel)
{
    try {
        if (FTransportFactory)
            return FTransportFactory(channel);
        return OpenChannelTransport(channel, OnCommCreated);
    } catch (const ECommsError &e) {
        Report(TEngineError::OpenFailed,
               std::string("Open serial port failed.\r\nError msg:") + e.what());
    } catch (const std::exception &e) {
        Report(TEngineError::OpenFailed, std::string(NetworkErrorPrefix) + e.what());
    }
    return nullptr;
}

bool TEngine::Start()
{
    if (IsOpen())
        return true;
    // Before the main channel opens: what arrives while the relays connect is
    // counted and kept alike.
    ClearSend();
    ClearRecv();
    ReloadAnswerRules();
    auto main = OpenTransport(FSettings.Main);
    if (!main)
        return false;
    FSession.SetQueueLimit(static_cast<std::size_t>(FSettings.General.RelayQueueLimit));
    FSession.OpenMain(std::move(main));
    for (std::size_t i = 0; i < FSettings.Relays.size(); ++i) {
        if (!FSession.RelayChecked(i))
            continue;
        auto relay = OpenTransport(FSettings.Relays[i].Channel);
        // A TCP client's connect runs the event loop: the main link may have
        // been lost meanwhile, and then this run is over.
        if (!FSession.IsOpen())
            return false;
        if (!relay) {
            CloseAll();
            return false;
        }
        FSession.OpenRelay(i, std::move(relay));
    }
    FCounters.SendStart = QDateTime::currentDateTime();
    FCounters.RecvStart = FCounters.SendStart;
    if (FAutoSend)
        FAutoSendTimer->SetEnabled(true);
    if (OnOpenChanged)
        OnOpenChanged(true);
    if (OnLinkStateChanged)
        OnLinkStateChanged(FSession.MainState());
    return true;
}

void TEngine::CloseAll()
{
    // A running command list ends with its channels, so no step writes to a closed one.
    EndList();
    DropOpenFrame();
    TransferClosing();
    FAutoSendTimer->SetEnabled(false);
    FSession.CloseAll();
}

void TEngine::Stop()
{
    if (!IsOpen())
        return;
    CloseAll();
    if (OnOpenChanged)
        OnOpenChanged(false);
}

void TEngine::LinkLost(const std::string &message)
{
    if (!IsOpen())
        return;
    Stop();
    if (!message.empty())
        Report(TEngineError::LinkLost, message);
}

// --- Sending ---------------------------------------------------------------------

bool TEngine::CanSendTyped() const
{
    return FSession.MainCanSend() && !ListRunning() && !TransferRunning();
}

ByteString TEngine::TypedFrame() const
{
    const TGeneralSettings &g = FSettings.General;
    return FrameOf(g.SendText, static_cast<TDataMode>(g.DataMode));
}

ByteString TEngine::FrameOf(const std::string &data, TDataMode dataMode) const
{
    const TGeneralSettings &g = FSettings.General;
    std::string missing;
    ByteString frame = ParseTyped(data, dataMode, g.EscChar(), g.Encoding, &missing);
    return FramedWith(std::move(frame), missing);
}

ByteString TEngine::SendFrame(ByteString data) const
{
    std::string missing;
    return FramedWith(std::move(data), missing);
}

ByteString TEngine::FramedWith(ByteString data, std::string &missing) const
{
    const TGeneralSettings &g = FSettings.General;
    const auto mode = static_cast<TDataMode>(g.DataMode);
    const auto parse = [&](const std::string &text) {
        return ParseTyped(text, mode, g.EscChar(), g.Encoding, &missing);
    };
    // The check covers the data alone, never lead or tail.
    AppendCheck(data, static_cast<TCheckKind>(g.Check));
    if (g.LeaderTailEnable)
        data = parse(g.LeaderText) + data + parse(g.TailText);
    // Said, not silently dropped: the user may have meant those characters.
    if (!missing.empty() && OnStatusMessage)
        OnStatusMessage(std::string(EncodingName(g.Encoding)) + " has no " + missing +
                        ": left out of the frame.");
    return data;
}

bool TEngine::SendQuick(std::size_t index)
{
    const std::vector<TQuickSend> &buttons = FSettings.General.QuickSends;
    if (index >= buttons.size() || !CanSendTyped())
        return false;
    return Transmit(FrameOf(buttons[index].Data, static_cast<TDataMode>(buttons[index].DataMode)));
}

bool TEngine::SendTyped()
{
    if (!CanSendTyped())
        return false;
    if (OnTypedSent)
        OnTypedSent(FSettings.General.SendText);
    return Transmit(TypedFrame());
}

bool TEngine::Transmit(const ByteString &frame)
{
    // A command list can outlive its channel.
    if (!FSession.IsOpen())
        return false;
    const TWriteResult sent = FSession.SendToMain(frame);
    if (!sent.Ok) {
        // A line, not a box: an auto send every 10 ms would bury the user in boxes.
        Status(sent.Error);
        return false;
    }
    // The frame is out: a log that fails now turns logging off and says so,
    // but the frame is still kept and counted.
    if (FLogToFile)
        WriteLog(LogDirSend, frame);
    FSendHistory.Append(frame, FSettings.General.BufSize);
    if (!frame.empty())
        FSendFrames.Add(
            {FSendHistory.End() - frame.size(), QDateTime::currentMSecsSinceEpoch(), 0});
    FSendFrames.TrimTo(FSendHistory.Begin());
    FCounters.SendBytes += static_cast<std::int64_t>(frame.size());
    ++FCounters.SendPackets;
    if (OnDataAppended)
        OnDataAppended(true);
    if (OnCountersChanged)
        OnCountersChanged(true);
    return true;
}

// --- Receiving -------------------------------------------------------------------

void TEngine::Received(bool fromRelay, std::string_view block)
{
    FRecvHistory.Append(block, FSettings.General.BufSize);
    NoteRecvFrames(block.size());
    if (FCapture)
        CaptureReceived(FSession.Delivering().Relay, block);
    // A log that cannot be written stops logging and says so once; the block
    // still goes on, so a full disk never drops data out of a relay.
    if (FLogToFile)
        WriteLog(LogDirRecv, ByteString(block));
    FCounters.RecvBytes += static_cast<std::int64_t>(block.size());
    if (OnDataAppended)
        OnDataAppended(false);
    if (OnCountersChanged)
        OnCountersChanged(false);

    if (!fromRelay && !block.empty())
        NoteLastMainByte(block.back());
    if (TransferRunning()) {
        // The main channel's bytes are the transfer's, both ways.
        if (!fromRelay)
            TransferReceived(block);
        return;
    }
    FSession.Route(fromRelay, block);
    if (Judging())
        JudgeReceived(fromRelay, FRecvHistory.End() - block.size(), block.size());
    if (!fromRelay && FListState == TListState::WaitingReply && FReplyMatcher.Feed(block))
        ListWaitOver();
}

namespace {

// One character on the line in nanoseconds: start bit, data bits, parity and
// stop bits at the channel's rate.
std::int64_t CharacterNs(const TChannel &channel)
{
    if (channel.Method != cmSerial || channel.Baudrate <= 0)
        return 0;
    const double stop = channel.StopBits == 0 ? 1 : channel.StopBits == 1 ? 1.5 : 2;
    const double bits = 1 + 5 + channel.ByteSize + (channel.ParityBit != 0 ? 1 : 0) + stop;
    return static_cast<std::int64_t>(bits * 1e9 / channel.Baudrate);
}

} // namespace

std::int64_t TEngine::FrameGapNs(const TChannel &channel) const
{
    // Modbus RTU's rule: at least 3.5 characters of silence part two frames.
    return std::max<std::int64_t>(std::int64_t(FSettings.General.FrameGap) * 1'000'000,
                                  CharacterNs(channel) * 7 / 2);
}

void TEngine::NoteRecvFrames(std::size_t length)
{
    const TSession::TDelivery &from = FSession.Delivering();
    auto origin = static_cast<std::uint16_t>(from.Relay < 0 ? 0 : from.Relay + 1);
    if (from.Relay < 0 && FSettings.Main.Method == cmTCPServer && FSettings.Main.SeveralClients) {
        // Each client's frames are its own, tagged with its address.
        if (const std::string peer = FSession.DeliveringPeer(); !peer.empty())
            origin = FRecvTags.Tag(peer);
    }
    if (origin != 0)
        FRecvRelayFrames = true;
    const TChannel *channel = &FSettings.Main;
    if (from.Relay >= 0 && static_cast<std::size_t>(from.Relay) < FSettings.Relays.size())
        channel = &FSettings.Relays[static_cast<std::size_t>(from.Relay)].Channel;
    TBlockTiming timing;
    timing.Origin = origin;
    timing.Quiet = from.Quiet;
    timing.CharNs = CharacterNs(*channel);
    timing.GapNs = FrameGapNs(*channel);
    timing.NowMonoNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count();
    timing.NowWallMs = QDateTime::currentMSecsSinceEpoch();
    if (origin == 0) {
        timing.StartsFrame = FRecvFrameWhole;
        FRecvFrameWhole = false;
    }
    const std::uint64_t start = FRecvHistory.End() - length;
    const std::uint64_t marksBefore = FRecvFrames.End();
    NoteBlockFrames(FRecvFrames, start, length, timing);
    // Read before the trim, which may merge marks.
    if (FCapture) {
        FCaptureCuts.clear();
        for (std::uint64_t seq = marksBefore; seq < FRecvFrames.End(); ++seq)
            FCaptureCuts.push_back(static_cast<std::size_t>(FRecvFrames.PosAt(seq) - start));
    }
    FRecvFrames.TrimTo(FRecvHistory.Begin());
}

bool TEngine::RecvShowsOrigins() const
{
    if (FRecvRelayFrames)
        return true;
    for (std::size_t i = 0; i < FSession.RelayCount(); ++i) {
        if (FSession.RelayOpen(i))
            return true;
    }
    return false;
}

void TEngine::ClearRecv()
{
    FRecvHistory.Clear();
    FRecvFrames.Clear();
    FRecvRelayFrames = false;
    FOpenFrame.reset();
    FFrameQuiet->stop();
    FBadPositions.clear();
    FRecvTags.Clear();
}

void TEngine::ClearSend()
{
    FSendHistory.Clear();
    FSendFrames.Clear();
}

void TEngine::ResetRecvCounter()
{
    FCounters.RecvBytes = 0;
    FCounters.RecvStart = QDateTime::currentDateTime();
}

void TEngine::ResetSendCounter()
{
    FCounters.SendBytes = 0;
    FCounters.SendPackets = 0;
    FCounters.SendStart = QDateTime::currentDateTime();
}

// --- The log -----------------------------------------------------------------------

TLogNaming TEngine::LogNaming() const
{
    const TGeneralSettings &g = FSettings.General;
    TLogNaming naming;
    if (!FLogPath.empty()) {
        // A fixed path is taken as it stands, percent signs and all.
        naming.Pattern.clear();
        for (const char c : FLogPath)
            naming.Pattern += c == '%' ? std::string("%%") : std::string(1, c);
        return naming;
    }
    naming.Folder = g.LogFolder;
    naming.Pattern = g.LogName;
    naming.Append = g.LogAppend;
    naming.RotateBytes = static_cast<std::uint64_t>(std::max(0, g.LogRotateSize));
    return naming;
}

void TEngine::SetLogToFile(bool on)
{
    if (on && !FLogToFile)
        FLogFiles.Start(LogNaming(), CurrentLocalTime());
    FLogToFile = on;
}

void TEngine::SetLogPath(std::string path)
{
    FLogPath = std::move(path);
    RenameLog();
}

void TEngine::RenameLog()
{
    if (FLogToFile)
        FLogFiles.Start(LogNaming(), CurrentLocalTime());
}

bool TEngine::WriteLog(std::uint8_t direction, const ByteString &bytes)
{
    const TGeneralSettings &g = FSettings.General;
    const TLocalTime now = CurrentLocalTime();
    const TFileResult result = FLogFiles.Append(
        CommLogRecord(now, direction, bytes, static_cast<TDataMode>(g.DataMode), g.EscChar()), now);
    if (result.Ok())
        return true;
    // Off before anyone hears of it: a box's event loop goes on handling data,
    // and no record after a failed one may be attempted.
    FLogToFile = false;
    if (OnLogStopped)
        OnLogStopped("Cannot write the communication log \"" + FLogFiles.Path() +
                     "\": " + result.Error);
    return false;
}

// --- Auto send -----------------------------------------------------------------------

void TEngine::SetAutoSend(bool on)
{
    FAutoSend = on;
    FAutoSendWaiting = false;
    // A period below 1 ms leaves the timer unarmed, so nothing is sent.
    if (on)
        FAutoSendTimer->SetInterval(FSettings.General.AutoSendPeriod);
    FAutoSendTimer->SetEnabled(on);
}

void TEngine::ApplyAutoSendPeriod()
{
    FAutoSendTimer->SetInterval(FSettings.General.AutoSendPeriod);
}

void TEngine::AutoSendTick()
{
    if (!CanSendTyped())
        return;
    // A peer that does not read must not make the queue grow without limit.
    if (FSession.MainQueuedBytes() > SendQueueLimit) {
        if (!FAutoSendWaiting)
            Status("Auto send waits: more than 1 MiB waits for the main channel.");
        FAutoSendWaiting = true;
        return;
    }
    FAutoSendWaiting = false;
    try {
        SendTyped();
    } catch (const std::exception &e) {
        Report(TEngineError::Failure, e.what());
    }
}

} // namespace kestrune
