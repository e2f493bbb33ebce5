// Serial lines: the status-bar pane of a serial main channel (input-line
// lamps, DTR and RTS toggles, line-error counts, break), and a port that went
// away and came back.
#include "app/MainFrm.h"
#include "app/SerialLinesPane.h"
#include "app/StatusLamp.h"

#include <QLabel>
#include <QStatusBar>

namespace kestrune {

void TfrmMain::BuildSerialLines()
{
    pnlSerialLines =
        new TSerialLinesPane([this] { return FEngine.Session().MainLineControl(); }, this);
    statusBar()->addPermanentWidget(pnlSerialLines);

    FEngine.Session().OnModemLines = [this](bool fromRelay, std::uint32_t lines) {
        if (!fromRelay)
            pnlSerialLines->ShowLines(static_cast<std::int32_t>(lines));
    };
    FEngine.Session().OnPortWaiting = [this](bool fromRelay, const std::string &port) {
        PortWaiting(fromRelay, port);
    };
    FEngine.Session().OnPortReturned = [this](bool fromRelay, const std::string &port) {
        PortReturned(fromRelay, port);
    };
    FEngine.Session().OnDropped = [this](std::uint64_t total) { ShowDroppedBytes(total); };
}

void TfrmMain::ShowSerialLines()
{
    pnlSerialLines->Refresh();
}

void TfrmMain::PortWaiting(bool fromRelay, const std::string &port)
{
    // The main channel's wait shows in the lamp and stpStatus (ShowLinkState).
    if (fromRelay)
        ShowStatusMessage(QStringLiteral("Waiting for %1; the other channels stay open.")
                              .arg(QString::fromUtf8(port)));
    ShowDroppedBytes(FEngine.Session().DroppedBytes());
    pnlSerialLines->Refresh();
}

void TfrmMain::PortReturned(bool fromRelay, const std::string &port)
{
    if (!fromRelay)
        stpStatus->clear();
    ShowStatusMessage(QStringLiteral("%1 is back and open again.").arg(QString::fromUtf8(port)));
    pnlSerialLines->Refresh();
}

void TfrmMain::ShowDroppedBytes(std::uint64_t total)
{
    stpStatus->setToolTip(
        QStringLiteral("Bytes dropped while a serial port was away: %1").arg(total));
}

} // namespace kestrune
