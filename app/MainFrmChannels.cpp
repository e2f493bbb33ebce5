// Opening and closing channels: Start/Stop, the window's closed and open states,
// what the main link's state shows, and the serial time-outs dialog.
#include "app/ChannelTransports.h"
#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "app/StatusLamp.h"
#include "app/Timer.h"
#include "debugchannel/DbugIntf.h"
#include "serial/COMExpertFrm.h"
#include "serial/Comm.h"
#include "serial/PinHelpFrm.h"

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
constexpr int TabCommunicate = 0;
constexpr int TabTransfer = 1;
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
    ConnectSession();
    BuildSerialLines();
}

void TfrmMain::ConnectSession()
{
    FSession.OnData = [this](bool fromRelay, std::string_view block) {
        dialogs::Guarded([&] { HandleReceivedData(fromRelay, block); });
    };
    FSession.OnMainStateChanged = [this](TLinkState state) { ShowLinkState(state); };
    FSession.OnStopped = [this](const std::string &message) { ChannelsLost(message); };
    FSession.OnWarning = [this](const std::string &message) {
        ShowStatusMessage(QString::fromUtf8(message));
    };
    FSession.OnMainDrained = [this] {
        if (FWaitingDrain) {
            FWaitingDrain = false;
            dialogs::Guarded([this] { RunCommandListStep(); });
        }
    };
    FSession.OnLineError = [this](bool fromRelay, std::uint32_t errors) {
        COMReceiveError(errors);
        if (!fromRelay)
            ShowSerialLines();
    };
    FSession.OnModemChange = [this](bool, std::uint32_t modemEvent) {
        COMModemStateChange(modemEvent);
    };

    // The pane for lines that need no box sits after the other panes.
    stpMessage = new QLabel(this);
    stpMessage->setObjectName(QStringLiteral("stpMessage"));
    statusBar()->addWidget(stpMessage);
    stpMessage->hide();
}

std::unique_ptr<TTransport> TfrmMain::OpenTransport(const TChannel &channel)
{
    try {
        return OpenChannelTransport(channel, OnCommCreated);
    } catch (const ECommsError &e) {
        dialogs::ShowError(this, QStringLiteral("Open serial port failed.\r\nError msg:") +
                                     QString::fromUtf8(e.what()));
    } catch (const std::exception &e) {
        dialogs::ShowError(this, QStringLiteral("Network operate error.\r\nError msg:") +
                                     QString::fromUtf8(e.what()));
    }
    return nullptr;
}

void TfrmMain::CloseAllChannels()
{
    // A running command list ends with its channels, so no step writes to a closed one.
    EndCommandList();
    FSession.CloseAll();
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

    if (FSession.IsOpen()) {
        CloseAllChannels();
        ShowChannelsClosed();
        return;
    }

    SyncChannelUI(FMainChannel, false);
    auto main = OpenTransport(FMainChannel);
    if (!main) {
        ShowChannelsClosed();
        return;
    }
    FSession.OpenMain(std::move(main));
    for (std::size_t i = 0; i < FRelayChannels.size(); ++i) {
        if (!FSession.RelayChecked(i))
            continue;
        auto relay = OpenTransport(*FRelayChannels[i]);
        // A TCP client's connect runs the event loop: the main link may have
        // been lost meanwhile, and then this run is over.
        if (!FSession.IsOpen())
            return;
        if (!relay) {
            CloseAllChannels();
            ShowChannelsClosed();
            return;
        }
        FSession.OpenRelay(i, std::move(relay));
    }
    ShowChannelsOpened();
}

void TfrmMain::ShowChannelsOpened()
{
    tabSetting->setEnabled(false);
    FRecvHistory.Clear();
    FSendHistory.Clear();
    FRecvFrames.Clear();
    FSendFrames.Clear();
    FSendStart = QDateTime::currentDateTime();
    FRecvStart = FSendStart;
    btnStart->setText(QStringLiteral("Stop"));
    btnCmdSequ->setEnabled(true);
    if (chkAutoSend->isChecked())
        tmrAutoSend->SetEnabled(true);
    ShowLinkState(FSession.MainState());
    stpMain->setText(QString::fromUtf8(ChannelDescription(FMainChannel)));
    ShowSerialLines();
}

void TfrmMain::ShowChannelsClosed()
{
    tabSetting->setEnabled(true);
    shpCommStatus->SetColor(LampRed);
    btnStart->setText(QStringLiteral("Start"));
    btnSend->setEnabled(false);
    btnCmdSequ->setEnabled(false);
    tmrAutoSend->SetEnabled(false);
    stpStatus->clear();
    stpStatus->setToolTip(QString());
    stpMain->clear();
    ShowSerialLines();
}

void TfrmMain::ShowLinkState(TLinkState state)
{
    // A running list keeps Send off for its whole run.
    const bool canSend = state == TLinkState::Open || state == TLinkState::Connected;
    btnSend->setEnabled(canSend && !FListRunning);
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
        stpStatus->setText(QStringLiteral("Connected"));
        break;
    case TLinkState::Open:
        shpCommStatus->SetColor(LampLime);
        break;
    case TLinkState::Waiting:
        shpCommStatus->SetColor(LampYellow);
        stpStatus->setText(QStringLiteral("Waiting for ") +
                           QString::fromUtf8(FSession.MainWaitingFor()));
        break;
    }
}

void TfrmMain::ChannelsLost(const std::string &message)
{
    if (!FSession.IsOpen())
        return;
    CloseAllChannels();
    ShowChannelsClosed();
    if (!message.empty())
        dialogs::ShowMessage(this, QStringLiteral("Kestrune"), QString::fromUtf8(message),
                             dialogs::TMsgIcon::Error);
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

void TfrmMain::COMReceiveError(std::uint32_t)
{
    SendDebugText("COMReceiveError");
}

void TfrmMain::COMModemStateChange(std::uint32_t)
{
    SendDebugText("COMModemStateChange");
}

void TfrmMain::btnCOMExpertClick()
{
    TfrmCOMExpert dialog(this);
    const std::array<std::pair<QLineEdit *, std::uint32_t *>, 5> fields = {{
        {dialog.edtReadIntervalTimeout, &FMainChannel.ReadIntervalTimeout},
        {dialog.edtReadTimeoutMultiplier, &FMainChannel.ReadTimeoutMultiplier},
        {dialog.edtReadTimeoutConstant, &FMainChannel.ReadTimeoutConstant},
        {dialog.edtWriteTimeoutMultiplier, &FMainChannel.WriteTimeoutMultiplier},
        {dialog.edtWriteTimeoutConstant, &FMainChannel.WriteTimeoutConstant},
    }};
    for (const auto &[edit, value] : fields)
        edit->setText(QString::number(*value));
    dialog.cboFlowControl->setCurrentIndex(static_cast<int>(FMainChannel.FlowControl));
    dialog.chkReopenOnReturn->setChecked(FMainChannel.ReopenOnReturn);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // These cannot fail, so a time-out that does not convert leaves them set.
    FMainChannel.FlowControl =
        static_cast<TFlowControl>(std::max(0, dialog.cboFlowControl->currentIndex()));
    FMainChannel.ReopenOnReturn = dialog.chkReopenOnReturn->isChecked();
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
