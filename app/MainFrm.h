#pragma once

#include "app/Channel.h"
#include "codec/ByteString.h"
#include "common/IniFile.h"
#include "exchange/BoundedHistory.h"
#include "exchange/CommandFile.h"
#include "exchange/FrameIndex.h"
#include "exchange/ReplyMatcher.h"
#include "session/Session.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QSplitter;
class QTabBar;
class QTimer;
class QWidget;

namespace kestrune {

class TComm;
class TfrmPinHelp;
class THistoryView;
class TSerialLinesPane;
class TStatusLamp;
class TTimer;

// The main window: settings panel, relay list, receive and send views, send box
// and status bar. Constructing it runs the start-up (FormCreate); destroying it
// runs the exit steps (FormDestroy), which save every setting.
class TfrmMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    // Start-up and exit.
    void FormCreate();
    void FormDestroy();
    void FillSerialLists();
    void FreeRelayChannels();

    // Channel record and settings file.
    bool LoadChannelSettings(const std::string &section, TChannel &channel);
    void SaveChannelSettings(const std::string &section, const TChannel &channel);
    void LoadGeneralSettings();
    void SaveGeneralSettings();
    void SyncChannelUI(TChannel &channel, bool toPanel);

    // Panel handlers needed from start-up on.
    void rbCommMethodClick();
    void tabSettingChange();
    void chkLeaderTailClick();

    // Opening and closing channels (MainFrmChannels.cpp).
    // Opens the transport a channel's settings describe; on failure shows why
    // and returns nothing.
    [[nodiscard]] std::unique_ptr<TTransport> OpenTransport(const TChannel &channel);
    void CloseAllChannels();
    void btnStartClick();
    // A link was lost for good: everything closes, and `message`, if any, is shown.
    void ChannelsLost(const std::string &message);
    // Lamp, stpStatus and Send follow the main link's state.
    void ShowLinkState(TLinkState state);
    // A line for the status bar that needs no box (a refused frame, a failed log).
    void ShowStatusMessage(const QString &text);
    [[nodiscard]] bool MainChannelOpen() const { return FSession.IsOpen(); }
    [[nodiscard]] bool RelayChannelOpen(std::size_t index) const
    {
        return FSession.RelayOpen(index);
    }
    [[nodiscard]] const TSession &Session() const { return FSession; }
    void btnCOMExpertClick();
    void btnPinHelpClick();

    // Serial lines (MainFrmSerialLines.cpp): the status-bar pane of a serial
    // main channel, a port that went away and came back, the channel's serial
    // keys in the settings file.
    void LoadSerialLineSettings(const std::string &section, TChannel &channel);
    void SaveSerialLineSettings(const std::string &section, const TChannel &channel);
    // Shows the pane while the main channel is an open serial port, hides it otherwise.
    void ShowSerialLines();
    // Test seam: called with every serial transport before it opens, so a test
    // can stand in for device calls a pty cannot make.
    static inline std::function<void(TComm &)> OnCommCreated;
    // The hidden pin help window created at program start; created on demand otherwise.
    void SetPinHelpWindow(TfrmPinHelp *window) { FPinHelp = window; }

    // Send path (MainFrmSend.cpp).
    void btnSendClick();
    void UpdateSendList();
    // True when the frame went out; a refused frame is not logged, kept or
    // counted, and the status bar says why.
    bool TransmitData(const ByteString &frame);
    void btnClearSendClick();
    void btnClearRecvClick();
    void btnClearAllClick();
    void stpSendDblClick();

    // Receive path and relaying (MainFrmReceive.cpp).
    void HandleReceivedData(bool fromRelay, std::string_view block);
    void COMReceiveError(std::uint32_t errors);
    void COMModemStateChange(std::uint32_t modemEvent);
    void stpRecvDblClick();

    // Coalesced view redraw (MainFrmViews.cpp).
    // Marks a view stale; it is brought up to its history on a later turn of
    // the event loop, so a burst of blocks costs one redraw. ignorePause
    // redraws even while the view's pause box is checked (mode changes).
    void ScheduleViewRedraw(bool send, bool recv, bool ignorePause = false);
    // Redraws the stale views now; tests and mode changes may call it directly.
    void FlushViewRedraw();
    // Frames shown in the views, and the silence that ends a serial frame.
    void SetShowFrames(bool send, bool shown);
    void SetFrameGapMs(int gapMs);
    [[nodiscard]] int FrameGapMs() const { return FFrameGapMs; }
    [[nodiscard]] const TFrameIndex &RecvFrames() const { return FRecvFrames; }
    [[nodiscard]] const TFrameIndex &SendFrames() const { return FSendFrames; }

