// The communication log as the window writes it: records of sent frames and
// received blocks in "CommLog.txt" of the current directory, and what happens
// when the file cannot be written.
#include "MainWindowFixture.h"
#include "TestPeers.h"

#include "common/IniFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <fstream>
#include <regex>

using namespace kestrune;
using namespace kestrune::testing;

namespace {

const std::string Stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})";

} // namespace

class CommLogTest : public MainWindowTest
{
protected:
    // Opens the window in `dataMode` with its main channel as a TCP client of
    // `device`, logging switched on.
    void startLogging(int dataMode, const std::string &extraSettings = {})
    {
        ASSERT_TRUE(device.Listen());
        writeSettings("[Main]\r\nMethod=TCPClient\r\nIPAddr=127.0.0.1\r\nRemotePort=" +
                      std::to_string(device.Port()) + "\r\n[Other]\r\nDataMode=" +
                      std::to_string(dataMode) + "\r\n" + extraSettings);
        open();
        window->show();
        QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
        ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop");
        ASSERT_TRUE(device.Accept());
        find<QCheckBox>("chkLogToFile")->setChecked(true);
    }

    void send(const QString &text)
    {
        find<QComboBox>("cboSend")->setEditText(text);
        QTest::mouseClick(find<QPushButton>("btnSend"), Qt::LeftButton);
    }

    std::string logPath() const
    {
        return dir.filePath(QStringLiteral("CommLog.txt")).toStdString();
    }
    std::string log() const { return ReadWholeFile(logPath()).value_or("<no log>"); }
    QString sendPane() const { return find<QLabel>("stpSend")->text(); }

    // True when the log is exactly these records, each a time stamp, the
    // direction and the text given here, then CR LF.
    bool logIs(const std::vector<std::string> &records) const
    {
        std::string pattern;
        for (const std::string &r : records)
            pattern += Stamp + r + "\r\n";
        return std::regex_match(log(), std::regex(pattern));
    }

    TSocketPeer device;
};

// --- Record format ------------------------------------------------------------

TEST_F(CommLogTest, SentFramesInHexAndALogDeletedMeanwhile)
{
    startLogging(0);
    send("01 02");
    send("");
    EXPECT_TRUE(logIs({" => 01 02", " => "})) << log();
    EXPECT_EQ(device.Read(2), "\x01\x02");
    EXPECT_EQ(sendPane(), "Send: 2B, 2P.");

    // A log deleted meanwhile is created again by the next record.
    ASSERT_TRUE(QFile::remove(QString::fromStdString(logPath())));
    send("03");
    EXPECT_TRUE(logIs({" => 03"})) << log();
}

TEST_F(CommLogTest, ReceivedCrLfReachesTheFileUnchangedInCharacterMode)
{
    startLogging(1);
    ASSERT_TRUE(device.Send("a\r\nb"));
    ASSERT_TRUE(WaitFor([&] { return log().find('b') != std::string::npos; }));
    EXPECT_TRUE(logIs({" <= a\r\nb"})) << log();
}

TEST_F(CommLogTest, RelayedBlockIsLoggedOnceAsReceived)
{
    TSocketPeer relayPeer;
    ASSERT_TRUE(relayPeer.BindUdp());
    const int relayPort = TSocketPeer::FreePort(true);
    startLogging(1, "TransNum=1\r\n[Trans0]\r\nEnable=1\r\nMethod=UDP\r\nIPAddr=127.0.0.1\r\n"
                    "LocalPort=" +
                        std::to_string(relayPort) +
                        "\r\nRemotePort=" + std::to_string(relayPeer.Port()) + "\r\n");
    ASSERT_TRUE(relayPeer.SendTo("xyz", relayPort));
    EXPECT_EQ(device.Read(3), "xyz");
    Pump(100);
    EXPECT_TRUE(logIs({" <= xyz"})) << log();
}

// --- When the file cannot be written --------------------------------------------

TEST_F(CommLogTest, UnwritableLogStopsTheFrameAndTheNextRecordTriesAgain)
{
    const struct
    {
        const char *name;
        const char *reason;
        std::function<bool(const std::string &)> block;
    } rows[] = {
        {"directory", "Is a directory",
         [](const std::string &path) { return QDir().mkdir(QString::fromStdString(path)); }},
        {"full disk", "No space left on device",
         [](const std::string &path) {
             return QFile::link(QStringLiteral("/dev/full"), QString::fromStdString(path));
         }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        device.Close();
        messages.clear();
        QFile::remove(QString::fromStdString(logPath()));
        startLogging(0);
        ASSERT_TRUE(row.block(logPath()));
        send("01");
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].text.contains(row.reason)) << messages[0].text.toStdString();
        EXPECT_TRUE(messages[0].text.contains("CommLog.txt"));
        EXPECT_EQ(sendPane(), "Send: 0B, 0P.");
        EXPECT_EQ(device.Read(1, 200), "");

        // Once the obstacle is gone the next frame is logged and sent.
        QDir().rmdir(QString::fromStdString(logPath()));
        QFile::remove(QString::fromStdString(logPath()));
        send("02");
        EXPECT_EQ(messages.size(), 1u);
        EXPECT_TRUE(logIs({" => 02"})) << log();
        EXPECT_EQ(device.Read(1), "\x02");
        close();
    }
}
