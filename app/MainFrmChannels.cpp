// Opening and closing channels: Start/Stop, what the engine reports about the
// links, and the serial time-outs dialog.
#include "app/COMExpertFrm.h"
#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "app/PinHelpFrm.h"
#include "app/StatusLamp.h"
#include "app/WidgetKit.h"
#include "app/view/HistoryView.h"
#include "serial/Comm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTabBar>

namespace kestrune {

namespace {
// Long enough to read, short enough not to linger over later news.
constexpr int StatusMessageMs = 15000;
} // namespace

void TfrmMain::ConnectChannelHandlers()
{
    connect(btnStart, &QPushButton::clicked, this,
            [this] { dialogs::Guarded([this] { btnStartClick(); }); });
    connect(btnCOMExpert, &QPushButton::clicked, this,
            [this] { dialogs::Guarded([this] { btnCOMExpertClick(); }); });
    connect(btnPinHelp, &QPushButton::clicked, this, [this] { btnPinHelpClick(); });
    BuildSerialLines();
}

void TfrmMain::ConnectEngine()
{
    FEngine.OnCommCreated = [](TComm &comm) {
        if (OnCommCreated)
            OnCommCreated(comm);
    };
    FEngine.OnOpenChanged = [this](bool open) { ShowOpen(open); };
    FEngine.OnLinkStateChanged = [this](TLinkState state) { ShowLinkState(state); };
    FEngine.OnError = [this](TEngineError kind, const std::string &message) {
        ShowError(kind, QString::fromUtf8(message));
    };
    FEngine.OnStatusMessage = [this](const std::string &text) {
        ShowStatusMessage(QString::fromUtf8(text));
    };
    FEngine.OnDataAppended = [this](bool send) { ScheduleViewRedraw(send, !send); };
    FEngine.OnCountersChanged = [this](bool send) {
        if (send) {
            ShowSendPane();
        } else {
            FRecvPaneStale = true;
            ArmViewRedraw();
        }
    };
    FEngine.OnListStateChanged = [this](TListState state) { ShowListState(state); };
    FEngine.OnListProgress = [this](const std::string &text) {
        stpMain->setText(QString::fromUtf8(text));
    };
    FEngine.OnTypedSent = [this](const std::string &) { UpdateSendList(); };
    FEngine.OnLogStopped = [this](const std::string &message) { ShowLogStopped(message); };
    FEngine.OnLineError = [this](bool fromRelay) {
        if (!fromRelay)
            ShowSerialLines();
    };

    // The pane for lines that need no box sits after the other panes.
    stpMessage = new TStatusPane(0);
    stpMessage->setObjectName(QStringLiteral("stpMessage"));
    statusBar()->addWidget(stpMessage);
    stpMessage->hide();
}

void TfrmMain::ShowError(TEngineError kind, const QString &message)
{
    switch (kind) {
    case TEngineError::OpenFailed:
        dialogs::ShowError(this, message);
        break;
    case TEngineError::LinkLost:
        dialogs::ShowMessage(this, QStringLiteral("Kestrune"), message, dialogs::TMsgIcon::Error);
        break;
    case TEngineError::Failure:
        dialogs::ShowException(message);
        break;
    }
}

void TfrmMain::btnStartClick()
{
    if (tabSetting->currentIndex() != TabCommunicate) {
        // The switch stores the "Transfer" panel; a number there that does
        // not convert ends the click with one message, on the tab that holds it.
        const QSignalBlocker blocker(tabSetting);
        tabSetting->setCurrentIndex(TabCommunicate);
        try {
            tabSettingChange();
        } catch (...) {
            tabSetting->setCurrentIndex(TabTransfer);
            throw;
        }
    }
    if (FEngine.IsOpen()) {
        FEngine.Stop();
        return;
    }
    SyncChannelUI(FEngine.MainChannel(), false);
    if (!FEngine.Start() && !FEngine.IsOpen())
        ShowOpen(false);
}

void TfrmMain::ShowOpen(bool open)
{
    tabSetting->setEnabled(!open);
    btnCmdSequ->setEnabled(open);
    if (open) {
        btnStart->setText(QStringLiteral("Stop"));
        stpMain->setText(QString::fromUtf8(ChannelDescription(FEngine.Settings().Main)));
        // The histories were cleared before the channels opened.
        mmoSend->Clear();
        mmoRecv->Clear();
        FSendViewStale = FRecvViewStale = false;
        ScheduleViewRedraw(true, true, true);
    } else {
        shpCommStatus->SetColor(LampRed);
        btnStart->setText(QStringLiteral("Start"));
        btnSend->setEnabled(false);
        stpStatus->clear();
        stpStatus->setToolTip(QString());
        stpMain->clear();
    }
    ShowSerialLines();
}

// A server of several clients counts them: "Connected (3)".
QString TfrmMain::ConnectedText() const
{
    const TChannel &main = FEngine.Settings().Main;
    if (main.Method != cmTCPServer || !main.SeveralClients)
        return QStringLiteral("Connected");
    return QStringLiteral("Connected (%1)").arg(FEngine.Session().MainPeerCount());
}

void TfrmMain::ShowLinkState(TLinkState state)
{
    // A running list keeps Send off for its whole run.
    btnSend->setEnabled(FEngine.CanSendTyped());
    switch (state) {
    case TLinkState::Closed:
        shpCommStatus->SetColor(LampRed);
        break;
    case TLinkState::Listening:
        shpCommStatus->SetColor(LampGreen);
        stpStatus->setText(QStringLiteral("Listening"));
        break;
    case TLinkState::Connected:
        shpCommStatus->SetColor(LampLime);
        stpStatus->setText(ConnectedText());
        break;
    case TLinkState::Open:
        shpCommStatus->SetColor(LampLime);
        break;
    case TLinkState::Waiting:
        shpCommStatus->SetColor(LampYellow);
        stpStatus->setText(QStringLiteral("Waiting for ") +
                           QString::fromUtf8(FEngine.Session().MainWaitingFor()));
        break;
    }
}

void TfrmMain::ShowStatusMessage(const QString &text)
{
    stpMessage->setText(text);
    stpMessage->setToolTip(text);
    stpMessage->show();
    if (!FMessageTimer) {
        FMessageTimer = new QTimer(this);
        FMessageTimer->setSingleShot(true);
        connect(FMessageTimer, &QTimer::timeout, stpMessage, &QLabel::hide);
    }
    FMessageTimer->start(StatusMessageMs);
}

void TfrmMain::btnCOMExpertClick()
{
    TChannel &main = FEngine.MainChannel();
    TfrmCOMExpert dialog(this);
    const std::array<std::pair<QLineEdit *, std::uint32_t *>, 5> fields = {{
        {dialog.edtReadIntervalTimeout, &main.ReadIntervalTimeout},
        {dialog.edtReadTimeoutMultiplier, &main.ReadTimeoutMultiplier},
        {dialog.edtReadTimeoutConstant, &main.ReadTimeoutConstant},
        {dialog.edtWriteTimeoutMultiplier, &main.WriteTimeoutMultiplier},
        {dialog.edtWriteTimeoutConstant, &main.WriteTimeoutConstant},
    }};
    for (const auto &[edit, value] : fields)
        edit->setText(QString::number(*value));
    dialog.cboFlowControl->setCurrentIndex(static_cast<int>(main.FlowControl));
    dialog.chkReopenOnReturn->setChecked(main.ReopenOnReturn);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // These cannot fail, so a time-out that does not convert leaves them set.
    main.FlowControl =
        static_cast<TFlowControl>(std::max(0, dialog.cboFlowControl->currentIndex()));
    main.ReopenOnReturn = dialog.chkReopenOnReturn->isChecked();
    // Read back in the range they are shown in. Converted in order: an entry
    // that is not a number stops here, the ones before it keep their new values.
    dialog.ReadTimeouts(
        {fields[0].second, fields[1].second, fields[2].second, fields[3].second, fields[4].second});
}

void TfrmMain::btnPinHelpClick()
{
    if (FPinHelp) {
        FPinHelp->exec();
        return;
    }
    TfrmPinHelp pinHelp(this);
    pinHelp.exec();
}

} // namespace kestrune
