#pragma once

#include "engine/Channel.h"

#include <QWidget>

class QCheckBox;
class QSpinBox;

namespace kestrune {

// The network options of the channel panel, under the addresses: "Several
// clients" for a TCP server; "Reply to sender", the multicast TTL and
// loopback for UDP. Only the method's own options are shown.
class TNetworkOptionsPane : public QWidget
{
public:
    explicit TNetworkOptionsPane(QWidget *parent = nullptr);

    void ShowMethod(TCommMethod method);
    void Show(const TChannel &channel);
    void Apply(TChannel &channel) const;

private:
    QCheckBox *chkSeveralClients;
    QCheckBox *chkReplyToSender;
    QSpinBox *edtMulticastTTL;
    QCheckBox *chkMulticastLoop;
    QWidget *FUdpRow;
};

} // namespace kestrune
