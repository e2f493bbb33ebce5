// Relay list: its editing commands, the writes that forward blocks between the
// main channel and the relay channels, and the back-pressure that keeps a slow
// destination from losing what a fast source sends.
#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "net/DRSock.h"
#include "serial/Comm.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace kestrune {

namespace {

// Above this many queued bytes a destination stops its sources; below the low
// mark they read again. The gap keeps a destination from toggling per block.
constexpr std::size_t RelayHighWater = 1024 * 1024;
constexpr std::size_t RelayLowWater = 256 * 1024;
// A serial write request carries a 16-bit length.
constexpr std::size_t MaxSerialRequest = 65535;
// Resumes sources whose destination drains without a drained event (a queue
// that sinks below the low mark but not to empty).
constexpr int FlowCheckMs = 10;

std::size_t QueuedOf(const TComponent *transport)
{
    if (const auto *comm = dynamic_cast<const TComm *>(transport))
        return comm->QueuedBytes();
    if (const auto *sock = dynamic_cast<const TDRSock *>(transport))
        return sock->QueuedBytes();
    return 0;
}

void PauseOf(TComponent *transport, bool paused)
{
    if (auto *comm = dynamic_cast<TComm *>(transport))
        comm->PauseReading(paused);
    else if (auto *sock = dynamic_cast<TDRSock *>(transport))
        sock->PauseReading(paused);
}

} // namespace

void TfrmMain::ConnectRelayHandlers()
{
    connect(btnTransAdd, &QPushButton::clicked, this,
            [this] { dialogs::Guarded([this] { btnTransAddClick(); }); });
    connect(btnTransDel, &QPushButton::clicked, this,
            [this] { dialogs::Guarded([this] { btnTransDelClick(); }); });
    const std::pair<const char *, void (TfrmMain::*)()> commands[] = {
        {"pmiTransCheck", &TfrmMain::pmiTransCheckClick},
        {"pmiTransUncheck", &TfrmMain::pmiTransUncheckClick},
        {"pmiTransInvert", &TfrmMain::pmiTransInvertClick},
    };
    for (const auto &[name, handler] : commands) {
        if (auto *action = pmTransmit->findChild<QAction *>(QString::fromLatin1(name)))
            connect(action, &QAction::triggered, this, [this, h = handler] { (this->*h)(); });
    }
    connect(lstTransmit, &QListWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        pmTransmit->popup(lstTransmit->viewport()->mapToGlobal(pos));
    });
}

void TfrmMain::btnTransAddClick()
{
    auto relay = std::make_unique<TChannel>();
    // Throws on a number field that holds no number; nothing is added then.
    SyncChannelUI(*relay, false);
    auto *item = new QListWidgetItem(QString::fromUtf8(ChannelDescription(*relay)));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
    FRelayChannels.push_back(std::move(relay));
    lstTransmit->addItem(item);
}

void TfrmMain::btnTransDelClick()
{
    std::vector<int> removed;
    for (int i = 0; i < lstTransmit->count() && i < static_cast<int>(FRelayChannels.size()); ++i) {
        if (!lstTransmit->item(i)->isSelected())
            continue;
        // Closed before the record goes, so no event of it arrives afterwards.
        if (FRelayChannels[static_cast<std::size_t>(i)]->Transport)
            OpenChannel(*FRelayChannels[static_cast<std::size_t>(i)], false);
        removed.push_back(i);
    }
    for (auto it = removed.rbegin(); it != removed.rend(); ++it) {
        FRelayChannels.erase(FRelayChannels.begin() + *it);
        delete lstTransmit->takeItem(*it);
    }
    if (!removed.empty())
        UpdateRelayFlow();
}

void TfrmMain::pmiTransCheckClick()
{
    for (int i = 0; i < lstTransmit->count(); ++i)
        lstTransmit->item(i)->setCheckState(Qt::Checked);
}

void TfrmMain::pmiTransUncheckClick()
{
    for (int i = 0; i < lstTransmit->count(); ++i)
        lstTransmit->item(i)->setCheckState(Qt::Unchecked);
}

