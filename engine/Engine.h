#pragma once

#include "capture/PcapngBlocks.h"
#include "codec/ByteString.h"
#include "codec/DataMode.h"
#include "engine/Settings.h"
#include "engine/TransferRequest.h"
#include "exchange/AnswerRules.h"
#include "exchange/BoundedHistory.h"
#include "exchange/CommandFile.h"
#include "exchange/CommandLine.h"
#include "exchange/FrameIndex.h"
#include "exchange/LogFiles.h"
#include "exchange/OriginTags.h"
#include "exchange/ReplyMatcher.h"
#include "session/Session.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

class TCaptureFile;
class TComm;
class TTimer;

// Where a running command list is.
enum class TListState : std::uint8_t
{
    Idle,
    Sending,      // running its lines
    WaitingReply, // for a reply line's bytes, or its time-out
    Pausing,      // for a delay line's time
    WaitingDrain, // for the main channel's queue to fall below the limit
    Cancelling    // ending: file closed, waits dropped
};

// How a failure should reach the user.
enum class TEngineError : std::uint8_t
{
    OpenFailed, // a channel did not open; nothing stays open
    LinkLost,   // a link was lost for good and every channel closed
    Failure     // an action failed (a bad command file line, a failed log)
};

// Everything a channel does for the user, for one window or one headless run:
// the settings, the live links and the relay list, the histories with their
// frame indexes, the counters, the communication log, the command list, auto
// send. It reports by events and never reads a widget.
class TEngine
{
public:
    // Timers and deferred work live on `context` (the window in the program,
    // so tests can find the timers by name); without one the engine has its own.
    explicit TEngine(QObject *context = nullptr);
    TEngine(const TEngine &) = delete;
    TEngine &operator=(const TEngine &) = delete;
    ~TEngine();

    // --- Settings --------------------------------------------------------
    [[nodiscard]] const TSettings &Settings() const { return FSettings; }
    // Takes a whole settings value (the file's): the relay list follows it.
    // Only while the channels are closed.
    void SetSettings(TSettings settings);
    // Values without side effects, edited as the user edits them.
    [[nodiscard]] TChannel &MainChannel() { return FSettings.Main; }
    [[nodiscard]] TGeneralSettings &General() { return FSettings.General; }
    // A history size as typed; false (and nothing changes) when it is no size.
    // The histories are cut to the new limit at their next append.
    bool SetBufSizeText(const std::string &text);

    // --- Relay list --------------------------------------------------------
    [[nodiscard]] const std::vector<TRelayEntry> &Relays() const { return FSettings.Relays; }
    void AddRelay(const TChannel &channel, bool checked = true);
    // Closes and removes the relays at the given indexes.
    void RemoveRelays(std::vector<std::size_t> indexes);
    // A mark changed while open takes effect with the next block.
    void SetRelayChecked(std::size_t index, bool checked);
    [[nodiscard]] bool RelayOpen(std::size_t index) const { return FSession.RelayOpen(index); }

    // --- Channels ----------------------------------------------------------
    // Opens the main channel and every checked relay. False when one did not
    // open (OnError said why) or the main link was lost meanwhile; nothing
    // stays open then.
    bool Start();
    // Closes every channel; a running command list ends with them.
    void Stop();
    [[nodiscard]] bool IsOpen() const { return FSession.IsOpen(); }
    [[nodiscard]] TLinkState LinkState() const { return FSession.MainState(); }
    [[nodiscard]] TSession &Session() { return FSession; }
    [[nodiscard]] const TSession &Session() const { return FSession; }
    // Test seam: sees every serial component before it opens.
    std::function<void(TComm &)> OnCommCreated;
    // Test seam: opens the transports in place of the real ones; throwing
    // std::exception is a channel that does not open.
    using TTransportFactory = std::function<std::unique_ptr<TTransport>(const TChannel &)>;
    void SetTransportFactory(TTransportFactory factory) { FTransportFactory = std::move(factory); }