    // Relay list (MainFrmRelay.cpp).
    void btnTransAddClick();
    void btnTransDelClick();
    void pmiTransCheckClick();
    void pmiTransUncheckClick();
    void pmiTransInvertClick();

    // Auto send and command list (MainFrmCommandList.cpp).
    void chkAutoSendClick();
    void edtSendPeriodExit();
    void tmrAutoSendTimer();
    void btnCmdSequClick();
    void RunCommandListStep();
    void tmrCmdSequTimer();
    // Ends a running command list as Cancel does (file closed, timer and reply
    // wait off, Send enabled again); does nothing when no list runs. Every close
    // of all channels calls it, so no later step writes to a closed channel.
    void EndCommandList();
    // The receive path calls this when FReplyMatcher has found the expected
    // reply in a main-channel block: the list goes on with its next step.
    void ReplyArrived();
    [[nodiscard]] bool CommandListRunning() const { return FListRunning; }
    // True while Send may be enabled: the main channel is open and has a peer.
    [[nodiscard]] bool MainChannelCanSend() const { return FSession.MainCanSend(); }

    // Communication log, history size and view refresh (MainFrmRefresh.cpp).
    // Returns false when the record could not be written. The first failure is
    // shown once and turns logging off, so a flood cannot stack error boxes.
    bool WriteCommLog(int direction, const ByteString &data);
    void edtBufSizeExit();
    void cboDataModeChange();
    void cboEscCharChange();
    void cboCheckChange();

    [[nodiscard]] const TChannel &MainChannel() const { return FMainChannel; }
    [[nodiscard]] const TChannel &TransferChannel() const { return FTransferChannel; }
    [[nodiscard]] const std::vector<std::unique_ptr<TChannel>> &RelayChannels() const
    {
        return FRelayChannels;
    }
    [[nodiscard]] std::int32_t BufSize() const { return FBufSize; }

private:
    void BuildWidgets();
    QWidget *BuildSettingsColumn();
    QWidget *BuildDataArea();
    void BuildStatusBar();
    void ConnectHandlers();
    void ConnectChannelHandlers();
    void ConnectSendHandlers();
    void ConnectReceiveHandlers();
    void ConnectRelayHandlers();
    void ConnectCommandListHandlers();
    void ConnectRefreshHandlers();
    void ConnectSession();
    void ShowChannelsClosed();
    void ShowChannelsOpened();
    // The views' Save As and messages go through the dialog seam.
    void ConnectViewHandlers();
    void ShowAddressPane();
    void BuildSerialLines();
    void PortWaiting(bool fromRelay, const std::string &port);
    void PortReturned(bool fromRelay, const std::string &port);
    void ShowDroppedBytes(std::uint64_t total);

    // Widgets, by panel.
    QLabel *stpMain = nullptr;
    QLabel *stpStatus = nullptr;
    QLabel *stpRecv = nullptr;
    QLabel *stpSend = nullptr;
    QLabel *stpIPAddr = nullptr;
    QLabel *stpMessage = nullptr;               // after the panes: lines that need no box
    TSerialLinesPane *pnlSerialLines = nullptr; // at the end: a serial main channel's lines

    QWidget *pnlSetting = nullptr;
    QTabBar *tabSetting = nullptr;
    QWidget *pnlCommMethod = nullptr;
    QRadioButton *rbSerial = nullptr;
    QRadioButton *rbUDP = nullptr;
    QRadioButton *rbTCPServer = nullptr;
    QRadioButton *rbTCPClient = nullptr;
    QGroupBox *grbCommParam = nullptr;
    QWidget *pnlCOMSetting = nullptr;
    QComboBox *cboCOMPort = nullptr;
    QComboBox *cboBaudrate = nullptr;
    QComboBox *cboByteSize = nullptr;
    QComboBox *cboParityBit = nullptr;
    QComboBox *cboStopBits = nullptr;
    QPushButton *btnPinHelp = nullptr;
    QPushButton *btnCOMExpert = nullptr;
    QWidget *pnlNetSetting = nullptr;
    QSpinBox *edtLocalPort = nullptr;
    QLineEdit *edtIPAddr = nullptr;
    QSpinBox *edtRemotePort = nullptr;
    QWidget *pnlSet = nullptr;
    QLineEdit *edtBufSize = nullptr;
    QComboBox *cboDataMode = nullptr;
    QComboBox *cboEscChar = nullptr;
    QComboBox *cboCheck = nullptr;
    TStatusLamp *shpCommStatus = nullptr;
    QPushButton *btnStart = nullptr;
    QGroupBox *grbTransmit = nullptr;
    QListWidget *lstTransmit = nullptr;
    QPushButton *btnTransAdd = nullptr;
    QPushButton *btnTransDel = nullptr;
    QMenu *pmTransmit = nullptr;

