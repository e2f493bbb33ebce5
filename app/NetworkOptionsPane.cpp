#include "app/NetworkOptionsPane.h"

#include "app/WidgetKit.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

namespace kestrune {

TNetworkOptionsPane::TNetworkOptionsPane(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("pnlNetOptions"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    chkSeveralClients =
        named(new QCheckBox(QStringLiteral("Several clients")), "chkSeveralClients");
    chkSeveralClients->setToolTip(
        QStringLiteral("Serve every client at once; what is sent goes to all of them."));
    chkReplyToSender = named(new QCheckBox(QStringLiteral("Reply to sender")), "chkReplyToSender");
    chkReplyToSender->setToolTip(
        QStringLiteral("Send to where the last datagram came from, not to the remote address."));
    FUdpRow = new QWidget;
    auto *udp = new QHBoxLayout(FUdpRow);
    udp->setContentsMargins(0, 0, 0, 0);
    edtMulticastTTL = named(new QSpinBox, "edtMulticastTTL");
    edtMulticastTTL->setRange(0, 255);
    edtMulticastTTL->setToolTip(QStringLiteral("Hops of datagrams sent to a multicast group"));
    chkMulticastLoop = named(new QCheckBox(QStringLiteral("Loop")), "chkMulticastLoop");
    chkMulticastLoop->setToolTip(
        QStringLiteral("Members of the group on this computer get what is sent too."));
    udp->addWidget(new QLabel(QStringLiteral("Multicast TTL:")));
    udp->addWidget(edtMulticastTTL);
    udp->addWidget(chkMulticastLoop);
    column->addWidget(chkSeveralClients);
    column->addWidget(chkReplyToSender);
    column->addWidget(FUdpRow);
    Show(TChannel{});
}

void TNetworkOptionsPane::ShowMethod(TCommMethod method)
{
    chkSeveralClients->setVisible(method == cmTCPServer);
    chkReplyToSender->setVisible(method == cmUDP);
    FUdpRow->setVisible(method == cmUDP);
}

void TNetworkOptionsPane::Show(const TChannel &c)
{
    chkSeveralClients->setChecked(c.SeveralClients);
    chkReplyToSender->setChecked(c.ReplyToSender);
    edtMulticastTTL->setValue(c.MulticastTtl);
    chkMulticastLoop->setChecked(c.MulticastLoop);
}

void TNetworkOptionsPane::Apply(TChannel &c) const
{
    c.SeveralClients = chkSeveralClients->isChecked();
    c.ReplyToSender = chkReplyToSender->isChecked();
    c.MulticastTtl = edtMulticastTTL->value();
    c.MulticastLoop = chkMulticastLoop->isChecked();
}

} // namespace kestrune
