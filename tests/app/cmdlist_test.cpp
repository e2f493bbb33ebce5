// Auto send and command lists, driven through the real window against a
// loopback TCP server that plays the device.
#include "MainWindowFixture.h"
#include "TestPeers.h"

#include "engine/Timer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <sys/stat.h>
#include <vector>

using namespace kestrune;
using namespace kestrune::testing;

class CommandListTest : public MainWindowTest
{
protected:
    // Opens the window with its main channel as a TCP client of `device`.
    void startLinkedTo(const std::string &extraSettings = {})
    {
        ASSERT_TRUE(device.Listen());
        writeSettings("[Main]\r\nMethod=TCPClient\r\nIPAddr=127.0.0.1\r\nRemotePort=" +
                      std::to_string(device.Port()) + "\r\n" + extraSettings);
        open();
        window->show();
        QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
        ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop");
        ASSERT_TRUE(device.Accept());
    }

    // Writes a command file and runs it with the list button.
    void runList(const std::string &content)
    {
        const QString path = dir.filePath(QStringLiteral("commands.txt"));
        std::ofstream(path.toStdString(), std::ios::binary) << content;
        dialogs::SetOpenFileHook([path](const QString &, const QString &) { return path; });
        clickList();
    }

    void clickList() { QTest::mouseClick(find<QPushButton>("btnCmdSequ"), Qt::LeftButton); }
    QString listCaption() const { return find<QPushButton>("btnCmdSequ")->text(); }
    QString progress() const { return find<QLabel>("stpMain")->text(); }
    QString sendPane() const { return find<QLabel>("stpSend")->text(); }
    bool sendEnabled() const { return find<QPushButton>("btnSend")->isEnabled(); }
    TTimer *timer(const char *name) const { return find<TTimer>(name); }

    TSocketPeer device;
};

// --- Running a list ---------------------------------------------------------

TEST_F(CommandListTest, SendLinesGoOutBackToBackAndTheListEndsReady)
{
    startLinkedTo();
    // Mixed data is read with the bracket pair chosen at the time.
    find<QComboBox>("cboEscChar")->setCurrentIndex(1);
    runList("S:H:01 02\nS:S:AB\r\n; a comment\n\nS:M:x[03]{42}");
    EXPECT_EQ(device.Read(10), std::string("\x01\x02"
                                           "ABx\x03{42}",
                                           10));
    EXPECT_EQ(progress(), "Ready");
    EXPECT_EQ(listCaption(), "Exec Cmd List");
    EXPECT_TRUE(sendEnabled());
    EXPECT_EQ(sendPane(), "Send: 10B, 3P.");
    EXPECT_TRUE(messages.empty());
}

TEST_F(CommandListTest, MalformedLinesAreSkippedAndTheListGoesOn)
{
    startLinkedTo();
    std::string file;
    file += std::string("\x00\xff\x01S:S:binary\n", 12);
    // With the 12 bytes before it (no line end among them), the longest line read.
    file += "S:X:" + std::string((1 << 20) - 16, 'z') + "\r\n";
    file += "SXS:no\n S:S:no\nS:X:no\nS:S\nR:T:\nR:T\nR:T5\nR:T9999999999:S:no\n";
    file += "T4294967296\nTx\nT 5 \nS:S:ok\nlone\rCR\n";
    runList(file);
    EXPECT_EQ(device.Read(3, 2000), "ok");
    EXPECT_EQ(progress(), "Ready");
    EXPECT_TRUE(messages.empty());
}

// --- Reply lines ------------------------------------------------------------

TEST_F(CommandListTest, ReplyLineGoesOnWhenTheReplyComesOrTheTimeOutIsOver)
{
    const struct
    {
        const char *list;
        std::vector<std::string> replyBlocks;
        const char *progress;
    } rows[] = {
        // Time-outs far beyond the read deadline: only the match can send "ok".
        {"R:T60000:H:06\nS:S:ok\n", {"\x06"}, "Wait data, Timeout=60000ms."},
        {"r:t60000:s:OK\nS:S:ok\n", {"xxO", "Kyy"}, "Wait data, Timeout=60000ms."},
        {"R:T300:H:06\nS:S:ok\n", {}, "Wait data, Timeout=300ms."},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.list);
        device.Close();
        startLinkedTo();
        runList(row.list);
        EXPECT_EQ(progress(), row.progress);
        EXPECT_EQ(listCaption(), "Cancelling");
        EXPECT_FALSE(sendEnabled());
        // Nothing goes out before the whole reply or the time-out.
        EXPECT_EQ(device.Read(2, 100), "");
        for (const std::string &block : row.replyBlocks) {
            EXPECT_TRUE(device.Send(block));
            if (&block != &row.replyBlocks.back()) {
                EXPECT_EQ(device.Read(2, 100), "");
            }
        }
        EXPECT_EQ(device.Read(2, 5000), "ok");
        EXPECT_TRUE(WaitFor([&] { return progress() == "Ready"; }));
        EXPECT_FALSE(timer("tmrCmdSequ")->Enabled());
        close();
    }
}

