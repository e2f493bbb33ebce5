// The settings file against what users and other copies of the program do to it:
// huge counts, unknown content, line breaks in texts, numbers that do not
// convert at exit, two copies exiting at once.
#include "MainWindowFixture.h"
#include "ProgramCopy.h"

#include "common/IniFile.h"
#include "support/UnreadableFile.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QSpinBox>
#include <csignal>
#include <fstream>

using namespace kestrune;

namespace {

// One relay section as the program writes it, all keys present.
std::string relaySection(int index, const std::string &enable, int localPort)
{
    return "[Trans" + std::to_string(index) + "]\r\nEnable=" + enable +
           "\r\nMethod=UDP\r\nPort=COM1\r\nBaudrate=9600\r\nByteSize=8\r\nParityBit=None\r\n"
           "StopBits=1\r\nReadIntervalTimeout=100\r\nReadTimeoutMultiplier=0\r\n"
           "ReadTimeoutConstant=1000\r\nWriteTimeoutMultiplier=0\r\nWriteTimeoutConstant=0\r\n"
           "IPAddr=127.0.0.1\r\nLocalPort=" +
           std::to_string(localPort) +
           "\r\nRemotePort=13002\r\nFlowControl=None\r\nReopenOnReturn=0\r\n"
           "SeveralClients=0\r\nReplyToSender=0\r\nMulticastTTL=1\r\nMulticastLoop=1\r\n";
}

// The text of one section, header included, up to the next header.
std::string sectionText(const std::string &file, const std::string &name)
{
    const auto start = file.find("[" + name + "]\r\n");
    if (start == std::string::npos)
        return {};
    const auto end = file.find("\r\n[", start);
    return file.substr(start, end == std::string::npos ? std::string::npos : end + 2 - start);
}

} // namespace

