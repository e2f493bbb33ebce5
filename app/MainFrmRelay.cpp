// Relay list: its widget and editing commands. The list itself is the engine's;
// the forwarding and its flow control belong to the session.
#include "app/Dialogs.h"
#include "app/MainFrm.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>

namespace kestrune {

void TfrmMain::ConnectRelayHandlers()
{
    connect(btnTransAdd, &QPushButton::clicked, this,
            [this] { dialogs::Guarded([this] { btnTransAddClick(); }); });
    connect(btnTransDel, &QPushButton::clicked, this,
            [this] { dialogs::Guarded([this] { btnTransDelClick(); }); });
    const std::pair<const char *, std::function<bool(bool)>> commands[] = {
        {"pmiTransCheck", [](bool) { return true; }},
        {"pmiTransUncheck", [](bool) { return false; }},
        {"pmiTransInvert", [](bool checked) { return !checked; }},
    };
    for (const auto &[name, mark] : commands) {
        if (auto *action = pmTransmit->findChild<QAction *>(QString::fromLatin1(name)))
            connect(action, &QAction::triggered, this, [this, m = mark] { SetAllRelayMarks(m); });
    }
    // The session reads the marks at each block, so a mark changed while open
    // takes effect with the next one.
    connect(lstTransmit, &QListWidget::itemChanged, this, [this](QListWidgetItem *item) {
        FEngine.SetRelayChecked(static_cast<std::size_t>(lstTransmit->row(item)),
                                item->checkState() == Qt::Checked);
    });
    connect(lstTransmit, &QListWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        pmTransmit->popup(lstTransmit->viewport()->mapToGlobal(pos));
    });
}

void TfrmMain::ShowRelayList()
{
    const QSignalBlocker blocker(lstTransmit);
    lstTransmit->clear();
    for (const TRelayEntry &relay : FEngine.Relays()) {
        auto *item = new QListWidgetItem(QString::fromUtf8(ChannelDescription(relay.Channel)));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(relay.Checked ? Qt::Checked : Qt::Unchecked);
        lstTransmit->addItem(item);
    }
}

void TfrmMain::btnTransAddClick()
{
    // Filled from the widgets themselves; throws on a number field that holds
    // no number, and nothing is added then.
    TChannel relay;
    SyncChannelUI(relay, false);
    FEngine.AddRelay(relay);
    auto *item = new QListWidgetItem(QString::fromUtf8(ChannelDescription(relay)));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    const QSignalBlocker blocker(lstTransmit);
    item->setCheckState(Qt::Checked);
    lstTransmit->addItem(item);
}

void TfrmMain::btnTransDelClick()
{
    std::vector<std::size_t> removed;
    for (int i = 0; i < lstTransmit->count(); ++i) {
        if (lstTransmit->item(i)->isSelected())
            removed.push_back(static_cast<std::size_t>(i));
    }
    FEngine.RemoveRelays(removed);
    for (auto it = removed.rbegin(); it != removed.rend(); ++it)
        delete lstTransmit->takeItem(static_cast<int>(*it));
}

void TfrmMain::SetAllRelayMarks(const std::function<bool(bool)> &mark)
{
    for (int i = 0; i < lstTransmit->count(); ++i) {
        QListWidgetItem *item = lstTransmit->item(i);
        item->setCheckState(mark(item->checkState() == Qt::Checked) ? Qt::Checked : Qt::Unchecked);
    }
}

} // namespace kestrune