void TfrmMain::pmiTransInvertClick()
{
    for (int i = 0; i < lstTransmit->count(); ++i) {
        QListWidgetItem *item = lstTransmit->item(i);
        item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
}

void TfrmMain::WriteToTransport(TComponent *transport, std::string_view bytes)
{
    if (auto *comm = dynamic_cast<TComm *>(transport)) {
        if (bytes.empty()) {
            comm->WriteData(bytes.data(), 0); // refused by the port, as for any empty write
            return;
        }
        // Split, never cut: each request fits the 16-bit length and they queue in order.
        for (std::size_t offset = 0; offset < bytes.size(); offset += MaxSerialRequest) {
            const std::size_t n = std::min(MaxSerialRequest, bytes.size() - offset);
            comm->WriteData(bytes.data() + offset, static_cast<std::uint16_t>(n));
        }
    } else if (auto *sock = dynamic_cast<TDRSock *>(transport)) {
        sock->SendData(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }
}

void TfrmMain::RelayBlock(bool fromRelay, std::string_view bytes)
{
    if (fromRelay) {
        WatchDrain(FMainChannel.Transport.get());
        WriteToTransport(FMainChannel.Transport.get(), bytes);
    } else {
        // The check marks are read now: a mark changed while open takes effect
        // with the next block. A checked relay without a transport (checked
        // after Start) is skipped.
        const int count = std::min(lstTransmit->count(), static_cast<int>(FRelayChannels.size()));
        for (int i = 0; i < count; ++i) {
            if (lstTransmit->item(i)->checkState() != Qt::Checked)
                continue;
            TComponent *relay = FRelayChannels[static_cast<std::size_t>(i)]->Transport.get();
            if (!relay)
                continue;
            WatchDrain(relay);
            WriteToTransport(relay, bytes);
        }
    }
    UpdateRelayFlow();
}

void TfrmMain::WatchDrain(TComponent *destination)
{
    if (auto *comm = dynamic_cast<TComm *>(destination)) {
        if (!comm->OnSendDataEmpty)
            comm->OnSendDataEmpty = [this](TComm *) { UpdateRelayFlow(); };
    } else if (auto *sock = dynamic_cast<TDRSock *>(destination)) {
        if (!sock->OnSendQueueDrained)
            sock->OnSendQueueDrained = [this](TDRSock *) { UpdateRelayFlow(); };
    }
}

void TfrmMain::UpdateRelayFlow()
{
    const auto crossed = [](bool full, std::size_t queued) {
        return full ? queued > RelayLowWater : queued >= RelayHighWater;
    };
    const bool wasMainFull = FMainDestFull;
    const bool wasRelayFull = FRelayDestFull;

    FMainDestFull = crossed(FMainDestFull, QueuedOf(FMainChannel.Transport.get()));
    // Only checked relays receive main-channel data, so only they hold it back.
    std::size_t relayQueued = 0;
    const int count = std::min(lstTransmit->count(), static_cast<int>(FRelayChannels.size()));
    for (int i = 0; i < count; ++i) {
        if (lstTransmit->item(i)->checkState() == Qt::Checked)
            relayQueued =
                std::max(relayQueued,
                         QueuedOf(FRelayChannels[static_cast<std::size_t>(i)]->Transport.get()));
    }
    FRelayDestFull = crossed(FRelayDestFull, relayQueued);

    // While a mark is set the pause is re-applied each time, which also
    // catches a transport opened since.
    if (FRelayDestFull || wasRelayFull)
        PauseOf(FMainChannel.Transport.get(), FRelayDestFull);
    if (FMainDestFull || wasMainFull) {
        for (const auto &relay : FRelayChannels)
            PauseOf(relay->Transport.get(), FMainDestFull);
    }

    const bool congested = FMainDestFull || FRelayDestFull;
    if (congested && !FFlowTimer) {
        FFlowTimer = new QTimer(this);
        FFlowTimer->setInterval(FlowCheckMs);
        connect(FFlowTimer, &QTimer::timeout, this, [this] { UpdateRelayFlow(); });
    }
    if (FFlowTimer && congested != FFlowTimer->isActive()) {
        if (congested)
            FFlowTimer->start();
        else
            FFlowTimer->stop();
    }
}

} // namespace kestrune
