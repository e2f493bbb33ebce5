#include "MainWindowFixture.h"

#include "app/StatusLamp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <filesystem>

using namespace kestrune;

namespace {

const char *const FirstRunFile = "[Main]\r\n"
                                 "Method=Serial\r\n"
                                 "Port=COM1\r\n"
                                 "Baudrate=9600\r\n"
                                 "ByteSize=8\r\n"
                                 "ParityBit=None\r\n"
                                 "StopBits=1\r\n"
                                 "ReadIntervalTimeout=100\r\n"
                                 "ReadTimeoutMultiplier=0\r\n"
                                 "ReadTimeoutConstant=1000\r\n"
                                 "WriteTimeoutMultiplier=0\r\n"
                                 "WriteTimeoutConstant=0\r\n"
                                 "IPAddr=127.0.0.1\r\n"
                                 "LocalPort=13001\r\n"
                                 "RemotePort=13002\r\n"
                                 // Keys added later come after the first ones.
                                 "FlowControl=None\r\n"
                                 "ReopenOnReturn=0\r\n"
                                 "SeveralClients=0\r\n"
                                 "ReplyToSender=0\r\n"
                                 "MulticastTTL=1\r\n"
                                 "MulticastLoop=1\r\n"
                                 "[Other]\r\n"
                                 "TransNum=0\r\n"
                                 "DataMode=2\r\n"
                                 "BufSize=64k\r\n"
                                 "EscChar=0\r\n"
                                 "Check=0\r\n"
                                 "AutoSendPeriod=1000\r\n"
                                 "SendText=Marlowen\r\n"
                                 "LeaderText=\r\n"
                                 "TailText=\r\n"
                                 "LeaderTailEnable=0\r\n"
                                 "ShowRecvFrames=0\r\n"
                                 "ShowSendFrames=0\r\n"
                                 "FrameGap=5\r\n"
                                 "RelayQueueLimit=64M\r\n"
                                 "AnswerRules=0\r\nAnswerRulesFile=\r\nVerifyChecks=0\r\n"
                                 "LogFolder=\r\nLogName=CommLog.txt\r\nLogAppend=1\r\n"
                                 "LogRotateSize=0\r\nCaptureToFile=0\r\n"
                                 "CaptureFile=capture.pcapng\r\n"

                                 "Encoding=Latin-1\r\n"
                                 "QuickSendCount=0\r\nWindowLeft=0\r\nWindowTop=0\r\n"
                                 "WindowWidth=737\r\nWindowHeight=618\r\n";

} // namespace

TEST_F(MainWindowTest, FirstRunShowsDefaultsAndWritesEveryKeyAtExit)
{
    open();
    EXPECT_FALSE(std::filesystem::exists(settingsPath())) << "nothing is written while running";
    EXPECT_EQ(window->windowTitle(), "Kestrune");
    EXPECT_TRUE(find<QRadioButton>("rbSerial")->isChecked());
    EXPECT_EQ(find<QComboBox>("cboCOMPort")->currentText(), "COM1");
    EXPECT_EQ(find<QComboBox>("cboBaudrate")->currentText(), "9600");
    EXPECT_EQ(find<QComboBox>("cboByteSize")->currentText(), "8");
    EXPECT_EQ(find<QComboBox>("cboParityBit")->currentText(), "None");
    EXPECT_EQ(find<QComboBox>("cboStopBits")->currentText(), "1");
    EXPECT_EQ(find<QSpinBox>("edtLocalPort")->value(), 13001);
    EXPECT_EQ(find<QSpinBox>("edtRemotePort")->value(), 13002);
    EXPECT_EQ(find<QLineEdit>("edtIPAddr")->text(), "127.0.0.1");
    EXPECT_EQ(find<QLineEdit>("edtBufSize")->text(), "64k");
    EXPECT_EQ(find<QComboBox>("cboDataMode")->currentText(), "Mixed");
    EXPECT_TRUE(find<QComboBox>("cboEscChar")->isEnabled());
    EXPECT_EQ(find<QComboBox>("cboEscChar")->currentText(), "{}");
    EXPECT_EQ(find<QComboBox>("cboCheck")->currentText(), "No Check");
    EXPECT_EQ(find<QSpinBox>("edtSendPeriod")->value(), 1000);
    EXPECT_EQ(find<QComboBox>("cboSend")->currentText(), "Marlowen");
    EXPECT_TRUE(find<QLineEdit>("edtLeader")->text().isEmpty());
    EXPECT_FALSE(find<QCheckBox>("chkLeaderTail")->isChecked());
    EXPECT_EQ(find<QListWidget>("lstTransmit")->count(), 0);
    EXPECT_EQ(find<QTabBar>("tabSetting")->currentIndex(), 0);
    EXPECT_FALSE(find<QPushButton>("btnTransAdd")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("btnSend")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("btnCmdSequ")->isEnabled());
    EXPECT_EQ(find<QPushButton>("btnStart")->text(), "Start");
    EXPECT_EQ(find<TStatusLamp>("shpCommStatus")->Color(), QColor(255, 0, 0));
    EXPECT_EQ(find<QLabel>("stpRecv")->text(), "Recv: 0B.");
    EXPECT_EQ(find<QLabel>("stpSend")->text(), "Send: 0B, 0P.");
    EXPECT_EQ(find<QLabel>("stpSend")->toolTip(), QString::fromUtf8("发送计数"));
    EXPECT_EQ(window->Engine().Settings().General.BufSize, 65536);
    EXPECT_TRUE(messages.empty());

    close();
    EXPECT_EQ(readSettings(), FirstRunFile);
}

