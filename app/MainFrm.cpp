#include "app/MainFrm.h"

#include "app/ChoiceLists.h"
#include "app/Dialogs.h"
#include "app/StatusLamp.h"
#include "app/view/HistoryView.h"
#include "common/AppPaths.h"
#include "net/AddressHelpers.h"
#include "serial/PortList.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

namespace kestrune {

namespace {
constexpr int TabCommunicate = 0;
constexpr int TabTransfer = 1;
// A settings file may claim any number of relay sections; more than this many
// would only stall start-up and fill the memory.
constexpr std::int32_t MaxRelayChannels = 1000;
} // namespace

TfrmMain::TfrmMain(QWidget *parent)
    : QMainWindow(parent),
      // Deferred work of the session (joined writes, retired transports)
      // runs on a later turn of this window's event loop.
      FSession(
          [this](std::function<void()> action) { QTimer::singleShot(0, this, std::move(action)); }),
      FIni(paths::SettingsFilePath())
{
    setObjectName(QStringLiteral("frmMain"));
    BuildWidgets();
    ConnectHandlers();
    dialogs::SetStatusHook([this](const QString &text) { ShowStatusMessage(text); });
    // An error during start-up ends start-up at that step; the window opens with
    // the state built so far.
    dialogs::Guarded([this] { FormCreate(); });
}

TfrmMain::~TfrmMain()
{
    if (!FDestroyed)
        dialogs::Guarded([this] { FormDestroy(); });
    dialogs::SetStatusHook({});
    // Whatever the exit steps did not reach is released here, transports first.
    FSession.CloseAll();
}

void TfrmMain::ConnectHandlers()
{
    for (QRadioButton *rb : {rbSerial, rbUDP, rbTCPServer, rbTCPClient}) {
        connect(rb, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                rbCommMethodClick();
        });
    }
    connect(tabSetting, &QTabBar::currentChanged, this,
            [this] { dialogs::Guarded([this] { tabSettingChange(); }); });
    connect(chkLeaderTail, &QCheckBox::toggled, this, [this] { chkLeaderTailClick(); });
    ConnectChannelHandlers();
    ConnectSendHandlers();
    ConnectReceiveHandlers();
    ConnectRelayHandlers();
    ConnectCommandListHandlers();
    ConnectRefreshHandlers();
    ConnectViewHandlers();
}

void TfrmMain::FormCreate()
{
    // The method buttons, indexed by method, so settings can pick one by number.
    FMethodButtons = {rbSerial, rbUDP, rbTCPServer, rbTCPClient};

    // The network panel shares the parameter group with the serial panel and
    // starts hidden, as serial is the default method.
    grbCommParam->layout()->addWidget(pnlNetSetting);
    pnlNetSetting->hide();

    // Counters, relay list and history limit start from nothing; the settings
    // loaded below may change the limit.
    FRecvBytes = 0;
    FSendBytes = 0;
    FSendPackets = 0;
    FRelayChannels.clear();
    FBufSize = 65536;

    // The address pane, so the user knows which address a peer should use.
    ShowAddressPane();

    // Buttons that need an open channel or the "Transfer" tab start disabled.
    btnTransAdd->setEnabled(tabSetting->currentIndex() == TabTransfer);
    btnSend->setEnabled(false);
    btnCmdSequ->setEnabled(false);

    // The choice lists must be filled before settings can select in them.
    FillSerialLists();

    // The main channel, into the panel.
    LoadChannelSettings("Main", FMainChannel);
    SyncChannelUI(FMainChannel, true);

    // Serial ports; the mark "*" is for display only and never stored.
    cboCOMPort->clear();
    for (const std::string &port : BuildPortList())
        cboCOMPort->addItem(QString::fromUtf8(port));
    if (!FMainChannel.Port.empty() && FMainChannel.Port.back() == '*')
        FMainChannel.Port.pop_back();
    cboCOMPort->setEditText(QString::fromUtf8(FMainChannel.Port));

    // The "Transfer" tab starts from the main channel's settings.
    FTransferChannel = FMainChannel;

    // Relay channels, each with its mark, at most MaxRelayChannels of them
    // whatever the file says.
    const std::int32_t transNum =
        std::clamp<std::int32_t>(FIni.ReadInteger("Other", "TransNum", 0), 0, MaxRelayChannels);
    for (std::int32_t i = 0; i < transNum; ++i) {
        auto relay = std::make_unique<TChannel>();
        const bool enabled = LoadChannelSettings("Trans" + std::to_string(i), *relay);
        auto *item = new QListWidgetItem(QString::fromUtf8(ChannelDescription(*relay)));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(enabled ? Qt::Checked : Qt::Unchecked);
        FRelayChannels.push_back(std::move(relay));
        FSession.AddRelay(enabled);
        lstTransmit->addItem(item);
    }

    // The command-file dialog opens beside the program.
    FOpenDialogFolder = QFileInfo(QString::fromStdString(paths::ExecutablePath())).absolutePath();
    // "*.*" would hide every file without a dot ("cmds", "modbus-poll").
    FOpenDialogFilter = QStringLiteral("Any file (*)");

    // Last, so the general settings see the panel as loaded.
    LoadGeneralSettings();
}

