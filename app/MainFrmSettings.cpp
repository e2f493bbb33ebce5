// The channel record and the general settings, to and from the settings file
// and the settings panel.
#include "app/ChoiceLists.h"
#include "app/MainFrm.h"
#include "common/CaseInsensitive.h"
#include "common/IntText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <cmath>

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

// Position of `text` among the items, matched exactly but without regard to case; 0 if absent.
std::uint8_t listIndex(const QComboBox *box, const std::string &text)
{
    const int i = box->findText(fromBytes(text), Qt::MatchFixedString);
    return static_cast<std::uint8_t>(i < 0 ? 0 : i);
}

template <std::size_t N> void fillList(QComboBox *box, const std::array<const char *, N> &table)
{
    for (const char *t : table)
        box->addItem(QString::fromLatin1(t));
}

} // namespace

bool TfrmMain::LoadChannelSettings(const std::string &section, TChannel &c)
{
    const std::string method = FIni.ReadString(section, "Method", "Serial");
    c.Method = cmSerial;
    if (SameText(method, "UDP"))
        c.Method = cmUDP;
    else if (SameText(method, "TCPServer"))
        c.Method = cmTCPServer;
    else if (SameText(method, "TCPClient"))
        c.Method = cmTCPClient;
    c.Port = FIni.ReadString(section, "Port", "COM1");
    c.Baudrate = FIni.ReadInteger(section, "Baudrate", 9600);
    c.ByteSize = listIndex(cboByteSize, FIni.ReadString(section, "ByteSize", "8"));
    c.ParityBit = listIndex(cboParityBit, FIni.ReadString(section, "ParityBit", "None"));
    c.StopBits = listIndex(cboStopBits, FIni.ReadString(section, "StopBits", "1"));
    // Unsigned time-outs travel through the signed form and keep their 32 bits.
    auto timeout = [&](const char *key, std::int32_t def) {
        return static_cast<std::uint32_t>(FIni.ReadInteger(section, key, def));
    };
    c.ReadIntervalTimeout = timeout("ReadIntervalTimeout", 100);
    c.ReadTimeoutMultiplier = timeout("ReadTimeoutMultiplier", 0);
    c.ReadTimeoutConstant = timeout("ReadTimeoutConstant", 1000);
    c.WriteTimeoutMultiplier = timeout("WriteTimeoutMultiplier", 0);
    c.WriteTimeoutConstant = timeout("WriteTimeoutConstant", 0);
    c.IPAddr = FIni.ReadString(section, "IPAddr", "127.0.0.1");
    c.LocalPort = FIni.ReadInteger(section, "LocalPort", 13001);
    c.RemotePort = FIni.ReadInteger(section, "RemotePort", 13002);
    LoadSerialLineSettings(section, c);
    return FIni.ReadBool(section, "Enable", true);
}

void TfrmMain::SaveChannelSettings(const std::string &section, const TChannel &c)
{
    auto itemText = [](const QComboBox *box, int index) { return toBytes(box->itemText(index)); };
    FIni.WriteString(section, "Method", ChoiceText(MethodKeys, c.Method));
    FIni.WriteString(section, "Port", c.Port);
    FIni.WriteInteger(section, "Baudrate", c.Baudrate);
    FIni.WriteString(section, "ByteSize", itemText(cboByteSize, c.ByteSize));
    FIni.WriteString(section, "ParityBit", itemText(cboParityBit, c.ParityBit));
    FIni.WriteString(section, "StopBits", itemText(cboStopBits, c.StopBits));
    FIni.WriteInteger(section, "ReadIntervalTimeout",
                      static_cast<std::int32_t>(c.ReadIntervalTimeout));
    FIni.WriteInteger(section, "ReadTimeoutMultiplier",
                      static_cast<std::int32_t>(c.ReadTimeoutMultiplier));
    FIni.WriteInteger(section, "ReadTimeoutConstant",
                      static_cast<std::int32_t>(c.ReadTimeoutConstant));
    FIni.WriteInteger(section, "WriteTimeoutMultiplier",
                      static_cast<std::int32_t>(c.WriteTimeoutMultiplier));
    FIni.WriteInteger(section, "WriteTimeoutConstant",
                      static_cast<std::int32_t>(c.WriteTimeoutConstant));
    FIni.WriteString(section, "IPAddr", c.IPAddr);
    FIni.WriteInteger(section, "LocalPort", c.LocalPort);
    FIni.WriteInteger(section, "RemotePort", c.RemotePort);
    SaveSerialLineSettings(section, c);
}