TEST_F(MainWindowTest, EdgeValuesLoadAndSaveBack)
{
    writeSettings("[Main]\n"
                  "Method=tcpCLIENT\n"
                  "Port=COM7*\n"
                  "Baudrate=0x2580\n"
                  "ByteSize=nine\n"
                  "ParityBit=even\n"
                  "StopBits=2\n"
                  "ReadIntervalTimeout=-1\n"
                  "IPAddr=  10.1.2.3  \n"
                  "[Other]\n"
                  "TransNum=2\n"
                  "DataMode=3\n"
                  "BufSize=1.5k\n"
                  "EscChar=-1\n"
                  "Check=2\n"
                  "LeaderTailEnable=1\n"
                  "[Trans0]\n"
                  "Enable=0\n"
                  "Method=udp\n"
                  "Baudrate=fast\n"
                  "Port=COM9*\n");
    open();
    const TChannel &main = window->Engine().Settings().Main;
    EXPECT_EQ(main.Method, cmTCPClient);
    EXPECT_EQ(main.Port, "COM7") << "the display mark is dropped";
    EXPECT_EQ(main.Baudrate, 9600);
    EXPECT_EQ(main.ByteSize, 0) << "an unknown text is 5 data bits";
    EXPECT_EQ(main.ParityBit, 2);
    EXPECT_EQ(main.StopBits, 2);
    EXPECT_EQ(main.ReadIntervalTimeout, 4294967295u);
    EXPECT_EQ(main.IPAddr, "10.1.2.3");
    EXPECT_TRUE(find<QRadioButton>("rbTCPClient")->isChecked());
    EXPECT_EQ(find<QComboBox>("cboDataMode")->currentIndex(), 2);
    EXPECT_EQ(find<QLineEdit>("edtBufSize")->text(), "64k");
    EXPECT_EQ(find<QComboBox>("cboEscChar")->currentText(), "{}");
    EXPECT_EQ(find<QComboBox>("cboCheck")->currentText(), "Sum/Mod");
    EXPECT_TRUE(find<QLineEdit>("edtLeader")->isEnabled());

    ASSERT_EQ(window->Engine().Relays().size(), 2u);
    const auto *list = find<QListWidget>("lstTransmit");
    EXPECT_EQ(list->item(0)->text(), "UDP,127.0.0.1:13002,L:13001");
    EXPECT_EQ(list->item(0)->checkState(), Qt::Unchecked);
    EXPECT_EQ(window->Engine().Relays()[0].Channel.Port, "COM9*");
    EXPECT_EQ(list->item(1)->text(), "Serial,COM1,9600,8,N,1")
        << "a missing section loads defaults";
    EXPECT_EQ(list->item(1)->checkState(), Qt::Checked);

    close();
    const std::string saved = readSettings();
    for (const char *line :
         {"Method=TCPClient\r\n", "Port=COM7\r\n", "Baudrate=9600\r\n", "ByteSize=5\r\n",
          "ParityBit=Even\r\n", "StopBits=2\r\n", "ReadIntervalTimeout=-1\r\n", "BufSize=64k\r\n",
          "EscChar=0\r\n", "DataMode=2\r\n", "TransNum=2\r\n",
          "[Trans1]\r\nEnable=1\r\nMethod=Serial", "Port=COM9*\r\n"})
        EXPECT_NE(saved.find(line), std::string::npos) << line << "\n" << saved;
    // Keys that existed keep their place: Trans0 starts with Enable, then Method.
    EXPECT_NE(saved.find("[Trans0]\r\nEnable=0\r\nMethod=UDP\r\n"), std::string::npos) << saved;
}

