#include "app/MainFrm.h"
#include "app/NetworkOptionsPane.h"

#include "app/Dialogs.h"
#include "app/StatusLamp.h"
#include "app/view/HistoryView.h"
#include "common/AppPaths.h"
#include "engine/ChoiceLists.h"
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

TfrmMain::TfrmMain(QWidget *parent)
    : QMainWindow(parent), FEngine(this), FIni(paths::SettingsFilePath())
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
    FEngine.Stop();
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
    ConnectEngine();
    ConnectChannelHandlers();
    ConnectSendHandlers();
    ConnectRelayHandlers();
    ConnectCommandListHandlers();
    ConnectRefreshHandlers();
    ConnectViewHandlers();
    ConnectCaptureHandlers();
    ConnectTextHandlers();
}

void TfrmMain::FormCreate()
{
    // The method buttons, indexed by method, so settings can pick one by number.
    FMethodButtons = {rbSerial, rbUDP, rbTCPServer, rbTCPClient};

    // The network panel shares the parameter group with the serial panel and
    // starts hidden, as serial is the default method.
    grbCommParam->layout()->addWidget(pnlNetSetting);
    pnlNetSetting->hide();

    // The address pane, so the user knows which address a peer should use.
    ShowAddressPane();

    // Buttons that need an open channel or the "Transfer" tab start disabled.
    btnTransAdd->setEnabled(tabSetting->currentIndex() == TabTransfer);
    btnSend->setEnabled(false);
    btnCmdSequ->setEnabled(false);

    // The choice lists must be filled before settings can select in them.
    FillSerialLists();

    FEngine.SetSettings(LoadSettings(FIni));
    // Said once; such a file is never written over (see TIniFile).
    if (!FIni.ReadError().empty())
        dialogs::ShowError(this, QString::fromStdString(FIni.ReadError()));
    TChannel &main = FEngine.MainChannel();
    SyncChannelUI(main, true);
    // Serial ports; the mark "*" is for display only and never stored.
    cboCOMPort->clear();
    for (const std::string &port : BuildPortList())
        cboCOMPort->addItem(QString::fromUtf8(port));
    cboCOMPort->setEditText(QString::fromUtf8(main.Port));

    // The "Transfer" tab starts from the main channel's settings.
    FTransferChannel = main;
    ShowRelayList();

    // The command-file dialog opens beside the program.
    FOpenDialogFolder = QFileInfo(QString::fromStdString(paths::ExecutablePath())).absolutePath();
    // "*.*" would hide every file without a dot ("cmds", "modbus-poll").
    FOpenDialogFilter = QStringLiteral("Any file (*)");

    // Last, so the general settings see the panel as loaded.
    ShowGeneralSettings();
    ShowCaptureSettings();
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
    // A number in the panel that does not convert is reported after everything
    // else is saved, and the main section keeps what it had.
    std::exception_ptr panelError;
    if (tabSetting->currentIndex() == TabCommunicate) {
        try {
            SyncChannelUI(FEngine.MainChannel(), false);
        } catch (const std::exception &) {
            panelError = std::current_exception();
        }
    }
    KeepWindowPlace();
    // Every transport closes before the file is written.
    FEngine.Stop();
    SaveSettings(FIni, FEngine.Settings(), !panelError);
    FIni.UpdateFile();
    if (panelError)
        std::rethrow_exception(panelError);
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
    // The panel that goes is hidden first: for a moment with both shown the
    // window would grow for both, and keep that height.
    (serial ? pnlNetSetting : pnlCOMSetting)->hide();
    (serial ? pnlCOMSetting : pnlNetSetting)->show();
    if (!serial) {
        edtLocalPort->setEnabled(!rbTCPClient->isChecked());
        edtIPAddr->setEnabled(!rbTCPServer->isChecked());
        edtRemotePort->setEnabled(!rbTCPServer->isChecked());
        pnlNetOptions->ShowMethod(rbUDP->isChecked()         ? cmUDP
                                  : rbTCPServer->isChecked() ? cmTCPServer
                                                             : cmTCPClient);
    }
}

void TfrmMain::CommitPanel()
{
    SyncChannelUI(tabSetting->currentIndex() == TabCommunicate ? FEngine.MainChannel()
                                                               : FTransferChannel,
                  false);
}

void TfrmMain::tabSettingChange()
{
    if (tabSetting->currentIndex() == TabCommunicate) {
        SyncChannelUI(FTransferChannel, false);
        SyncChannelUI(FEngine.MainChannel(), true);
    } else {
        SyncChannelUI(FEngine.MainChannel(), false);
        SyncChannelUI(FTransferChannel, true);
    }
    btnTransAdd->setEnabled(tabSetting->currentIndex() == TabTransfer);
}

void TfrmMain::chkLeaderTailClick()
{
    FEngine.General().LeaderTailEnable = chkLeaderTail->isChecked();
    edtLeader->setEnabled(chkLeaderTail->isChecked());
    edtTail->setEnabled(chkLeaderTail->isChecked());
}

} // namespace kestrune
