// Relay list: its editing commands. The forwarding itself and its flow
// control belong to the session.
#include "app/Dialogs.h"
#include "app/MainFrm.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

namespace kestrune {

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
    // The session reads the marks at each block, so a mark changed while open
    // takes effect with the next one.
    connect(lstTransmit, &QListWidget::itemChanged, this, [this](QListWidgetItem *item) {
        FSession.SetRelayChecked(static_cast<std::size_t>(lstTransmit->row(item)),
                                 item->checkState() == Qt::Checked);
    });
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
    FSession.AddRelay(true);
    lstTransmit->addItem(item);
}

void TfrmMain::btnTransDelClick()
{
    std::vector<int> removed;
    for (int i = 0; i < lstTransmit->count() && i < static_cast<int>(FRelayChannels.size()); ++i) {
        if (lstTransmit->item(i)->isSelected())
            removed.push_back(i);
    }
    // Closed with its slot, so no event of it arrives afterwards.
    for (auto it = removed.rbegin(); it != removed.rend(); ++it) {
        FSession.RemoveRelay(static_cast<std::size_t>(*it));
        FRelayChannels.erase(FRelayChannels.begin() + *it);
        delete lstTransmit->takeItem(*it);
    }
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

} // namespace kestrune