TEST_F(MainWindowTest, RelayCountBelowOneLoadsNoRelay)
{
    writeSettings("[Other]\r\nTransNum=-4\r\n[Trans0]\r\nMethod=UDP\r\n");
    open();
    EXPECT_TRUE(window->Engine().Relays().empty());
    close();
    EXPECT_NE(readSettings().find("TransNum=0\r\n"), std::string::npos);
    EXPECT_NE(readSettings().find("[Trans0]\r\nMethod=UDP\r\n"), std::string::npos)
        << "sections beyond the count are neither read nor removed";
}

TEST_F(MainWindowTest, ClosingOnTransferTabSavesTheMainChannelAsLeft)
{
    open();
    auto *tab = find<QTabBar>("tabSetting");
    auto *baud = find<QComboBox>("cboBaudrate");
    baud->setEditText("19200");
    tab->setCurrentIndex(1);
    EXPECT_TRUE(find<QPushButton>("btnTransAdd")->isEnabled());
    EXPECT_EQ(window->Engine().Settings().Main.Baudrate, 19200);
    // The transfer channel started as a copy of the main channel at start-up.
    EXPECT_EQ(baud->currentText(), "9600");
    baud->setEditText("4800");
    find<QRadioButton>("rbUDP")->setChecked(true);
    EXPECT_TRUE(find<QWidget>("pnlNetSetting")->isVisibleTo(window.get()));
    EXPECT_FALSE(find<QWidget>("pnlCOMSetting")->isVisibleTo(window.get()));
    close();
    const std::string saved = readSettings();
    EXPECT_NE(saved.find("Method=Serial\r\nPort=COM1\r\nBaudrate=19200\r\n"), std::string::npos)
        << saved;
}

TEST_F(MainWindowTest, MethodButtonsSwitchThePanel)
{
    open();
    const struct
    {
        const char *button;
        bool local, addr, remote;
    } rows[] = {{"rbUDP", true, true, true},
                {"rbTCPServer", true, false, false},
                {"rbTCPClient", false, true, true}};
    for (const auto &row : rows) {
        find<QRadioButton>(row.button)->setChecked(true);
        EXPECT_TRUE(find<QWidget>("pnlNetSetting")->isVisibleTo(window.get())) << row.button;
        EXPECT_EQ(find<QSpinBox>("edtLocalPort")->isEnabled(), row.local) << row.button;
        EXPECT_EQ(find<QLineEdit>("edtIPAddr")->isEnabled(), row.addr) << row.button;
        EXPECT_EQ(find<QSpinBox>("edtRemotePort")->isEnabled(), row.remote) << row.button;
    }
    find<QRadioButton>("rbSerial")->setChecked(true);
    EXPECT_TRUE(find<QWidget>("pnlCOMSetting")->isVisibleTo(window.get()));
    EXPECT_FALSE(find<QWidget>("pnlNetSetting")->isVisibleTo(window.get()));
}

TEST_F(MainWindowTest, LeadAndTailFollowTheirCheckBox)
{
    writeSettings("[Other]\r\nLeaderTailEnable=0\r\n");
    open();
    auto *box = find<QCheckBox>("chkLeaderTail");
    EXPECT_TRUE(find<QLineEdit>("edtLeader")->isEnabled()) << "enabled until the box first changes";
    box->setChecked(true);
    box->setChecked(false);
    EXPECT_FALSE(find<QLineEdit>("edtLeader")->isEnabled());
    EXPECT_FALSE(find<QLineEdit>("edtTail")->isEnabled());
}

TEST_F(MainWindowTest, UnwritableSettingsFileIsReportedAtExit)
{
    open();
    std::filesystem::create_directory(settingsPath());
    close();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.toStdString(), "Unable to write to " + settingsPath());
}

TEST_F(MainWindowTest, GarbageSettingsFileStartsWithDefaults)
{
    std::string garbage(1 << 20, 'x');
    for (std::size_t i = 0; i < garbage.size(); i += 997)
        garbage[i] = static_cast<char>(i % 256);
    writeSettings("[Main]\nPort=" + garbage + "\n[Other]\nTransNum=2\nTransNum=9\n" + garbage);
    open();
    EXPECT_EQ(window->Engine().Settings().Main.Port.size(), 2047u)
        << "values are cut at 2047 characters";
    EXPECT_EQ(window->Engine().Relays().size(), 2u) << "the first of duplicate keys counts";
    EXPECT_TRUE(messages.empty());
}