void TfrmMain::LoadGeneralSettings()
{
    fillList(cboDataMode, DataModeTexts);
    std::int32_t mode = FIni.ReadInteger("Other", "DataMode", 2);
    if (mode < 0 || mode > 2)
        mode = 2;
    cboDataMode->setCurrentIndex(mode);
    cboEscChar->setEnabled(mode == 2);
    FDataMode = static_cast<std::uint8_t>(mode);

    std::string size = FIni.ReadString("Other", "BufSize", "64k");
    std::int32_t bytes = ParseSizeText(size);
    if (bytes < 0) {
        size = "64k";
        bytes = ParseSizeText(size);
    }
    edtBufSize->setText(fromBytes(size));
    FBufSize = bytes;

    fillList(cboEscChar, EscCharTexts);
    std::int32_t esc = FIni.ReadInteger("Other", "EscChar", 0);
    if (esc < 0 || esc > 3)
        esc = 0;
    cboEscChar->setCurrentIndex(esc);
    FEscChar = EscCharTexts[static_cast<std::size_t>(esc)][0];

    fillList(cboCheck, CheckTexts);
    std::int32_t check = FIni.ReadInteger("Other", "Check", 0);
    if (check < 0 || check > 3)
        check = 0;
    cboCheck->setCurrentIndex(check);
    FCheck = static_cast<std::uint8_t>(check);

    edtSendPeriod->setValue(FIni.ReadInteger("Other", "AutoSendPeriod", 1000));
    cboSend->setEditText(fromBytes(FIni.ReadString("Other", "SendText", "Marlowen")));
    edtLeader->setText(fromBytes(FIni.ReadString("Other", "LeaderText", "")));
    edtTail->setText(fromBytes(FIni.ReadString("Other", "TailText", "")));
    chkLeaderTail->setChecked(FIni.ReadBool("Other", "LeaderTailEnable", false));
    SetFrameGapMs(FIni.ReadInteger("Other", "FrameGap", 5));
    SetShowFrames(false, FIni.ReadBool("Other", "ShowRecvFrames", false));
    SetShowFrames(true, FIni.ReadBool("Other", "ShowSendFrames", false));
}

void TfrmMain::SaveGeneralSettings()
{
    FIni.WriteInteger("Other", "DataMode", cboDataMode->currentIndex());
    FIni.WriteString("Other", "BufSize", toBytes(edtBufSize->text()));
    FIni.WriteInteger("Other", "EscChar", cboEscChar->currentIndex());
    FIni.WriteInteger("Other", "Check", cboCheck->currentIndex());
    FIni.WriteInteger("Other", "AutoSendPeriod", edtSendPeriod->value());
    FIni.WriteString("Other", "SendText", toBytes(cboSend->currentText()));
    FIni.WriteString("Other", "LeaderText", toBytes(edtLeader->text()));
    FIni.WriteString("Other", "TailText", toBytes(edtTail->text()));
    FIni.WriteBool("Other", "LeaderTailEnable", chkLeaderTail->isChecked());
    FIni.WriteBool("Other", "ShowRecvFrames", FShowRecvFrames);
    FIni.WriteBool("Other", "ShowSendFrames", FShowSendFrames);
    FIni.WriteInteger("Other", "FrameGap", FFrameGapMs);
}

void TfrmMain::SyncChannelUI(TChannel &c, bool toPanel)
{
    if (toPanel) {
        if (c.Method < FMethodButtons.size() && FMethodButtons[c.Method])
            FMethodButtons[c.Method]->setChecked(true);
        const int port = cboCOMPort->findText(fromBytes(c.Port), Qt::MatchFixedString);
        cboCOMPort->setCurrentIndex(port >= 0 ? port : (cboCOMPort->count() > 0 ? 0 : -1));
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
}

} // namespace kestrune
