// Receive path: every block from every open transport is kept, shown, logged,
// counted, relayed by its origin and fed to the command list's reply wait.
#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "exchange/CommLog.h"
#include "exchange/StatusTexts.h"

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

void TfrmMain::HandleReceivedData(bool fromRelay, std::string_view block)
{
    FRecvHistory.Append(block, FBufSize);
    NoteRecvFrames(block.size());
    ScheduleViewRedraw(false, true);
    // A block whose log record cannot be written goes no further: the failure
    // has been reported, and the block is not counted, relayed or matched.
    if (chkLogToFile->isChecked() && !WriteCommLog(LogDirRecv, ByteString(block)))
        return;
    FRecvBytes += static_cast<std::int64_t>(block.size());
    FRecvPaneStale = true;
    ArmViewRedraw();

    FSession.Route(fromRelay, block);
    if (!fromRelay && FWaitingReply && FReplyMatcher.Feed(block))
        ReplyArrived();
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
