// Coalesced redraw of the send and receive views and of the receive pane: a
// burst of blocks marks them stale and costs one redraw on a later turn of the
// event loop instead of one per block. A view reads its history itself, so a
// redraw costs what arrived since the last one, not the history's size.
#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "app/view/HistoryView.h"

#include <QCheckBox>
#include <QLabel>
#include <QTimer>

#include <algorithm>

namespace kestrune {

namespace {

// Fast enough to look live, slow enough that a flood of 2 KiB blocks does not
// spend its time formatting 64 KiB histories.
constexpr qint64 RedrawIntervalMs = 30;

} // namespace

void TfrmMain::ConnectViewHandlers()
{
    for (THistoryView *view : {mmoRecv, mmoSend}) {
        view->SetAskFileName([this] {
            return dialogs::GetSaveFileName(this, QString(),
                                            QStringLiteral("Text files (*.txt);;All files (*)"));
        });
        const bool send = view == mmoSend;
        connect(view, &THistoryView::showFramesToggled, this,
                [this, send](bool shown) { SetShowFrames(send, shown); });
        connect(view, &THistoryView::frameGapChosen, this,
                [this](int gapMs) { SetFrameGapMs(gapMs); });
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
    if (send && (ignorePause || !FSendPaused))
        FSendViewStale = true;
    if (recv && (ignorePause || !FRecvPaused))
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
    const TGeneralSettings &g = FEngine.General();
    const auto mode = static_cast<TDataMode>(g.DataMode);
    if (FSendViewStale) {
        FSendViewStale = false;
        mmoSend->ShowHistory(FEngine.SendHistory(), mode, g.EscChar(),
                             g.ShowSendFrames ? &FEngine.SendFrames() : nullptr);
        mmoSend->ScrollToEnd();
    }
    if (FRecvViewStale) {
        FRecvViewStale = false;
        // The origin column appears once a relay, or one of several clients,
        // has spoken, or a relay is open.
        mmoRecv->SetOriginColumn(FEngine.RecvShowsOrigins());
        mmoRecv->SetBadFrames(g.VerifyChecks ? &FEngine.BadFramePositions() : nullptr);
        mmoRecv->SetOriginTags(&FEngine.RecvOriginTags());
        mmoRecv->ShowHistory(FEngine.RecvHistory(), mode, g.EscChar(),
                             g.ShowRecvFrames ? &FEngine.RecvFrames() : nullptr);
        mmoRecv->ScrollToEnd();
    }
    if (FRecvPaneStale) {
        FRecvPaneStale = false;
        ShowRecvPane();
    }
    FLastRedraw.start();
}

void TfrmMain::SetShowFrames(bool send, bool shown)
{
    TGeneralSettings &g = FEngine.General();
    (send ? g.ShowSendFrames : g.ShowRecvFrames) = shown;
    mmoSend->SetFrameChoices(g.ShowSendFrames, 0);
    mmoRecv->SetFrameChoices(g.ShowRecvFrames, g.FrameGap);
    // A way of showing the same bytes: redrawn now, even while paused, as a
    // change of representation is.
    ScheduleViewRedraw(send, !send, true);
    FlushViewRedraw();
}

void TfrmMain::SetFrameGapMs(int gapMs)
{
    // Applies to bytes from now on: the frames already noted stay as they are.
    TGeneralSettings &g = FEngine.General();
    g.FrameGap = std::clamp(gapMs, 1, 60'000);
    mmoRecv->SetFrameChoices(g.ShowRecvFrames, g.FrameGap);
}

} // namespace kestrune