    // --- Sending -----------------------------------------------------------
    // True while the typed frame may go out: the main link has a peer and no
    // command list runs.
    [[nodiscard]] bool CanSendTyped() const;
    // The typed data as the Send button frames it: data and check, wrapped in
    // lead and tail when they are on. Throws on data that does not parse.
    [[nodiscard]] ByteString TypedFrame() const;
    // Data framed as the Send button frames it: the check, then lead and tail.
    [[nodiscard]] ByteString SendFrame(ByteString data) const;
    // Sends the typed frame when it may go out; true when it went out.
    bool SendTyped();
    // Data typed in a mode, framed as the Send button frames it: in the
    // chosen encoding, with check, lead and tail as set.
    [[nodiscard]] ByteString FrameOf(const std::string &data, TDataMode dataMode) const;
    // Sends the frame of quick-send button `index` as the Send button would.
    bool SendQuick(std::size_t index);
    // The one way out for every frame: true when the main channel took it. A
    // refused frame is not logged, kept or counted; the status message says why.
    bool Transmit(const ByteString &frame);

    // --- What was exchanged -------------------------------------------------
    [[nodiscard]] const TBoundedHistory &RecvHistory() const { return FRecvHistory; }
    [[nodiscard]] const TBoundedHistory &SendHistory() const { return FSendHistory; }
    [[nodiscard]] const TFrameIndex &RecvFrames() const { return FRecvFrames; }
    [[nodiscard]] const TFrameIndex &SendFrames() const { return FSendFrames; }
    // The clients of a main TCP server of several clients, as origins of
    // received frames.
    [[nodiscard]] const TOriginTags &RecvOriginTags() const { return FRecvTags; }
    // True once a relay's block (or a tagged client's) is in the receive
    // history, or a relay is open.
    [[nodiscard]] bool RecvShowsOrigins() const;
    void ClearRecv();
    void ClearSend();

    struct TCounters
    {
        std::int64_t RecvBytes = 0;
        std::int64_t SendBytes = 0;
        std::int64_t SendPackets = 0;
        QDateTime RecvStart;
        QDateTime SendStart;
    };
    [[nodiscard]] const TCounters &Counters() const { return FCounters; }
    void ResetRecvCounter();
    void ResetSendCounter();

    // --- The communication log ---------------------------------------------
    // Turned on, logging names its file from the settings' log keys at that
    // moment (LogNaming), or takes the path set with SetLogPath.
    void SetLogToFile(bool on);
    [[nodiscard]] bool LogToFile() const { return FLogToFile; }
    // Test seam: one fixed file in place of the settings' naming; empty
    // gives the naming back.
    void SetLogPath(std::string path);
    // The log's naming in the settings changed: a running log goes on in
    // the file they name now.
    void RenameLog();
    // The file records go to now (after the last rotation).
    [[nodiscard]] const std::string &LogPath() const { return FLogFiles.Path(); }
    // The settings' log folder, name pattern, append mode and rotation size.
    [[nodiscard]] TLogNaming LogNaming() const;

    // --- Capture -------------------------------------------------------------
    // Writes every block of the main channel and the relays, both ways, to a
    // pcapng file at `path` (created, or emptied), from now on; an empty path
    // ends the capture. Empty when it started, otherwise why it could not.
    std::string SetCapture(const std::string &path);
    [[nodiscard]] bool Capturing() const;

    // --- Auto send ----------------------------------------------------------
    void SetAutoSend(bool on);
    [[nodiscard]] bool AutoSend() const { return FAutoSend; }
    // Applies General().AutoSendPeriod to a running auto send.
    void ApplyAutoSendPeriod();

    // --- Command list -------------------------------------------------------
    // Starts the list in `path`; the reason when the file cannot be opened.
    // An empty file ends at once.
    std::optional<std::string> StartList(const std::string &path);
    void CancelList();
    [[nodiscard]] TListState ListState() const { return FListState; }
    [[nodiscard]] bool ListRunning() const { return FListState != TListState::Idle; }

    // --- Answer rules and received checks ------------------------------------
    // Frames the main channel receives, cut as the framed view cuts them, are
    // judged once complete: by the chosen check when General().VerifyChecks,
    // then answered by the first rule that matches when General().AnswerRules.

