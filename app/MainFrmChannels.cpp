// Opening and closing channels: Start/Stop, the window's closed and open states,
// the connection events of the transports, and the serial time-outs dialog.
#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "app/StatusLamp.h"
#include "app/Timer.h"
#include "common/IntText.h"
#include "net/DRSock.h"
#include "serial/COMExpertFrm.h"
#include "serial/Comm.h"
#include "serial/PinHelpFrm.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>

namespace kestrune {

namespace {
constexpr int TabCommunicate = 0;
} // namespace

void TfrmMain::ConnectChannelHandlers()
{
    connect(btnStart, &QPushButton::clicked, this,
            [this] { dialogs::Guarded([this] { btnStartClick(); }); });
    connect(btnCOMExpert, &QPushButton::clicked, this,
            [this] { dialogs::Guarded([this] { btnCOMExpertClick(); }); });
    connect(btnPinHelp, &QPushButton::clicked, this, [this] { btnPinHelpClick(); });
}

void TfrmMain::ApplySerialParams(TChannel &channel)
{
    auto *comm = static_cast<TComm *>(channel.Transport.get());
    std::string port = channel.Port;
    if (!port.empty() && port.back() == '*')
        port.pop_back();
    comm->SetCommName(port);
    comm->SetBaudRate(static_cast<std::uint32_t>(channel.Baudrate));
    comm->SetByteSize(static_cast<TByteSize>(channel.ByteSize));
    comm->SetParity(static_cast<TParity>(channel.ParityBit));
    comm->SetStopBits(static_cast<TStopBits>(channel.StopBits));
    comm->OpenPort();
}

bool TfrmMain::OpenChannel(TChannel &channel, bool open)
{
    if (!open) {
        if (auto *comm = dynamic_cast<TComm *>(channel.Transport.get()))
            comm->ClosePort();
        else if (auto *sock = dynamic_cast<TDRSock *>(channel.Transport.get()))
            sock->StopSocket();
        channel.Transport.reset();
        return true;
    }

    if (channel.Method == cmSerial) {
        auto comm = std::make_unique<TComm>();
        TComm *c = comm.get();
        channel.Transport = std::move(comm);
        c->SetCommName(channel.Port);
        c->SetBaudRate(static_cast<std::uint32_t>(channel.Baudrate));
        c->SetByteSize(static_cast<TByteSize>(channel.ByteSize));
        c->SetParity(static_cast<TParity>(channel.ParityBit));
        c->SetStopBits(static_cast<TStopBits>(channel.StopBits));
        c->SetReadIntervalTimeout(channel.ReadIntervalTimeout);
        c->SetReadTotalTimeoutMultiplier(channel.ReadTimeoutMultiplier);
        c->SetReadTotalTimeoutConstant(channel.ReadTimeoutConstant);
        c->SetWriteTotalTimeoutMultiplier(channel.WriteTimeoutMultiplier);
        c->SetWriteTotalTimeoutConstant(channel.WriteTimeoutConstant);
        c->OnReceiveData = [this](TComm *s, const char *b, std::uint16_t n) {
            COMReceiveData(s, b, n);
        };
        c->OnRequestHangup = [this](TComm *s) { COMRequestHangup(s); };
        c->OnReceiveError = [this](TComm *s, std::uint32_t e) { COMReceiveError(s, e); };
        c->OnModemStateChange = [this](TComm *s, std::uint32_t m) { COMModemStateChange(s, m); };
        if (OnCommCreated)
            OnCommCreated(*c);
        try {
            ApplySerialParams(channel);
        } catch (const ECommsError &e) {
            channel.Transport.reset();
            dialogs::ShowError(this, QStringLiteral("Open serial port failed.\r\nError msg:") +
                                         QString::fromUtf8(e.what()));
            return false;
        }
        return true;
    }

    auto sock = std::make_unique<TDRSock>();
    TDRSock *s = sock.get();
    channel.Transport = std::move(sock);
    s->OnDataArrival = [this](TDRSock *d, const void *b, std::int32_t n) {
        SockReceiveData(d, b, n);
    };
    s->LocalPort = channel.LocalPort;
    s->RemotePort = channel.RemotePort;
    s->RemoteHost = channel.IPAddr;
    s->OnConnected = [this](TDRSock *d) { SockConnected(d); };
    s->OnSocketClose = [this](TDRSock *d) { SockClosed(d); };
    try {
        switch (channel.Method) {
        case cmUDP:
            s->StartUDP();
            break;
        case cmTCPServer:
            s->StartServer();
            break;
        default:
            s->StartClient();
            break;
        }
    } catch (const std::exception &e) {
        channel.Transport.reset();
        dialogs::ShowError(this, QStringLiteral("Network operate error.\r\nError msg:") +
                                     QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

void TfrmMain::CloseAllChannels()
{
    // A running command list ends with its channels, so no step writes to a closed one.
    EndCommandList();
    OpenChannel(FMainChannel, false);
    for (auto &relay : FRelayChannels)
        OpenChannel(*relay, false);
}

void TfrmMain::btnStartClick()
{
    if (tabSetting->currentIndex() != TabCommunicate)
        tabSetting->setCurrentIndex(TabCommunicate);

    const bool opening = shpCommStatus->Color() == LampRed;
    bool ok = false;
    if (opening) {
        SyncChannelUI(FMainChannel, false);
        ok = OpenChannel(FMainChannel, true);
        if (ok) {
            FMainChannel.Transport->Tag = 0;
            for (std::size_t i = 0; i < FRelayChannels.size(); ++i) {
                const QListWidgetItem *item = lstTransmit->item(static_cast<int>(i));
                if (!item || item->checkState() != Qt::Checked)
                    continue;
                ok = OpenChannel(*FRelayChannels[i], true);
                if (!ok)
                    break;
                FRelayChannels[i]->Transport->Tag = 1;
            }
            if (!ok)
                CloseAllChannels();
        } else {
            OpenChannel(FMainChannel, false);
        }
    } else {
        CloseAllChannels();
    }

    if (opening && ok) {
        tabSetting->setEnabled(false);
        FRecvHistory.Clear();
        FSendHistory.Clear();
        FSendStart = QDateTime::currentDateTime();
        FRecvStart = FSendStart;
        btnStart->setText(QStringLiteral("Stop"));
        btnCmdSequ->setEnabled(true);
        if (chkAutoSend->isChecked())
            tmrAutoSend->SetEnabled(true);
        if (FMainChannel.Method == cmTCPServer) {
            shpCommStatus->SetColor(LampGreen);
            stpStatus->setText(QStringLiteral("Listening"));
        } else {
            shpCommStatus->SetColor(LampLime);
            btnSend->setEnabled(true);
        }
        stpMain->setText(QString::fromUtf8(ChannelDescription(FMainChannel)));
        return;
    }

    tabSetting->setEnabled(true);
    shpCommStatus->SetColor(LampRed);
    btnStart->setText(QStringLiteral("Start"));
    btnSend->setEnabled(false);
    btnCmdSequ->setEnabled(false);
    tmrAutoSend->SetEnabled(false);
    stpStatus->clear();
    stpMain->clear();
}

void TfrmMain::COMRequestHangup(TComm *)
{
    btnStartClick();
    dialogs::ShowMessage(this, QStringLiteral("Kestrune"),
                         QStringLiteral("Serial port error, Stop."), dialogs::TMsgIcon::Error);
}

void TfrmMain::SockConnected(TDRSock *)
{
    shpCommStatus->SetColor(LampLime);
    btnSend->setEnabled(true);
    stpStatus->setText(QStringLiteral("Connected"));
}

void TfrmMain::SockClosed(TDRSock *)
{
    if (FMainChannel.Method == cmTCPServer) {
        shpCommStatus->SetColor(LampGreen);
        stpStatus->setText(QStringLiteral("Listening"));
        btnSend->setEnabled(false);
    } else if (FMainChannel.Method == cmTCPClient) {
        btnStartClick();
    }
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
    if (dialog.exec() != QDialog::Accepted)
        return;
    // Converted in order: an entry that is not a number stops here, the ones
    // before it keep their new values.
    for (const auto &[edit, value] : fields)
        *value = static_cast<std::uint32_t>(StrToInt(edit->text().toUtf8().toStdString()));
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
