// Send and receive panes: the send box and its list, the clear buttons, the
// pause boxes and the counters' panes.
#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "app/view/HistoryView.h"
#include "common/LocalDateTime.h"
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
    // Enter sends, and the key still reaches the box. A keyboard's keys go to
    // the combo box, which hands them to its edit directly, past any filter
    // there; keys sent to the edit come back to the box unhandled. So the box
    // hears Enter once whichever way it came.
    HookEvents(cboSend, [this](QEvent *event) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter)
                dialogs::Guarded([this] { btnSendClick(); });
        }
        return false;
    });
    connect(cboSend, &QComboBox::editTextChanged, this, [this](const QString &text) {
        FEngine.General().SendText = text.toUtf8().toStdString();
    });
    connect(edtLeader, &QLineEdit::textChanged, this, [this](const QString &text) {
        FEngine.General().LeaderText = text.toUtf8().toStdString();
    });
    connect(edtTail, &QLineEdit::textChanged, this, [this](const QString &text) {
        FEngine.General().TailText = text.toUtf8().toStdString();
    });
    connect(cboCheck, &QComboBox::currentIndexChanged, this, [this](int index) {
        // -1 while the list is being filled. Only the next typed frame reads it.
        if (index >= 0)
            FEngine.General().Check = static_cast<std::uint8_t>(index);
    });
    // Like the receive view: a redraw still due when the pause begins is done now.
    connect(chkSendPause, &QCheckBox::toggled, this, [this](bool paused) {
        FSendPaused = paused;
        if (paused && FSendViewStale)
            FlushViewRedraw();
    });
    connect(chkRecvPause, &QCheckBox::toggled, this, [this](bool paused) {
        FRecvPaused = paused;
        if (paused && FRecvViewStale)
            FlushViewRedraw();
    });
    HookEvents(stpSend, [this](QEvent *event) {
        if (event->type() == QEvent::MouseButtonDblClick)
            stpSendDblClick();
        return false;
    });
    HookEvents(stpRecv, [this](QEvent *event) {
        if (event->type() == QEvent::MouseButtonDblClick)
            stpRecvDblClick();
        return false;
    });
}

void TfrmMain::btnSendClick()
{
    FEngine.SendTyped();
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

void TfrmMain::ShowSendPane()
{
    const TEngine::TCounters &c = FEngine.Counters();
    stpSend->setText(QString::fromStdString(SendPaneCaption(c.SendBytes, c.SendPackets)));
    stpSend->setToolTip(QString::fromUtf8(
        SendPaneHint(LocalDateTimeText(c.SendStart), c.SendBytes, c.SendPackets)));
}

void TfrmMain::ShowRecvPane()
{
    const TEngine::TCounters &c = FEngine.Counters();
    stpRecv->setText(QString::fromStdString(RecvPaneCaption(c.RecvBytes)));
    stpRecv->setToolTip(
        QString::fromUtf8(RecvPaneHint(LocalDateTimeText(c.RecvStart), c.RecvBytes)));
}

void TfrmMain::btnClearSendClick()
{
    FEngine.ClearSend();
    FSendViewStale = false;
    mmoSend->Clear();
}

void TfrmMain::btnClearRecvClick()
{
    FEngine.ClearRecv();
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
    FEngine.ResetSendCounter();
    stpSend->setText(QString::fromUtf8(SendPaneInitialCaption.data(),
                                       static_cast<qsizetype>(SendPaneInitialCaption.size())));
    stpSend->setToolTip(
        QString::fromUtf8(SendPaneResetHint(LocalDateTimeText(FEngine.Counters().SendStart))));
}

void TfrmMain::stpRecvDblClick()
{
    FEngine.ResetRecvCounter();
    FRecvPaneStale = false;
    stpRecv->setText(QString::fromUtf8(RecvPaneInitialCaption.data(),
                                       static_cast<qsizetype>(RecvPaneInitialCaption.size())));
    stpRecv->setToolTip(
        QString::fromUtf8(RecvPaneResetHint(LocalDateTimeText(FEngine.Counters().RecvStart))));
}

} // namespace kestrune
