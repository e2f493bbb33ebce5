#pragma once

#include "app/Channel.h"
#include "codec/ByteString.h"
#include "common/IniFile.h"

#include <QDateTime>
#include <QMainWindow>
#include <array>
#include <memory>
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

class THistoryView;
class TStatusLamp;

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
    void ShowAddressPane();
    bool eventFilter(QObject *watched, QEvent *event) override;

    // Widgets, by panel.
    QLabel *stpMain = nullptr;
    QLabel *stpStatus = nullptr;
    QLabel *stpRecv = nullptr;
    QLabel *stpSend = nullptr;
    QLabel *stpIPAddr = nullptr;

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
    QTimer *tmrAutoSend = nullptr;
    QTimer *tmrCmdSequ = nullptr;

    // Window state.
    std::int32_t FBufSize = 65536;
    ByteString FRecvHistory;
    ByteString FSendHistory;
    std::int32_t FRecvBytes = 0;
    std::int32_t FSendBytes = 0;
    std::int32_t FSendPackets = 0;
    std::uint8_t FDataMode = 2;
    char FEscChar = '{';
    std::uint8_t FCheck = 0;
    TChannel FMainChannel;
    TChannel FTransferChannel;
    std::vector<std::unique_ptr<TChannel>> FRelayChannels;
    std::array<QRadioButton *, 4> FMethodButtons{};
    QDateTime FSendStart;
    QDateTime FRecvStart;

    QString FOpenDialogFolder;
    QString FOpenDialogFilter;
    TIniFile FIni;
    bool FDestroyed = false;
};

} // namespace kestrune