    // Reads the rules in `path` and answers by them from now on (the path and
    // the switch go into the general settings). The reason when the file cannot
    // be read; nothing changes then.
    std::optional<std::string> SetAnswerRules(const std::string &path);
    // Answering on or off; the chosen file stays. Turning it on reads the
    // file again, and says why when that fails.
    std::optional<std::string> SetAnswering(bool on);
    void SetVerifyChecks(bool on);
    [[nodiscard]] const TAnswerRules &AnswerRules() const { return FAnswerRules; }
    // Frames answered and frames that failed their check, since the last reset.
    [[nodiscard]] std::uint64_t AnsweredFrames() const { return FAnsweredFrames; }
    [[nodiscard]] std::uint64_t BadFrames() const { return FBadFrames; }
    void ResetJudgedCounts();
    // Where the frames that failed their check begin in the receive history,
    // ascending; those whose bytes are gone are dropped.
    [[nodiscard]] const std::deque<std::uint64_t> &BadFramePositions() const
    {
        return FBadPositions;
    }
    // A frame was answered or found bad.
    std::function<void()> OnFramesJudged;
    // --- File transfer --------------------------------------------------------
    // Starts a transfer on the main channel; the reason when it cannot start.
    // While it runs the channel's bytes are the transfer's: auto send and the
    // typed send wait, no list starts, relays neither get nor give main
    // channel bytes, and answer rules must check TransferRunning().
    std::optional<std::string> StartTransfer(const TTransferRequest &request);
    // Cancels on both sides (the peer is told, as its protocol allows).
    void CancelTransfer();
    [[nodiscard]] bool TransferRunning() const;
    std::function<void(const TTransferProgress &progress)> OnTransferProgress;
    // Raised once per transfer, after its last bytes have left.
    std::function<void(TTransferEnd end, const std::string &message)> OnTransferEnded;

    // A send line or auto send waits while more than this waits for the main
    // channel, so a peer that does not read cannot make the queue grow without limit.
    static constexpr std::size_t SendQueueLimit = 1024 * 1024;

    // --- Events ------------------------------------------------------------
    // A history grew (send true: the send history).
    std::function<void(bool send)> OnDataAppended;
    std::function<void(bool send)> OnCountersChanged;
    std::function<void(TLinkState state)> OnLinkStateChanged;
    // The channels opened (true) or closed (false).
    std::function<void(bool open)> OnOpenChanged;
    std::function<void(TListState state)> OnListStateChanged;
    // What the list is doing, for the main pane ("Wait 500ms.", "Ready").
    std::function<void(const std::string &text)> OnListProgress;
    // A reply line's time ran out before its bytes came; the list goes on.
    // `line` counts from 1; `data` is the line's data text as written.
    std::function<void(std::size_t line, const std::string &data, std::int32_t ms)> OnReplyMissed;
    // A line that needs no box.
    std::function<void(const std::string &text)> OnStatusMessage;
    std::function<void(TEngineError kind, const std::string &message)> OnError;
    // The typed text went into a frame (the window keeps a list of them).
    std::function<void(const std::string &text)> OnTypedSent;
    // The log could not be written: logging is off now; the message says why.
    std::function<void(const std::string &message)> OnLogStopped;
    // The capture could not be written and has ended; the message says why.
    // Raised on a later turn of the event loop, never from inside a write.
    std::function<void(const std::string &message)> OnCaptureStopped;
    // A serial line error on the main channel (fromRelay false) or a relay.
    std::function<void(bool fromRelay)> OnLineError;

private:
    void ConnectSession();
    [[nodiscard]] std::unique_ptr<TTransport> OpenTransport(const TChannel &channel);
    void CloseAll();
    void LinkLost(const std::string &message);
    void Received(bool fromRelay, std::string_view block);
    // Data with its check, then lead and tail, as the Send button frames it;
    // characters the encoding lacks are added to `missing` and said.
    [[nodiscard]] ByteString FramedWith(ByteString data, std::string &missing) const;
    void NoteRecvFrames(std::size_t length);
    // The silence that ends a frame on `channel`.
    [[nodiscard]] std::int64_t FrameGapNs(const TChannel &channel) const;
    // Capture (EngineCapture.cpp). Channel -1 is the main channel, else a relay.
    void CaptureReceived(int channel, std::string_view block);
    void CapturePacket(int channel, TPacketDir dir, std::string_view bytes);
    void CaptureFailed(const std::string &reason);
    // False when the record could not be written; logging is off then.
    bool WriteLog(std::uint8_t direction, const ByteString &bytes);
    void Report(TEngineError kind, const std::string &message);
    void Status(const std::string &text);
    void AutoSendTick();

