// The communication log as the window writes it: records of sent frames and
// received blocks in "CommLog.txt" of the current directory, and what happens
// when the file cannot be written.
#include "MainWindowFixture.h"
#include "TestPeers.h"

#include "common/IniFile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <regex>
#include <set>

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

// A log that cannot be written is reported once and logging goes off; the
// frames themselves still go out and count.
TEST_F(CommLogTest, UnwritableLogIsReportedOnceAndLoggingStops)
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
        send("02");
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].text.contains(row.reason)) << messages[0].text.toStdString();
        EXPECT_TRUE(messages[0].text.contains("CommLog.txt"));
        EXPECT_FALSE(find<QCheckBox>("chkLogToFile")->isChecked());
        EXPECT_TRUE(find<QLabel>("stpMessage")->text().contains(row.reason));
        EXPECT_EQ(sendPane(), "Send: 2B, 2P.");
        EXPECT_EQ(device.Read(2), "\x01\x02");
        close();
        QDir().rmdir(QString::fromStdString(logPath()));
        QFile::remove(QString::fromStdString(logPath()));
    }
}

// A flood into an unwritable log under real message boxes: the box of the
// first failure runs an event loop that goes on receiving, and no block may
// open a second box on top of it.
TEST_F(CommLogTest, UdpFloodIntoAnUnwritableLogOpensOneBox)
{
    dialogs::SetMessageHook({});
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(logPath())));
    const int port = TSocketPeer::FreePort(true);
    writeSettings("[Main]\r\nMethod=UDP\r\nIPAddr=127.0.0.1\r\nLocalPort=" + std::to_string(port) +
                  "\r\nRemotePort=" + std::to_string(TSocketPeer::FreePort(true)) +
                  "\r\n[Other]\r\nDataMode=0\r\n");
    open();
    window->show();
    QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
    ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop");
    find<QCheckBox>("chkLogToFile")->setChecked(true);

    std::set<QWidget *> boxes;
    int mostAtOnce = 0;
    QTimer watcher;
    QElapsedTimer sinceBox;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        int open = 0;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                ++open;
                if (boxes.insert(box).second)
                    sinceBox.start();
                // Answered after a while, as a person would.
                if (sinceBox.elapsed() > 500)
                    box->accept();
            }
        }
        mostAtOnce = std::max(mostAtOnce, open);
    });
    watcher.start(20);
    TSocketPeer flood;
    ASSERT_TRUE(flood.BindUdp());
    for (int i = 0; i < 300; ++i) {
        flood.SendTo(std::string(64, static_cast<char>(i)), port);
        Pump(3);
    }
    Pump(800);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(mostAtOnce, 1);
    EXPECT_FALSE(find<QCheckBox>("chkLogToFile")->isChecked());
    EXPECT_TRUE(find<QLabel>("stpMessage")->text().contains("Is a directory"));
    EXPECT_EQ(find<QPushButton>("btnStart")->text(), "Stop") << "the channel stays open";
}

// "Log file..." in the box's context menu names the log: a folder, a dated
// name, a new file at each start, and a size past which the next file
// begins; the running log moves there at once and the keys are saved. A
// folder that does not exist is refused with a message and changes nothing.
TEST_F(CommLogTest, LogFileMenuNamesTheFolderTheFileAndItsSize)
{
    startLogging(0);
    send("01");
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("logs")));
    const QString folder = dir.filePath(QStringLiteral("logs"));
    const auto edit = [&](const QString &folderText) {
        QTimer::singleShot(0, [&, folderText] {
            QWidget *dialog = QApplication::activeModalWidget();
            ASSERT_NE(dialog, nullptr);
            // Typed key by key over what the field held.
            const auto type = [&](const char *name, const QString &text) {
                auto *field = dialog->findChild<QLineEdit *>(name);
                field->selectAll();
                QTest::keyClicks(field, text);
            };
            type("edtLogFolder", folderText);
            type("edtLogName", QStringLiteral("Link-%Y.txt"));
            dialog->findChild<QCheckBox *>("chkLogAppend")->setChecked(false);
            type("edtLogRotateSize", QStringLiteral("60"));
            QTest::mouseClick(dialog->findChild<QPushButton *>("btnOK"), Qt::LeftButton);
            // Refused: the dialog stays open, and is left by Cancel.
            if (QApplication::activeModalWidget() == dialog)
                QTest::mouseClick(dialog->findChild<QPushButton *>("btnCancel"), Qt::LeftButton);
        });
        QAction *action = nullptr;
        for (QAction *a : find<QCheckBox>("chkLogToFile")->actions())
            if (a->objectName() == QStringLiteral("pmiLogFile"))
                action = a;
        ASSERT_NE(action, nullptr);
        action->trigger();
    };

    edit(dir.filePath(QStringLiteral("none")));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].text.indexOf(QStringLiteral("does not exist")), -1)
        << messages[0].text.toStdString();
    EXPECT_EQ(window->Engine().Settings().General.LogName, "CommLog.txt");

    edit(folder);
    const std::string year = QDate::currentDate().toString(QStringLiteral("yyyy")).toStdString();
    const QString first = folder + QStringLiteral("/Link-%1.txt").arg(QString::fromStdString(year));
    EXPECT_EQ(window->Engine().LogPath(), first.toStdString());
    for (int i = 0; i < 4; ++i)
        send(QStringLiteral("0A 0B 0C 0D"));
    // Each record is about 40 bytes: two fit under the size, then a new file.
    EXPECT_TRUE(QFile::exists(first));
    EXPECT_TRUE(
        QFile::exists(folder + QStringLiteral("/Link-%1-1.txt").arg(QString::fromStdString(year))))
        << QDir(folder).entryList().join(' ').toStdString();
    EXPECT_TRUE(logIs({" => 01"})) << "the first file stays where it was";

    close();
    const std::string saved = readSettings();
    EXPECT_NE(saved.find("LogName=Link-%Y.txt"), std::string::npos) << saved;
    EXPECT_NE(saved.find("LogAppend=0"), std::string::npos);
    EXPECT_NE(saved.find("LogRotateSize=60"), std::string::npos);
}