TEST_F(CommandListTest, EarlierDataAndRelayDataNeverSatisfyAWait)
{
    TSocketPeer relayPeer;
    ASSERT_TRUE(relayPeer.BindUdp());
    const int relayPort = TSocketPeer::FreePort(true);
    startLinkedTo("[Other]\r\nTransNum=1\r\n[Trans0]\r\nEnable=1\r\nMethod=UDP\r\n"
                  "IPAddr=127.0.0.1\r\nLocalPort=" +
                  std::to_string(relayPort) + "\r\nRemotePort=" + std::to_string(relayPeer.Port()) +
                  "\r\n");
    ASSERT_TRUE(window->Engine().RelayOpen(0));

    runList("T300\nR:T60000:S:OK\nS:S:go\n");
    EXPECT_EQ(progress(), "Wait 300ms.");
    EXPECT_TRUE(device.Send("OK")); // before the wait begins
    ASSERT_TRUE(WaitFor([&] { return progress() == "Wait data, Timeout=60000ms."; }));

    EXPECT_TRUE(relayPeer.SendTo("OK", relayPort)); // reaches the device, not the wait
    EXPECT_EQ(device.Read(2, 2000), "OK");
    EXPECT_EQ(device.Read(2, 300), "");
    EXPECT_EQ(progress(), "Wait data, Timeout=60000ms.");

    EXPECT_TRUE(device.Send("OK"));
    EXPECT_EQ(device.Read(2, 5000), "go");
}

// A reply line without a time-out (none, 0 or less) waits as long as it takes:
// the list goes on when the reply arrives, and Cancel ends the wait.
TEST_F(CommandListTest, ReplyWithoutTimeOutWaitsForItsReplyWithoutLimit)
{
    startLinkedTo();
    for (const char *line : {"R:S:OK", "R:T0:S:OK", "R:T-5:S:OK"}) {
        SCOPED_TRACE(line);
        runList(std::string(line) + "\nS:S:go\n");
        EXPECT_FALSE(timer("tmrCmdSequ")->Enabled());
        EXPECT_EQ(device.Read(2, 200), "");
        EXPECT_EQ(listCaption(), "Cancelling");
        EXPECT_FALSE(sendEnabled());
        EXPECT_TRUE(device.Send("OK"));
        EXPECT_EQ(device.Read(2), "go");
        EXPECT_TRUE(WaitFor([&] { return listCaption() == "Exec Cmd List"; }));
    }

    runList("R:S:never\nS:S:go\n");
    EXPECT_EQ(progress(), "Wait data, until the reply comes.");
    clickList();
    EXPECT_EQ(listCaption(), "Exec Cmd List");
    EXPECT_EQ(progress(), "Command list cancelled.") << "the pane does not go on showing the wait";
    EXPECT_TRUE(sendEnabled());
    EXPECT_TRUE(device.Send("never"));
    EXPECT_EQ(device.Read(2, 300), "") << "a cancelled wait never resumes";
}

