#pragma once

#include "codec/ByteString.h"
#include "engine/Settings.h"
#include "engine/TransferRequest.h"
#include "exchange/BoundedHistory.h"
#include "exchange/CommandFile.h"
#include "exchange/CommandLine.h"
#include "exchange/FrameIndex.h"
#include "exchange/ReplyMatcher.h"
#include "session/Session.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

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
    // Sends the typed frame when it may go out; true when it went out.
    bool SendTyped();
    // The one way out for every frame: true when the main channel took it. A
    // refused frame is not logged, kept or counted; the status message says why.
    bool Transmit(const ByteString &frame);

    // --- What was exchanged -------------------------------------------------
    [[nodiscard]] const TBoundedHistory &RecvHistory() const { return FRecvHistory; }
    [[nodiscard]] const TBoundedHistory &SendHistory() const { return FSendHistory; }
    [[nodiscard]] const TFrameIndex &RecvFrames() const { return FRecvFrames; }
    [[nodiscard]] const TFrameIndex &SendFrames() const { return FSendFrames; }
    // True once a relay's block is in the receive history or a relay is open.
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
    void SetLogToFile(bool on) { FLogToFile = on; }
    [[nodiscard]] bool LogToFile() const { return FLogToFile; }
    // Test seam and the shell's choice: where the log goes.
    void SetLogPath(std::string path) { FLogPath = std::move(path); }

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
    // A serial line error on the main channel (fromRelay false) or a relay.
    std::function<void(bool fromRelay)> OnLineError;

private:
    void ConnectSession();
    [[nodiscard]] std::unique_ptr<TTransport> OpenTransport(const TChannel &channel);
    void CloseAll();
    void LinkLost(const std::string &message);
    void Received(bool fromRelay, std::string_view block);
    void NoteRecvFrames(std::size_t length);
    // False when the record could not be written; logging is off then.
    bool WriteLog(std::uint8_t direction, const ByteString &bytes);
    void Report(TEngineError kind, const std::string &message);
    void Status(const std::string &text);
    void AutoSendTick();

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
    TCounters FCounters;

    bool FLogToFile = false;
    std::string FLogPath;

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

    // File transfer (EngineTransfer.cpp).
    struct TTransferRun
    {
        std::unique_ptr<TTransferMachine> Machine;
        std::int64_t StartMs = 0;
        std::int64_t LastProgressMs = 0;
        bool Ending = false; // over; its last bytes are still leaving
    };
    void TransferReceived(std::string_view block);
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
