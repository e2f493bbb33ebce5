// Coalesced redraw of the send and receive views and of the receive pane: a
// burst of blocks marks them stale and costs one redraw on a later turn of the
// event loop instead of one per block. A view reads its history itself, so a
// redraw costs what arrived since the last one, not the history's size.
#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "app/view/HistoryView.h"
#include "common/LocalDateTime.h"
#include "exchange/StatusTexts.h"

#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QTimer>

#include <algorithm>

namespace kestrune {

namespace {

// Fast enough to look live, slow enough that a flood of 2 KiB blocks does not
// spend its time formatting 64 KiB histories.
constexpr qint64 RedrawIntervalMs = 30;

class TEventHook : public QObject
{
public:
    TEventHook(QObject *parent, std::function<bool(QEvent *)> handler)
        : QObject(parent), FHandler(std::move(handler))
    {
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override { return FHandler(event); }

private:
    std::function<bool(QEvent *)> FHandler;
};

} // namespace

void TfrmMain::HookEvents(QObject *target, std::function<bool(QEvent *)> handler)
{
    target->installEventFilter(new TEventHook(target, std::move(handler)));
}

void TfrmMain::ConnectViewHandlers()
{
    for (THistoryView *view : {mmoRecv, mmoSend}) {
        view->SetAskFileName([this] {
            return dialogs::GetSaveFileName(this, QString(),
                                            QStringLiteral("Text files (*.txt);;All files (*)"));
        });
        view->SetReport([this](const QString &text, bool error) {
            if (error)
                dialogs::ShowError(this, text);
            else
                dialogs::ShowMessage(this, QStringLiteral("Kestrune"), text,
                                     dialogs::TMsgIcon::Information);
        });
    }
}

void TfrmMain::ScheduleViewRedraw(bool send, bool recv, bool ignorePause)
{
    if (send && (ignorePause || !chkSendPause->isChecked()))
        FSendViewStale = true;
    if (recv && (ignorePause || !chkRecvPause->isChecked()))
        FRecvViewStale = true;
    ArmViewRedraw();
}

void TfrmMain::ArmViewRedraw()
{
    if (!FSendViewStale && !FRecvViewStale && !FRecvPaneStale)
        return;
    if (!FRedrawTimer) {
        FRedrawTimer = new QTimer(this);
        FRedrawTimer->setSingleShot(true);
        connect(FRedrawTimer, &QTimer::timeout, this, [this] { FlushViewRedraw(); });
    }
    if (FRedrawTimer->isActive())
        return;
    const qint64 since = FLastRedraw.isValid() ? FLastRedraw.elapsed() : RedrawIntervalMs;
    FRedrawTimer->start(static_cast<int>(std::max<qint64>(0, RedrawIntervalMs - since)));
}

void TfrmMain::FlushViewRedraw()
{
    if (FRedrawTimer)
        FRedrawTimer->stop();
    const auto mode = static_cast<TDataMode>(FDataMode);
    if (FSendViewStale) {
        FSendViewStale = false;
        mmoSend->ShowHistory(FSendHistory, mode, FEscChar);
        mmoSend->ScrollToEnd();
    }
    if (FRecvViewStale) {
        FRecvViewStale = false;
        mmoRecv->ShowHistory(FRecvHistory, mode, FEscChar);
        mmoRecv->ScrollToEnd();
    }
    if (FRecvPaneStale) {
        FRecvPaneStale = false;
        ShowRecvPane();
    }
    FLastRedraw.start();
}

void TfrmMain::ShowRecvPane()
{
    stpRecv->setText(QString::fromStdString(RecvPaneCaption(FRecvBytes)));
    stpRecv->setToolTip(
        QString::fromUtf8(RecvPaneHint(StartText(FRecvStart).toUtf8().toStdString(), FRecvBytes)));
}

QString TfrmMain::StartText(const QDateTime &start) const
{
    // The same local time, without the zone's name, as the connection log.
    return QString::fromUtf8(LocalDateTimeText(start));
}

} // namespace kestrune
