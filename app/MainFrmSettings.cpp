// The channel record to and from the settings panel, and the general settings
// into their widgets.
#include "app/MainFrm.h"

#include "app/NetworkOptionsPane.h"
#include "codec/DataMode.h"
#include "common/IntText.h"
#include "engine/ChoiceLists.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>

namespace kestrune {

namespace {

QString fromBytes(const std::string &s)
{
    return QString::fromUtf8(s);
}
std::string toBytes(const QString &s)
{
    return s.toUtf8().toStdString();
}

template <std::size_t N> void fillList(QComboBox *box, const std::array<const char *, N> &table)
{
    for (const char *t : table)
        box->addItem(QString::fromLatin1(t));
}

} // namespace

void TfrmMain::ShowGeneralSettings()
{
    // Filled here, after the panel, so that no index change reaches the engine
    // before the settings are in it.
    const TGeneralSettings g = FEngine.General();
    fillList(cboDataMode, DataModeTexts);
    cboDataMode->setCurrentIndex(g.DataMode);
    cboEscChar->setEnabled(g.DataMode == dmMixed);
    edtBufSize->setText(fromBytes(g.BufSizeText));
    fillList(cboEscChar, EscCharTexts);
    cboEscChar->setCurrentIndex(g.EscCharIndex);
    fillList(cboCheck, CheckTexts);
    cboCheck->setCurrentIndex(g.Check);
    edtSendPeriod->setValue(g.AutoSendPeriod);
    cboSend->setEditText(fromBytes(g.SendText));
    edtLeader->setText(fromBytes(g.LeaderText));
    edtTail->setText(fromBytes(g.TailText));
    chkLeaderTail->setChecked(g.LeaderTailEnable);
    SetFrameGapMs(g.FrameGap);
    SetShowFrames(false, g.ShowRecvFrames);
    SetShowFrames(true, g.ShowSendFrames);
    ShowAnswerSettings();
    ShowTextSettings();
}

void TfrmMain::SyncChannelUI(TChannel &c, bool toPanel)
{
    if (toPanel) {
        if (c.Method < FMethodButtons.size() && FMethodButtons[c.Method])
            FMethodButtons[c.Method]->setChecked(true);
        // A name that is not in the list (typed, or a port that is away) stays
        // as it is, so it survives a visit to the other tab.
        const int port = cboCOMPort->findText(fromBytes(c.Port), Qt::MatchFixedString);
        if (port >= 0)
            cboCOMPort->setCurrentIndex(port);
        else
            cboCOMPort->setEditText(fromBytes(c.Port));
        const QString baud = QString::number(c.Baudrate);
        const int baudIndex = cboBaudrate->findText(baud, Qt::MatchExactly);
        if (baudIndex >= 0)
            cboBaudrate->setCurrentIndex(baudIndex);
        else
            cboBaudrate->setEditText(baud);
        cboByteSize->setCurrentIndex(c.ByteSize);
        cboParityBit->setCurrentIndex(c.ParityBit);
        cboStopBits->setCurrentIndex(c.StopBits);
        edtLocalPort->setValue(c.LocalPort);
        edtRemotePort->setValue(c.RemotePort);
        edtIPAddr->setText(fromBytes(c.IPAddr));
        pnlNetOptions->Show(c);
        return;
    }
    for (std::size_t i = 0; i < FMethodButtons.size(); ++i) {
        if (FMethodButtons[i] && FMethodButtons[i]->isChecked()) {
            c.Method = static_cast<TCommMethod>(i);
            break;
        }
    }
    c.Port = toBytes(cboCOMPort->currentText());
    c.Baudrate = StrToInt(toBytes(cboBaudrate->currentText()));
    c.ByteSize = static_cast<std::uint8_t>(std::max(0, cboByteSize->currentIndex()));
    c.ParityBit = static_cast<std::uint8_t>(std::max(0, cboParityBit->currentIndex()));
    c.StopBits = static_cast<std::uint8_t>(std::max(0, cboStopBits->currentIndex()));
    c.LocalPort = StrToInt(toBytes(edtLocalPort->cleanText()));
    c.RemotePort = StrToInt(toBytes(edtRemotePort->cleanText()));
    c.IPAddr = toBytes(edtIPAddr->text());
    pnlNetOptions->Apply(c);
}

} // namespace kestrune