void TfrmMain::ShowAddressPane()
{
    std::string list = "127.0.0.1";
    try {
        list = LocalAddressList();
    } catch (...) {
        // The pane falls back to the loopback address.
    }
    const QString caption = QString::fromUtf8(AddressPaneCaption(list));
    stpIPAddr->setText(caption);
    const int needed = QFontMetrics(font()).horizontalAdvance(caption) + 25;
    if (needed > stpIPAddr->width())
        stpIPAddr->setFixedWidth(needed);
    stpIPAddr->setToolTip(QString::fromUtf8(list));
}

void TfrmMain::FormDestroy()
{
    FDestroyed = true;
    // The panel shows the main channel only on the "Communicate" tab; otherwise
    // the main channel was stored when the tab changed. A number there that does
    // not convert is reported after everything else is saved, and the main
    // section keeps what it had.
    std::exception_ptr panelError;
    if (tabSetting->currentIndex() == TabCommunicate) {
        try {
            SyncChannelUI(FMainChannel, false);
        } catch (const std::exception &) {
            panelError = std::current_exception();
        }
    }

    // Channels: the main one, the number of relays, their marks, then each relay.
    if (!panelError)
        SaveChannelSettings("Main", FMainChannel);
    FIni.WriteInteger("Other", "TransNum", static_cast<std::int32_t>(FRelayChannels.size()));
    for (std::size_t i = 0; i < FRelayChannels.size(); ++i) {
        const QListWidgetItem *item = lstTransmit->item(static_cast<int>(i));
        FIni.WriteBool("Trans" + std::to_string(i), "Enable",
                       item && item->checkState() == Qt::Checked);
    }
    for (std::size_t i = 0; i < FRelayChannels.size(); ++i)
        SaveChannelSettings("Trans" + std::to_string(i), *FRelayChannels[i]);

    // Every transport closes before its record goes.
    FreeRelayChannels();

    // General settings, then the whole file in one write.
    SaveGeneralSettings();
    FIni.UpdateFile();
    if (panelError)
        std::rethrow_exception(panelError);
}

void TfrmMain::FreeRelayChannels()
{
    FSession.CloseAll();
    while (FSession.RelayCount() > 0)
        FSession.RemoveRelay(FSession.RelayCount() - 1);
    FRelayChannels.clear();
}

void TfrmMain::FillSerialLists()
{
    for (const char *t : BaudRateTexts)
        cboBaudrate->addItem(QString::fromLatin1(t));
    for (const char *t : ByteSizeTexts)
        cboByteSize->addItem(QString::fromLatin1(t));
    for (const char *t : ParityTexts)
        cboParityBit->addItem(QString::fromLatin1(t));
    for (const char *t : StopBitsTexts)
        cboStopBits->addItem(QString::fromLatin1(t));
}

void TfrmMain::rbCommMethodClick()
{
    const bool serial = rbSerial->isChecked();
    pnlCOMSetting->setVisible(serial);
    pnlNetSetting->setVisible(!serial);
    if (!serial) {
        edtLocalPort->setEnabled(!rbTCPClient->isChecked());
        edtIPAddr->setEnabled(!rbTCPServer->isChecked());
        edtRemotePort->setEnabled(!rbTCPServer->isChecked());
    }
}

void TfrmMain::tabSettingChange()
{
    if (tabSetting->currentIndex() == TabCommunicate) {
        SyncChannelUI(FTransferChannel, false);
        SyncChannelUI(FMainChannel, true);
    } else {
        SyncChannelUI(FMainChannel, false);
        SyncChannelUI(FTransferChannel, true);
    }
    btnTransAdd->setEnabled(tabSetting->currentIndex() == TabTransfer);
}

void TfrmMain::chkLeaderTailClick()
{
    edtLeader->setEnabled(chkLeaderTail->isChecked());
    edtTail->setEnabled(chkLeaderTail->isChecked());
}

} // namespace kestrune