// A long list runs a few lines per turn of the event loop, and a send line
// waits while the main channel holds more than 1 MiB for a peer that does
// not read, so the queue stays bounded; reading resumes the list.
TEST_F(CommandListTest, LongListYieldsToTheEventLoopAndWaitsForAFullQueue)
{
    startLinkedTo();
    std::string file;
    const std::string line = "S:S:" + std::string(1000, 'x') + "\n";
    for (int i = 0; i < 20'000; ++i)
        file += line;
    int turns = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++turns; });
    ticker.start(0);
    runList(file);
    EXPECT_EQ(listCaption(), "Cancelling") << "the click returns before the list is done";
    std::size_t mostQueued = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            mostQueued = std::max(mostQueued, window->Engine().Session().MainQueuedBytes());
            return sendPane().startsWith("Send: ") &&
                   window->Engine().Session().MainQueuedBytes() > 1000000;
        },
        20000));
    Pump(300);
    const QString stalled = sendPane();
    EXPECT_NE(stalled, "Send: 20000000B, 20000P.") << "the peer reads nothing, so the list waits";
    EXPECT_GT(turns, 10) << "the event loop kept running";

    // The peer reads everything: the list drains the rest and ends.
    std::size_t got = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            mostQueued = std::max(mostQueued, window->Engine().Session().MainQueuedBytes());
            got += device.Read(1 << 20, 1).size();
            return got == 20'000'000;
        },
        60000));
    EXPECT_TRUE(WaitFor([&] { return listCaption() == "Exec Cmd List"; }));
    EXPECT_EQ(sendPane(), "Send: 20000000B, 20000P.");
    EXPECT_LT(mostQueued, std::size_t{1024 * 1024 + 64 * 1001}) << "the queue stayed bounded";
}

TEST_F(CommandListTest, CancelDuringADelayStopsTheList)
{
    startLinkedTo();
    runList("S:S:a\nT200\nS:S:b\n");
    EXPECT_EQ(device.Read(1), "a");
    clickList();
    EXPECT_EQ(progress(), "Command list cancelled.");
    EXPECT_TRUE(sendEnabled());
    EXPECT_EQ(device.Read(1, 500), "");
    EXPECT_EQ(sendPane(), "Send: 1B, 1P.");
}

// --- Ends that come from the channel ----------------------------------------

TEST_F(CommandListTest, StopAndAServerLeavingEndTheList)
{
    for (const bool serverLeaves : {false, true}) {
        SCOPED_TRACE(serverLeaves ? "server leaves" : "Stop");
        device.Close();
        startLinkedTo();
        runList("S:S:a\nT200\nS:S:b\n");
        EXPECT_EQ(device.Read(1), "a");
        if (serverLeaves)
            device.Close();
        else
            QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
        ASSERT_TRUE(WaitFor([&] { return find<QPushButton>("btnStart")->text() == "Start"; }));
        EXPECT_EQ(listCaption(), "Exec Cmd List");
        EXPECT_FALSE(sendEnabled());
        EXPECT_FALSE(timer("tmrCmdSequ")->Enabled());
        Pump(400);
        EXPECT_EQ(sendPane(), "Send: 1B, 1P.");
        close();
    }
}

TEST_F(CommandListTest, SendStaysOffAfterAListWhenTheServerLostItsClient)
{
    const int port = TSocketPeer::FreePort();
    writeSettings("[Main]\r\nMethod=TCPServer\r\nLocalPort=" + std::to_string(port) + "\r\n");
    open();
    window->show();
    QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
    TSocketPeer client;
    ASSERT_TRUE(client.Connect(port));
    ASSERT_TRUE(WaitFor([&] { return sendEnabled(); }));
    runList("R:S:never\n");
    client.Close();
    ASSERT_TRUE(WaitFor([&] { return find<QLabel>("stpStatus")->text() == "Listening"; }));
    clickList();
    EXPECT_EQ(listCaption(), "Exec Cmd List");
    EXPECT_FALSE(sendEnabled());
}

TEST_F(CommandListTest, AFrameThatCannotBeLoggedStillGoesOutAndLoggingStops)
{
    startLinkedTo();
    QDir(dir.path()).mkdir(QStringLiteral("CommLog.txt"));
    find<QCheckBox>("chkLogToFile")->setChecked(true);
    runList("S:S:a\nS:S:b\n");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains("Is a directory")) << messages[0].text.toStdString();
    EXPECT_FALSE(find<QCheckBox>("chkLogToFile")->isChecked());
    EXPECT_EQ(device.Read(2), "ab");
    EXPECT_TRUE(WaitFor([&] { return listCaption() == "Exec Cmd List"; }));
}

