// Send path: the send box, frames with check, lead and tail, the one transmit
// operation every frame passes through, the clear buttons and the send counters.
#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "app/view/HistoryView.h"
#include "codec/Checks.h"
#include "codec/Parse.h"
#include "exchange/CommLog.h"
#include "exchange/StatusTexts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kestrune {

void TfrmMain::ConnectSendHandlers()
{
    connect(btnSend, &QPushButton::clicked, this,
            [this] { dialogs::Guarded([this] { btnSendClick(); }); });
    connect(btnClearSend, &QPushButton::clicked, this, [this] { btnClearSendClick(); });
    connect(btnClearRecv, &QPushButton::clicked, this, [this] { btnClearRecvClick(); });
    connect(btnClearAll, &QPushButton::clicked, this, [this] { btnClearAllClick(); });
    // Enter sends, and the key still reaches the combo box.
    HookEvents(cboSend->lineEdit(), [this](QEvent *event) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter)
                dialogs::Guarded([this] { btnSendClick(); });
        }
        return false;
    });
    // Like the receive view: a redraw still due when the pause begins is done now.
    connect(chkSendPause, &QCheckBox::toggled, this, [this](bool paused) {
        if (paused && FSendViewStale)
            FlushViewRedraw();
    });
    HookEvents(stpSend, [this](QEvent *event) {
        if (event->type() == QEvent::MouseButtonDblClick)
            stpSendDblClick();
        return false;
    });
}

void TfrmMain::btnSendClick()
{
    if (!btnSend->isEnabled())
        return;
    UpdateSendList();
    const auto mode = static_cast<TDataMode>(FDataMode);
    const auto parse = [&](const QString &text) {
        return ParseData(text.toUtf8().toStdString(), mode, FEscChar);
    };
    // The check covers the typed data alone, never lead or tail.
    ByteString frame = parse(cboSend->currentText());
    AppendCheck(frame, static_cast<TCheckKind>(FCheck));
    if (chkLeaderTail->isChecked())
        frame = parse(edtLeader->text()) + frame + parse(edtTail->text());
    TransmitData(frame);
}

void TfrmMain::UpdateSendList()
{
    const QString text = cboSend->currentText();
    // Exact but case-blind, like the classic combo box search.
    int found = cboSend->findText(text, Qt::MatchFixedString);
    if (found < 0) {
        cboSend->addItem(QString());
        found = cboSend->count() - 1;
    }
    for (int j = found; j >= 1; --j)
        cboSend->setItemText(j, cboSend->itemText(j - 1));
    cboSend->setItemText(0, text);
    cboSend->setEditText(text);
}

bool TfrmMain::TransmitData(const ByteString &frame)
{
    // A command list can outlive its channel.
    if (!FSession.IsOpen())
        return false;
    const TWriteResult sent = FSession.SendToMain(frame);
    if (!sent.Ok) {
        // In the status bar, not a box: an auto send every 10 ms would bury
        // the user in boxes.
        ShowStatusMessage(QString::fromUtf8(sent.Error));
        return false;
    }
    // The frame is out: a log that fails now turns logging off and says so,
    // but the frame is still kept and counted.
    if (chkLogToFile->isChecked())
        WriteCommLog(LogDirSend, frame);
    FSendHistory.Append(frame, FBufSize);
    NoteSendFrame(frame.size());
    ScheduleViewRedraw(true, false);
    FSendBytes += static_cast<std::int64_t>(frame.size());
    ++FSendPackets;
    stpSend->setText(QString::fromStdString(SendPaneCaption(FSendBytes, FSendPackets)));
    stpSend->setToolTip(QString::fromUtf8(
        SendPaneHint(StartText(FSendStart).toUtf8().toStdString(), FSendBytes, FSendPackets)));
    return true;
}

void TfrmMain::btnClearSendClick()
{
    FSendHistory.Clear();
    FSendFrames.Clear();
    FSendViewStale = false;
    mmoSend->Clear();
}

void TfrmMain::btnClearRecvClick()
{
    FRecvHistory.Clear();
    FRecvFrames.Clear();
    FRecvRelayFrames = false;
    FRecvViewStale = false;
    mmoRecv->Clear();
}

void TfrmMain::btnClearAllClick()
{
    btnClearSendClick();
    btnClearRecvClick();
}

void TfrmMain::stpSendDblClick()
{
    FSendBytes = 0;
    FSendPackets = 0;
    FSendStart = QDateTime::currentDateTime();
    stpSend->setText(QString::fromUtf8(SendPaneInitialCaption.data(),
                                       static_cast<qsizetype>(SendPaneInitialCaption.size())));
    stpSend->setToolTip(
        QString::fromUtf8(SendPaneResetHint(StartText(FSendStart).toUtf8().toStdString())));
}

} // namespace kestrune
