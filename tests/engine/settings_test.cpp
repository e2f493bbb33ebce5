// The settings as a value: read from and written to the settings file without
// any widget.
#include "common/IniFile.h"
#include "engine/Settings.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace kestrune;

namespace {

class SettingsTest : public ::testing::Test
{
protected:
    std::string Path() const { return dir.filePath(QStringLiteral("k.ini")).toStdString(); }
    TSettings Load(const std::string &content) const
    {
        std::ofstream(Path(), std::ios::binary) << content;
        return LoadSettings(TIniFile(Path()));
    }
    std::string Saved(const TSettings &settings, bool saveMain = true) const
    {
        TIniFile ini(Path());
        SaveSettings(ini, settings, saveMain);
        ini.UpdateFile();
        std::ifstream in(Path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(SettingsTest, AFirstRunWritesEveryKeyInTheFilesOrder)
{
    TSettings s = Load("");
    s.Relays.push_back({s.Main, false});
    const std::string channel =
        "Method=Serial\r\nPort=COM1\r\nBaudrate=9600\r\nByteSize=8\r\nParityBit=None\r\n"
        "StopBits=1\r\nReadIntervalTimeout=100\r\nReadTimeoutMultiplier=0\r\n"
        "ReadTimeoutConstant=1000\r\nWriteTimeoutMultiplier=0\r\nWriteTimeoutConstant=0\r\n"
        "IPAddr=127.0.0.1\r\nLocalPort=13001\r\nRemotePort=13002\r\nFlowControl=None\r\n"
        "ReopenOnReturn=0\r\nSeveralClients=0\r\nReplyToSender=0\r\nMulticastTTL=1\r\n"
        "MulticastLoop=1\r\n";
    EXPECT_EQ(Saved(s),
              "[Main]\r\n" + channel +
                  "[Other]\r\nTransNum=1\r\nDataMode=2\r\n"
                  "BufSize=64k\r\nEscChar=0\r\nCheck=0\r\nAutoSendPeriod=1000\r\n"
                  "SendText=Marlowen\r\nLeaderText=\r\nTailText=\r\nLeaderTailEnable=0\r\n"
                  "ShowRecvFrames=0\r\nShowSendFrames=0\r\nFrameGap=5\r\n"
                  "RelayQueueLimit=64M\r\n"
                  "AnswerRules=0\r\nAnswerRulesFile=\r\nVerifyChecks=0\r\n"
                  "LogFolder=\r\nLogName=CommLog.txt\r\nLogAppend=1\r\nLogRotateSize=0\r\n"
                  "CaptureToFile=0\r\nCaptureFile=capture.pcapng\r\n"
                  "Encoding=Latin-1\r\nQuickSendCount=0\r\n"
                  "[Trans0]\r\nEnable=0\r\n" +
                  channel);
}

TEST_F(SettingsTest, ValuesLoadAsTheyAreOrFallBackToTheirDefaults)
{
    const TSettings s = Load("[Main]\r\nMethod=tcpclient\r\nPort=ttyUSB0*\r\nByteSize=7\r\n"
                             "ParityBit=even\r\nStopBits=1.5\r\nFlowControl=xon/xoff\r\n"
                             "[Other]\r\nTransNum=2\r\nDataMode=3\r\nBufSize=2M\r\nEscChar=2\r\n"
                             "Check=-1\r\nFrameGap=0\r\n[Trans1]\r\nEnable=0\r\nMethod=UDP\r\n"
                             "ByteSize=9\r\nParityBit=Nothing\r\n");
    EXPECT_EQ(s.Main.Method, cmTCPClient);
    EXPECT_EQ(s.Main.Port, "ttyUSB0") << "the mark is for display only";
    EXPECT_EQ(s.Main.ByteSize, 2);
    EXPECT_EQ(s.Main.ParityBit, 2);
    EXPECT_EQ(s.Main.StopBits, 1);
    EXPECT_EQ(s.Main.FlowControl, TFlowControl::XonXoff);
    ASSERT_EQ(s.Relays.size(), 2u);
    EXPECT_TRUE(s.Relays[0].Checked);
    EXPECT_FALSE(s.Relays[1].Checked);
    EXPECT_EQ(s.Relays[1].Channel.Method, cmUDP);
    EXPECT_EQ(s.Relays[1].Channel.ByteSize, 0) << "an unknown choice is the list's first";
    EXPECT_EQ(s.Relays[1].Channel.ParityBit, 0);
    EXPECT_EQ(s.General.DataMode, 2);
    EXPECT_EQ(s.General.BufSize, 2 * 1024 * 1024);
    EXPECT_EQ(s.General.EscChar(), '(');
    EXPECT_EQ(s.General.Check, 0);
    EXPECT_EQ(s.General.FrameGap, 1);

    EXPECT_EQ(Load("[Other]\r\nBufSize=lots\r\nTransNum=-3\r\n").General.BufSizeText, "64k");
    EXPECT_EQ(Load("[Other]\r\nRelayQueueLimit=2k\r\n").General.RelayQueueLimit, 64 << 20);
    EXPECT_EQ(Load("[Other]\r\nRelayQueueLimit=1M\r\n").General.RelayQueueLimit, 1 << 20);
    EXPECT_EQ(Load("[Other]\r\nTransNum=5000\r\n").Relays.size(),
              static_cast<std::size_t>(MaxRelayChannels));
}

TEST_F(SettingsTest, SavingWithoutTheMainChannelKeepsItsSectionAndUnknownKeys)
{
    TSettings s = Load("[Main]\r\nPort=ttyS9\r\nMine=kept\r\n");
    s.Main.Port = "changed";
    s.General.SendText = "AT{0D}";
    const std::string text = Saved(s, false);
    EXPECT_NE(text.find("[Main]\r\nPort=ttyS9\r\nMine=kept\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("changed"), std::string::npos);
    EXPECT_EQ(Load(text).General.SendText, "AT{0D}");
}