    // Answer rules and received checks (EngineAnswers.cpp).
    [[nodiscard]] bool Judging() const;
    void JudgeReceived(bool fromRelay, std::uint64_t start, std::size_t length);
    void JudgeOpenFrame();
    [[nodiscard]] bool OpenFrameVerified() const;
    // The main channel's last frame was judged whole before its gap: the
    // next bytes begin a frame.
    bool FRecvFrameWhole = false;
    void Judge(std::uint64_t from, std::uint64_t to);
    void SendAnswer(const TAnswerRule &rule);
    // At Start: the chosen file again, so edits between runs count.
    void ReloadAnswerRules();
    void DropOpenFrame();
    [[nodiscard]] int FrameQuietMs() const;

    // Command list steps (EngineCommandList.cpp).
    void SetListState(TListState state);
    void RunListSteps();
    void RunListLines();
    void ListWaitOver();
    void ListTimeUp();
    void EndList();
    void LinkChangedForList();
    void ListProgress(const std::string &text);

    TTransportFactory FTransportFactory;
    std::unique_ptr<QObject> FOwnContext;
    QObject *FContext;
    TSettings FSettings;
    TSession FSession;

    TBoundedHistory FRecvHistory;
    TBoundedHistory FSendHistory;
    TFrameIndex FRecvFrames;
    TFrameIndex FSendFrames;
    bool FRecvRelayFrames = false; // a relay's block has been noted since the last clear
    TOriginTags FRecvTags;
    TCounters FCounters;
    // The main channel's last received byte and when it came: a receiver's
    // start request that came before the transfer began.
    char FLastMainByte = 0;
    std::int64_t FLastMainByteMs = -1;

    bool FLogToFile = false;
    std::string FLogPath;
    TLogFiles FLogFiles;

    std::unique_ptr<TCaptureFile> FCapture;
    bool FCaptureFlushQueued = false;
    // Where the frames of the block being received begin, for the capture.
    std::vector<std::size_t> FCaptureCuts;

    TTimer *FAutoSendTimer = nullptr;
    bool FAutoSend = false;
    bool FAutoSendWaiting = false; // said once per wait

    TListState FListState = TListState::Idle;
    TTimer *FListTimer = nullptr;
    // The rest of a long run of lines, on a later turn of the event loop.
    QTimer *FListContinue = nullptr;
    TReplyMatcher FReplyMatcher;
    TCommandLine FReplyLine; // the reply line waited for
    std::size_t FReplyLineNumber = 0;
    TCommandFileReader FCmdFile;

    TAnswerRules FAnswerRules;
    // Where the main channel's frame still being received began, once judging is on.
    std::optional<std::uint64_t> FOpenFrame;
    // Ends the open frame when the line has been quiet for the frame gap.
    QTimer *FFrameQuiet = nullptr;
    // Parent of the timers of delayed answers, so that Stop drops them.
    std::unique_ptr<QObject> FPendingAnswers;
    std::uint64_t FAnsweredFrames = 0;
    std::uint64_t FBadFrames = 0;
    std::deque<std::uint64_t> FBadPositions;
    // File transfer (EngineTransfer.cpp).
    struct TTransferRun
    {
        std::unique_ptr<TTransferMachine> Machine;
        std::int64_t StartMs = 0;
        std::int64_t LastProgressMs = 0;
        bool Ending = false; // over; its last bytes are still leaving
    };
    void TransferReceived(std::string_view block);
    void NoteLastMainByte(char byte);
    void TransferTimeUp();
    void TransferDrained();
    void TransferStep();
    void TransferProgress(bool force);
    void TransferLinkChanged();
    void TransferClosing();
    void EndTransfer();
    void FailTransfer(const std::string &message, TTransferEnd end);
    std::unique_ptr<TTransferRun> FTransfer;
    QTimer *FTransferTimer = nullptr;

    // Context of deferred work; goes first, so nothing deferred outlives the engine.
    QObject FLife;
};

} // namespace kestrune
