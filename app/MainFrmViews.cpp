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
#include <chrono>

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
        mmoSend->ShowHistory(FSendHistory, mode, FEscChar,
                             FShowSendFrames ? &FSendFrames : nullptr);
        mmoSend->ScrollToEnd();
    }
    if (FRecvViewStale) {
        FRecvViewStale = false;
        // The origin column appears once a relay has spoken or is open.
        const bool relays = FSession.RelayCount() > 0 && [this] {
            for (std::size_t i = 0; i < FSession.RelayCount(); ++i)
                if (FSession.RelayOpen(i))
                    return true;
            return false;
        }();
        mmoRecv->SetOriginColumn(relays || FRecvRelayFrames);
        mmoRecv->ShowHistory(FRecvHistory, mode, FEscChar,
                             FShowRecvFrames ? &FRecvFrames : nullptr);
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
    (send ? FShowSendFrames : FShowRecvFrames) = shown;
    mmoSend->SetFrameChoices(FShowSendFrames, 0);
    mmoRecv->SetFrameChoices(FShowRecvFrames, FFrameGapMs);
    // A way of showing the same bytes: redrawn now, even while paused, as a
    // change of representation is.
    ScheduleViewRedraw(send, !send, true);
    FlushViewRedraw();
}

void TfrmMain::SetFrameGapMs(int gapMs)
{
    // Applies to bytes from now on: the frames already noted stay as they are.
    FFrameGapMs = std::clamp(gapMs, 1, 60'000);
    mmoRecv->SetFrameChoices(FShowRecvFrames, FFrameGapMs);
}

namespace {

// One character on the line in nanoseconds: start bit, data bits, parity and
// stop bits at the channel's rate.
std::int64_t CharacterNs(const TChannel &channel)
{
    if (channel.Method != cmSerial || channel.Baudrate <= 0)
        return 0;
    const double stop = channel.StopBits == 0 ? 1 : channel.StopBits == 1 ? 1.5 : 2;
    const double bits = 1 + 5 + channel.ByteSize + (channel.ParityBit != 0 ? 1 : 0) + stop;
    return static_cast<std::int64_t>(bits * 1e9 / channel.Baudrate);
}

} // namespace

void TfrmMain::NoteRecvFrames(std::size_t length)
{
    const TSession::TDelivery &from = FSession.Delivering();
    const auto origin = static_cast<std::uint16_t>(from.Relay < 0 ? 0 : from.Relay + 1);
    if (origin != 0)
        FRecvRelayFrames = true;
    const TChannel *channel = &FMainChannel;
    if (from.Relay >= 0 && static_cast<std::size_t>(from.Relay) < FRelayChannels.size())
        channel = FRelayChannels[static_cast<std::size_t>(from.Relay)].get();
    TBlockTiming timing;
    timing.Origin = origin;
    timing.Quiet = from.Quiet;
    timing.CharNs = CharacterNs(*channel);
    // Modbus RTU's rule: at least 3.5 characters of silence part two frames.
    timing.GapNs =
        std::max<std::int64_t>(std::int64_t(FFrameGapMs) * 1'000'000, timing.CharNs * 7 / 2);
    timing.NowMonoNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count();
    timing.NowWallMs = QDateTime::currentMSecsSinceEpoch();
    NoteBlockFrames(FRecvFrames, FRecvHistory.End() - length, length, timing);
    FRecvFrames.TrimTo(FRecvHistory.Begin());
}

void TfrmMain::NoteSendFrame(std::size_t length)
{
    if (length > 0)
        FSendFrames.Add({FSendHistory.End() - length, QDateTime::currentMSecsSinceEpoch(), 0});
    FSendFrames.TrimTo(FSendHistory.Begin());
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