    QSplitter *RzSplitter1 = nullptr;
    QWidget *pnlRecv = nullptr;
    QCheckBox *chkRecvPause = nullptr;
    THistoryView *mmoRecv = nullptr;
    QWidget *pnlSend = nullptr;
    QCheckBox *chkSendPause = nullptr;
    THistoryView *mmoSend = nullptr;
    QWidget *pnlCommand = nullptr;
    QLineEdit *edtLeader = nullptr;
    QLineEdit *edtTail = nullptr;
    QCheckBox *chkLeaderTail = nullptr;
    QComboBox *cboSend = nullptr;
    QPushButton *btnSend = nullptr;
    QCheckBox *chkAutoSend = nullptr;
    QSpinBox *edtSendPeriod = nullptr;
    QCheckBox *chkLogToFile = nullptr;
    QPushButton *btnClearSend = nullptr;
    QPushButton *btnClearRecv = nullptr;
    QPushButton *btnClearAll = nullptr;
    QPushButton *btnCmdSequ = nullptr;
    QLabel *Label1 = nullptr;
    TTimer *tmrAutoSend = nullptr;
    TTimer *tmrCmdSequ = nullptr;
    TfrmPinHelp *FPinHelp = nullptr;

    // Window state.
    std::int32_t FBufSize = 65536;
    TBoundedHistory FRecvHistory;
    TBoundedHistory FSendHistory;
    // 64 bits: 32-bit counters would turn negative after 2 GiB of traffic.
    std::int64_t FRecvBytes = 0;
    std::int64_t FSendBytes = 0;
    std::int64_t FSendPackets = 0;
    std::uint8_t FDataMode = 2;
    char FEscChar = '{';
    std::uint8_t FCheck = 0;
    TChannel FMainChannel;
    TChannel FTransferChannel;
    std::vector<std::unique_ptr<TChannel>> FRelayChannels;
    std::array<QRadioButton *, 4> FMethodButtons{};
    QDateTime FSendStart;
    QDateTime FRecvStart;

    // Command list.
    bool FListRunning = false;
    bool FWaitingReply = false;
    // A send line waits here while the main channel's queue is over the mark.
    bool FWaitingDrain = false;
    // Tells a step scheduled for a later turn which run it belongs to.
    std::uint64_t FListRun = 0;
    TReplyMatcher FReplyMatcher; // stands in for the reply buffer and the expected reply
    TCommandFileReader FCmdFile;

    // Runs `handler` for every event `target` receives; true swallows the event.
    void HookEvents(QObject *target, std::function<bool(QEvent *)> handler);
    void ArmViewRedraw();
    // Notes the frames of a block just appended to the receive history.
    void NoteRecvFrames(std::size_t length);
    void NoteSendFrame(std::size_t length);
    void ShowRecvPane();
    [[nodiscard]] QString StartText(const QDateTime &start) const;
    QTimer *FRedrawTimer = nullptr;
    QElapsedTimer FLastRedraw;
    bool FSendViewStale = false;
    bool FRecvViewStale = false;
    bool FRecvPaneStale = false;
    // Where frames begin in the histories, trimmed with them.
    TFrameIndex FRecvFrames;
    TFrameIndex FSendFrames;
    bool FShowRecvFrames = false;
    bool FShowSendFrames = false;
    int FFrameGapMs = 5;
    bool FRecvRelayFrames = false; // a relay's block has been noted since the last clear
    // The live channels: transports, the main link's state, relay routing.
    TSession FSession;
    QTimer *FMessageTimer = nullptr;

    QString FOpenDialogFolder;
    QString FOpenDialogFilter;
    TIniFile FIni;
    bool FDestroyed = false;
};

} // namespace kestrune