TEST_F(CommandListTest, ALineOverOneMebibyteEndsTheListNamingItsNumber)
{
    startLinkedTo();
    runList("S:S:a\nS:S:b\nS:S:" + std::string((1 << 20) + 1, 'z') + "\nS:S:never\n");
    EXPECT_EQ(device.Read(2), "ab");
    ASSERT_TRUE(WaitFor([&] { return !messages.empty(); }));
    EXPECT_TRUE(messages[0].text.contains("Line 3")) << messages[0].text.toStdString();
    EXPECT_EQ(listCaption(), "Exec Cmd List");
    EXPECT_EQ(device.Read(5, 300), "");
}

// --- Choosing the file --------------------------------------------------------

TEST_F(CommandListTest, FilesThatStartNoList)
{
    startLinkedTo();
    QDir(dir.path()).mkdir(QStringLiteral("folder"));
    std::ofstream((dir.path() + "/empty.txt").toStdString());
    // A FIFO nobody writes would block the window in open(); a character
    // device without end would grow one line for good.
    ASSERT_EQ(::mkfifo((dir.path() + "/fifo").toStdString().c_str(), 0600), 0);
    const struct
    {
        QString file; // relative to the test folder (or absolute); empty: the dialog is cancelled
        const char *error;
    } rows[] = {
        {"", nullptr},
        {"empty.txt", nullptr},
        {"missing.txt", "No such file or directory"},
        {"folder", "Is a directory"},
        {"fifo", "Not a regular file"},
        {"/dev/zero", "Not a regular file"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.file.toStdString());
        messages.clear();
        const QString path = row.file.isEmpty()         ? QString()
                             : row.file.startsWith("/") ? row.file
                                                        : dir.filePath(row.file);
        QString askedFolder;
        dialogs::SetOpenFileHook([&](const QString &folder, const QString &filter) {
            askedFolder = folder;
            EXPECT_EQ(filter, "Any file (*)") << "a file without a dot must be listed";
            return path;
        });
        clickList();
        EXPECT_FALSE(askedFolder.isEmpty());
        EXPECT_EQ(listCaption(), "Exec Cmd List");
        EXPECT_TRUE(sendEnabled());
        if (row.error) {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_TRUE(messages[0].text.contains(row.error)) << messages[0].text.toStdString();
            EXPECT_TRUE(messages[0].text.contains(path)) << "the message names the file";
        } else {
            EXPECT_TRUE(messages.empty());
        }
    }
    EXPECT_EQ(sendPane(), "Send: 0B, 0P.");
}

// --- Auto send ----------------------------------------------------------------

TEST_F(CommandListTest, AutoSendFollowsItsBoxAndPeriod)
{
    startLinkedTo();
    auto *box = find<QCheckBox>("chkAutoSend");
    auto *period = find<QSpinBox>("edtSendPeriod");
    find<QComboBox>("cboSend")->setEditText("x");
    for (const int ms : {0, -5}) {
        box->setChecked(false);
        period->setValue(ms);
        box->setChecked(true);
        EXPECT_FALSE(timer("tmrAutoSend")->Armed()) << ms;
    }
    Pump(150);
    EXPECT_EQ(device.Read(1, 50), "");

    box->setChecked(false);
    period->setValue(60000);
    box->setChecked(true);
    ASSERT_TRUE(timer("tmrAutoSend")->Armed());
    period->setValue(20);
    EXPECT_EQ(timer("tmrAutoSend")->Interval(), 60000); // not before the edit is left
    emit period->editingFinished();
    EXPECT_EQ(timer("tmrAutoSend")->Interval(), 20);
    EXPECT_EQ(device.Read(3, 5000), "xxx");
    box->setChecked(false);
    EXPECT_FALSE(timer("tmrAutoSend")->Enabled());
}

TEST_F(CommandListTest, AutoSendStaysOffAfterAListThoughItsBoxIsChecked)
{
    startLinkedTo();
    find<QComboBox>("cboSend")->setEditText("x");
    find<QSpinBox>("edtSendPeriod")->setValue(60000);
    find<QCheckBox>("chkAutoSend")->setChecked(true);
    runList("S:S:a\n");
    EXPECT_EQ(progress(), "Ready");
    EXPECT_TRUE(find<QCheckBox>("chkAutoSend")->isChecked());
    EXPECT_FALSE(timer("tmrAutoSend")->Enabled());
    // Clicking the box twice brings it back.
    find<QCheckBox>("chkAutoSend")->setChecked(false);
    find<QCheckBox>("chkAutoSend")->setChecked(true);
    EXPECT_TRUE(timer("tmrAutoSend")->Enabled());
}
