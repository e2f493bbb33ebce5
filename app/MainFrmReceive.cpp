// Receive path: every block from every open transport is kept, shown, logged,
// counted, relayed by its origin and fed to the command list's reply wait.
#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "debugchannel/DbugIntf.h"
#include "exchange/CommLog.h"
#include "exchange/StatusTexts.h"
#include "net/DRSock.h"
#include "serial/Comm.h"

#include <QCheckBox>
#include <QEvent>
#include <QLabel>

namespace kestrune {

void TfrmMain::ConnectReceiveHandlers()
{
    HookEvents(stpRecv, [this](QEvent *event) {
        if (event->type() == QEvent::MouseButtonDblClick)
            stpRecvDblClick();
        return false;
    });
    // The view must show the history as it was when the pause began, so a
    // redraw still pending is done now rather than dropped or made later.
    connect(chkRecvPause, &QCheckBox::toggled, this, [this](bool paused) {
        if (paused && FRecvViewStale)
            FlushViewRedraw();
    });
}

void TfrmMain::COMReceiveData(TComm *sender, const char *buffer, std::uint16_t length)
{
    dialogs::Guarded([&] { HandleReceivedData(sender, buffer, length); });
}

void TfrmMain::SockReceiveData(TDRSock *sender, const void *buffer, std::int32_t length)
{
    if (length < 0)
        return;
    dialogs::Guarded([&] {
        HandleReceivedData(sender, static_cast<const char *>(buffer),
                           static_cast<std::size_t>(length));
    });
}

void TfrmMain::HandleReceivedData(TComponent *sender, const char *buffer, std::size_t length)
{
    // Copied, and the origin read, before anything that may run the event loop
    // (an error box), during which the transport and its buffer may go.
    const ByteString block(length ? buffer : "", length);
    const bool fromRelay = sender && sender->Tag != 0;

    FRecvHistory.Append(block, FBufSize);
    ScheduleViewRedraw(false, true);
    // A block whose log record cannot be written goes no further: WriteCommLog
    // has shown why, and the block is not counted, relayed or matched.
    if (chkLogToFile->isChecked() && !WriteCommLog(LogDirRecv, block))
        return;
    FRecvBytes += static_cast<std::int64_t>(length);
    FRecvPaneStale = true;
    ArmViewRedraw();

    RelayBlock(fromRelay, block);
    if (!fromRelay && FWaitingReply && FReplyMatcher.Feed(block))
        ReplyArrived();
}

void TfrmMain::COMReceiveError(TComm *, std::uint32_t)
{
    SendDebugText("COMReceiveError");
}

void TfrmMain::COMModemStateChange(TComm *, std::uint32_t)
{
    SendDebugText("COMModemStateChange");
}

void TfrmMain::stpRecvDblClick()
{
    FRecvBytes = 0;
    FRecvStart = QDateTime::currentDateTime();
    FRecvPaneStale = false;
    stpRecv->setText(QString::fromUtf8(RecvPaneInitialCaption.data(),
                                       static_cast<qsizetype>(RecvPaneInitialCaption.size())));
    stpRecv->setToolTip(
        QString::fromUtf8(RecvPaneResetHint(StartText(FRecvStart).toUtf8().toStdString())));
}

} // namespace kestrune
