// Serial lines: the status-bar pane of a serial main channel (input-line
// lamps, DTR and RTS toggles, line-error counts, break), a port that went away
// and came back, and the channel's serial keys in the settings file.
#include "app/MainFrm.h"
#include "app/SerialLinesPane.h"
#include "app/StatusLamp.h"

#include <QLabel>
#include <QStatusBar>

namespace kestrune {

void TfrmMain::LoadSerialLineSettings(const std::string &section, TChannel &c)
{
    const std::string flow = FIni.ReadString(section, "FlowControl", FlowControlTexts[0]);
    c.FlowControl = TFlowControl::None;
    for (std::size_t i = 0; i < FlowControlTexts.size(); ++i) {
        if (QString::fromUtf8(flow).compare(QLatin1String(FlowControlTexts[i]),
                                            Qt::CaseInsensitive) == 0)
            c.FlowControl = static_cast<TFlowControl>(i);
    }
    c.ReopenOnReturn = FIni.ReadBool(section, "ReopenOnReturn", false);
}

void TfrmMain::SaveSerialLineSettings(const std::string &section, const TChannel &c)
{
    const auto flow = static_cast<std::size_t>(c.FlowControl);
    FIni.WriteString(section, "FlowControl",
                     flow < FlowControlTexts.size() ? FlowControlTexts[flow] : FlowControlTexts[0]);
    FIni.WriteBool(section, "ReopenOnReturn", c.ReopenOnReturn);
}

void TfrmMain::BuildSerialLines()
{
    pnlSerialLines = new TSerialLinesPane([this] { return FSession.MainLineControl(); }, this);
    statusBar()->addPermanentWidget(pnlSerialLines);

    FSession.OnModemLines = [this](bool fromRelay, std::uint32_t lines) {
        if (!fromRelay)
            pnlSerialLines->ShowLines(static_cast<std::int32_t>(lines));
    };
    FSession.OnPortWaiting = [this](bool fromRelay, const std::string &port) {
        PortWaiting(fromRelay, port);
    };
    FSession.OnPortReturned = [this](bool fromRelay, const std::string &port) {
        PortReturned(fromRelay, port);
    };
    FSession.OnDropped = [this](std::uint64_t total) { ShowDroppedBytes(total); };
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
    ShowDroppedBytes(FSession.DroppedBytes());
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
