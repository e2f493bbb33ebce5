#pragma once

#include "common/IniFile.h"
#include "engine/Engine.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <array>
#include <functional>

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
class TAnswerRulesBar;
class TfrmPinHelp;
class THistoryView;
class TSerialLinesPane;
class TQuickSendBar;
class TStatusLamp;
class TNetworkOptionsPane;

// The main window: it builds the widgets, forwards what the user does to the
// engine and draws what the engine reports. Constructing it runs the start-up
// (FormCreate); destroying it runs the exit steps (FormDestroy), which save
// every setting.
class TfrmMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    [[nodiscard]] TEngine &Engine() { return FEngine; }
    [[nodiscard]] const TEngine &Engine() const { return FEngine; }

    // Start-up and exit.
    void FormCreate();
    void FormDestroy();
    void FillSerialLists();
    // Channel record to and from the settings panel; reading throws on a
    // number field that holds no number.
    void SyncChannelUI(TChannel &channel, bool toPanel);
    // The panel's values into the channel record it shows: the main channel on
    // the "Communicate" tab, the relay template on the "Transfer" tab.
    void CommitPanel();

    // Panel handlers needed from start-up on.
    void rbCommMethodClick();
    void tabSettingChange();
    void chkLeaderTailClick();

    // Opening and closing channels (MainFrmChannels.cpp).
    void btnStartClick();
    // Lamp, stpStatus and Send follow the main link's state.
    void ShowLinkState(TLinkState state);
    [[nodiscard]] QString ConnectedText() const;
    // A line for the status bar that needs no box (a refused frame, a failed log).
    void ShowStatusMessage(const QString &text);
    void btnCOMExpertClick();
    void btnPinHelpClick();

    // Serial lines (MainFrmSerialLines.cpp): the status-bar pane of a serial
    // main channel and a port that went away and came back.
    void ShowSerialLines();
    // Test seam: called with every serial transport before it opens, so a test
    // can stand in for device calls a pty cannot make.
    static inline std::function<void(TComm &)> OnCommCreated;
    // The hidden pin help window created at program start; created on demand otherwise.
    void SetPinHelpWindow(TfrmPinHelp *window) { FPinHelp = window; }

    // Send path (MainFrmSend.cpp).
    void btnSendClick();
    void UpdateSendList();
    void btnClearSendClick();
    void btnClearRecvClick();
    void btnClearAllClick();
    void stpSendDblClick();
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

    // Relay list (MainFrmRelay.cpp).
    void btnTransAddClick();
    void btnTransDelClick();
    void SetAllRelayMarks(const std::function<bool(bool)> &mark);

    // Auto send and command list (MainFrmCommandList.cpp).
    void btnCmdSequClick();

    // History size and representation (MainFrmRefresh.cpp).
    void edtBufSizeExit();
    void cboDataModeChange();
    void cboEscCharChange();

    [[nodiscard]] const TChannel &TransferChannel() const { return FTransferChannel; }

private:
    // The pages of tabSetting.
    static constexpr int TabCommunicate = 0;
    static constexpr int TabTransfer = 1;

    void BuildWidgets();
    QWidget *BuildSettingsColumn();
    QWidget *BuildDataArea();
    void BuildStatusBar();
    void ConnectHandlers();
    void ConnectChannelHandlers();
    void ConnectSendHandlers();
    void ConnectRelayHandlers();
    void ConnectCommandListHandlers();
    void ConnectRefreshHandlers();
    void ConnectEngine();
    void ShowOpen(bool open);
    void ShowError(TEngineError kind, const QString &message);
    void ShowListState(TListState state);
    void ShowLogStopped(const std::string &message);
    void EditLogFile();
    void ShowRelayList();
    void ShowGeneralSettings();
    // The views' Save As and messages go through the dialog seam.
    void ConnectViewHandlers();
    // The capture box and the views' CSV export (MainFrmCapture.cpp).
    void ConnectCaptureHandlers();
    void ShowCaptureSettings();
    void chkCaptureClick(bool on);
    void ShowCaptureStopped(const QString &message);
    void ExportFramesCsv(bool send);
    void ShowAddressPane();
    void BuildSerialLines();
    void PortWaiting(bool fromRelay, const std::string &port);
    void PortReturned(bool fromRelay, const std::string &port);
    void ShowDroppedBytes(std::uint64_t total);
    void ShowRecvPane();
    void ShowSendPane();
    // Answer rules and received checks (MainFrmAnswers.cpp).
    QWidget *BuildAnswerRules();
    void AddJudgedPanes();
    void ShowAnswerSettings();

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
    TNetworkOptionsPane *pnlNetOptions = nullptr;
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
    QCheckBox *chkCapture = nullptr;
    QPushButton *btnClearSend = nullptr;
    QPushButton *btnClearRecv = nullptr;
    QPushButton *btnClearAll = nullptr;
    QPushButton *btnCmdSequ = nullptr;
    QLabel *Label1 = nullptr;
    TfrmPinHelp *FPinHelp = nullptr;
    TAnswerRulesBar *FAnswerBar = nullptr;

    void ArmViewRedraw();

    // Everything but the drawing.
    TEngine FEngine;
    // What the "Transfer" tab's panel shows: the template of the next relay.
    TChannel FTransferChannel;
    std::array<QRadioButton *, 4> FMethodButtons{};
    bool FRecvPaused = false;
    bool FSendPaused = false;
    QTimer *FRedrawTimer = nullptr;
    QElapsedTimer FLastRedraw;
    bool FSendViewStale = false;
    bool FRecvViewStale = false;
    bool FRecvPaneStale = false;
    QTimer *FMessageTimer = nullptr;

    QString FOpenDialogFolder;
    QString FOpenDialogFilter;
    TIniFile FIni;
    bool FDestroyed = false;

    // Text and keyboard (MainFrmText.cpp): the encoding, the quick-send
    // buttons, the shortcuts, the Hex-mode hint and the window's place.
public:
    QComboBox *cboEncoding = nullptr;
    TQuickSendBar *pnlQuickSend = nullptr;
    void SendQuick(int index);

private:
    void BuildTextParts();
    void ConnectTextHandlers();
    void ShowTextSettings();
    void KeepWindowPlace();
    void cboEncodingChange();
    void ShowHexHint();
    void KeepHeightOnMethodSwitch(int before);
    int FHeightBeforeGrow = 0;
};

} // namespace kestrune