TEST_F(MainWindowTest, RelayCountsBeyondAThousandLoadAThousand)
{
    const std::pair<std::string, std::size_t> counts[] = {
        {"2147483647", 1000}, {"1001", 1000}, {"-2147483648", 0}};
    for (const auto &[stored, loaded] : counts) {
        SCOPED_TRACE(stored);
        writeSettings("[Other]\r\nTransNum=" + stored + "\r\n" + relaySection(999, "0", 4999));
        open();
        ASSERT_EQ(window->Engine().Relays().size(), loaded);
        ASSERT_EQ(find<QListWidget>("lstTransmit")->count(), static_cast<int>(loaded));
        if (loaded == 1000) {
            EXPECT_EQ(window->Engine().Relays()[999].Channel.LocalPort, 4999);
            EXPECT_EQ(find<QListWidget>("lstTransmit")->item(999)->checkState(), Qt::Unchecked);
        }
        close();
        const TIniFile saved(settingsPath());
        EXPECT_EQ(saved.ReadInteger("Other", "TransNum", -1), static_cast<int>(loaded));
        EXPECT_EQ(saved.ReadInteger("Trans999", "LocalPort", -1), 4999);
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(MainWindowTest, WhatTheProgramDoesNotKnowStaysAndLineBreaksBecomeBlanks)
{
    writeSettings("; written by hand\r\n[Plugin]\r\nColour=blue\r\n"
                  "[Main]\r\nMethod=UDP\r\nFuture=1\r\n"
                  "[Other]\r\nTransNum=1\r\nHidden=yes\r\n" +
                  relaySection(0, "1", 2000) + relaySection(7, "1", 2007));
    open();
    find<QComboBox>("cboSend")->setEditText("first\r\nsecond");
    find<QLineEdit>("edtLeader")->setText("lead\nin");
    ASSERT_TRUE(find<QComboBox>("cboSend")->currentText().contains('\n')) << "a pasted text";
    close();

    const std::string saved = readSettings();
    for (const char *kept :
         {"; written by hand\r\n[Plugin]\r\nColour=blue\r\n[Main]\r\n",
          "Method=UDP\r\nFuture=1\r\nPort=", "TransNum=1\r\nHidden=yes\r\n", "LocalPort=2007\r\n",
          "SendText=first  second\r\n", "LeaderText=lead in\r\n"})
        EXPECT_NE(saved.find(kept), std::string::npos) << kept << "\n" << saved;
    EXPECT_EQ(saved.find("\nsecond"), std::string::npos);
    for (std::size_t at = 0; (at = saved.find('\n', at)) != std::string::npos; ++at)
        ASSERT_EQ(saved[at - 1], '\r') << "every line ends with CR LF";
}

TEST_F(MainWindowTest, ANumberThatDoesNotConvertAtExitStillSavesTheRest)
{
    const std::string mainSection = "[Main]\r\nMethod=Serial\r\nPort=COM7\r\nBaudrate=19200\r\n";
    writeSettings(mainSection + "[Other]\r\nTransNum=1\r\nAutoSendPeriod=1000\r\n" +
                  relaySection(0, "1", 2000));
    open();
    find<QComboBox>("cboBaudrate")->setEditText("fast");
    find<QComboBox>("cboCOMPort")->setEditText("COM3");
    find<QSpinBox>("edtSendPeriod")->setValue(250);
    find<QListWidget>("lstTransmit")->item(0)->setCheckState(Qt::Unchecked);
    close();

    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "'fast' is not a valid integer value");
    const std::string saved = readSettings();
    EXPECT_EQ(sectionText(saved, "Main"), mainSection) << "the main section keeps what it had";
    EXPECT_NE(saved.find("AutoSendPeriod=250\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("SendText=Marlowen\r\n"), std::string::npos) << saved;
    EXPECT_EQ(sectionText(saved, "Trans0"), relaySection(0, "0", 2000));
}

// A settings file the program may not read: the window starts with the
// defaults, and the exit leaves the file as it was, relays and all, without a
// second word about it.
TEST_F(MainWindowTest, ASettingsFileThatCannotBeReadIsNotOverwrittenAtExit)
{
    const std::string stored =
        "[Main]\r\nMethod=UDP\r\n[Other]\r\nTransNum=1\r\n" + relaySection(0, "1", 2000);
    writeSettings(stored);
    {
        const TUnreadableFile denied(settingsPath());
        open();
    }
    EXPECT_EQ(find<QListWidget>("lstTransmit")->count(), 0) << "started with the defaults";
    const std::size_t atStart = messages.size();
    close();
    EXPECT_EQ(readSettings(), stored);
    EXPECT_EQ(messages.size(), atStart);
}

// Two copies of the real program, each started on its own version of one
// settings file, are told to end at the same moment. The file left behind is
// one copy's whole file: its relay count, its relay sections, its unknown keys.
TEST(ProgramCopies, ExitingTogetherLeaveOneCopysWholeFile)
{
    const TProgramCopy program;
    const std::string &ini = program.Ini;
    auto version = [](const std::string &who, int relays, int firstPort) {
        std::string text = "[Other]\r\nTransNum=" + std::to_string(relays) + "\r\nWho=" + who +
                           "\r\n[Plugin]\r\nMark=" + who + "\r\n";
        for (int i = 0; i < relays; ++i)
            text += relaySection(i, "1", firstPort + i);
        return text;
    };
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        QProcess copies[2];
        const std::pair<std::string, std::string> versions[] = {{"A", version("A", 3, 2000)},
                                                                {"B", version("B", 5, 3000)}};
        for (int i = 0; i < 2; ++i) {
            std::ofstream(ini, std::ios::binary | std::ios::trunc) << versions[i].second;
            ASSERT_TRUE(program.StartAndAwaitSettingsRead(copies[i])) << versions[i].first;
        }
        for (QProcess &copy : copies)
            ::kill(static_cast<pid_t>(copy.processId()), SIGTERM);
        for (QProcess &copy : copies) {
            ASSERT_TRUE(copy.waitForFinished(20000));
            EXPECT_EQ(copy.exitStatus(), QProcess::NormalExit);
        }

        const TIniFile saved(ini);
        const std::string who = saved.ReadString("Other", "Who", "");
        ASSERT_TRUE(who == "A" || who == "B") << who;
        const int relays = who == "A" ? 3 : 5;
        const int firstPort = who == "A" ? 2000 : 3000;
        EXPECT_EQ(saved.ReadString("Plugin", "Mark", ""), who);
        EXPECT_EQ(saved.ReadInteger("Other", "TransNum", -1), relays);
        const std::string file = kestrune::ReadWholeFile(ini).value_or("");
        for (int i = 0; i < 5; ++i) {
            const std::string section = sectionText(file, "Trans" + std::to_string(i));
            if (i < relays)
                EXPECT_EQ(section, relaySection(i, "1", firstPort + i));
            else
                EXPECT_EQ(section, "") << "copy " << who << " never had relay " << i;
        }
        EXPECT_NE(file.find("SendText=Marlowen\r\n"), std::string::npos) << "the exit steps ran";
    }
}
