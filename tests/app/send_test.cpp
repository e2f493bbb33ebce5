// The send path of the real window: frames on the wire, the send-box list, the
// bounded send history, the send pane and the clear buttons.
#include "MainWindowFixture.h"
#include "TestPeers.h"

#include "app/view/HistoryView.h"
#include "codec/Format.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>

using namespace kestrune;
using namespace kestrune::testing;

namespace {

std::string Hex(const std::string &bytes)
{
    return FormatData(bytes, dmHex, '{');
}

} // namespace

class SendTest : public MainWindowTest
{
protected:
    // Opens the window with `other` settings and its main channel a TCP client of `device`.
    void startLinked(const std::string &other = "DataMode=0\r\n")
    {
        ASSERT_TRUE(device.Listen());
        writeSettings("[Main]\r\nMethod=TCPClient\r\nIPAddr=127.0.0.1\r\nRemotePort=" +
                      std::to_string(device.Port()) + "\r\n[Other]\r\n" + other);
        open();
        window->show();
        startedFrom = QDateTime::currentDateTime();
        QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
        startedTo = QDateTime::currentDateTime();
        ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop");
        ASSERT_TRUE(device.Accept());
    }

    void send(const QString &text)
    {
        find<QComboBox>("cboSend")->setEditText(text);
        QTest::mouseClick(find<QPushButton>("btnSend"), Qt::LeftButton);
    }

    // Waits until the view shows `text`; the views are redrawn on a later turn.
    bool viewShows(const char *view, const std::string &text)
    {
        return WaitFor([&] { return find<THistoryView>(view)->Text() == text; }, 2000);
    }

    TSocketPeer device;
    QDateTime startedFrom;
    QDateTime startedTo;
};

// --- Frames -----------------------------------------------------------------------

TEST_F(SendTest, FrameIsLeadDataCheckTailWithTheCheckOverTheDataAlone)
{
    startLinked();
    const struct
    {
        int check;
        bool leadTail;
        const char *lead;
        const char *data;
        const char *tail;
        std::string wire;
    } rows[] = {
        // Sum of 01 02 is 03: computed without AA and 55.
        {2, true, "AA", "01 02", "55", "\xAA\x01\x02\x03\x55"},
        {1, true, "7E", "01 03 00 00 00 01", "0D 0A",
         std::string("\x7E\x01\x03\x00\x00\x00\x01\x84\x0A\x0D\x0A", 11)},
        // Lead and tail typed but not included.
        {0, false, "AA", "10 20", "55", "\x10\x20"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.data);
        find<QComboBox>("cboCheck")->setCurrentIndex(row.check);
        find<QLineEdit>("edtLeader")->setText(row.lead);
        find<QLineEdit>("edtTail")->setText(row.tail);
        find<QCheckBox>("chkLeaderTail")->setChecked(row.leadTail);
        send(row.data);
        EXPECT_EQ(Hex(device.Read(row.wire.size() + 1, 300)), Hex(row.wire));
    }
}

// Keys go where a keyboard sends them: to the application's focus widget.
TEST_F(SendTest, EnterFromTheKeyboardSendsLikeTheButtonAndNothingWhileAListRuns)
{
    startLinked();
    auto *box = find<QComboBox>("cboSend");
    box->setFocus();
    ASSERT_TRUE(WaitFor([&] { return QApplication::focusWidget() != nullptr; }));
    const auto type = [](const QString &text, Qt::Key key) {
        QWidget *focus = QApplication::focusWidget();
        QTest::keyClick(focus, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(focus, text);
        QTest::keyClick(focus, key);
    };
    type("31 32", Qt::Key_Return);
    EXPECT_EQ(device.Read(3, 300), "12");
    type("33", Qt::Key_Enter);
    EXPECT_EQ(device.Read(2, 300), "3");
    EXPECT_EQ(find<QLabel>("stpSend")->text(), "Send: 3B, 2P.");
    EXPECT_EQ(box->count(), 2);

    // A list waiting for a reply keeps Send off: Enter sends nothing and
    // leaves the list of typed frames alone.
    const QString list = dir.filePath(QStringLiteral("wait.txt"));
    QFile file(list);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("R:S:never\n");
    file.close();
    dialogs::SetOpenFileHook([list](const QString &, const QString &) { return list; });
    QTest::mouseClick(find<QPushButton>("btnCmdSequ"), Qt::LeftButton);
    ASSERT_FALSE(find<QPushButton>("btnSend")->isEnabled());
    box->setFocus();
    type("34", Qt::Key_Return);
    EXPECT_EQ(device.Read(1, 200), "");
    EXPECT_EQ(find<QLabel>("stpSend")->text(), "Send: 3B, 2P.");
    EXPECT_EQ(box->count(), 2) << "the list is not touched either";
}

TEST_F(SendTest, FrameLongerThanOneSerialRequestArrivesWhole)
{
    TPty port;
    ASSERT_TRUE(port.Valid());
    writeSettings("[Main]\r\nMethod=Serial\r\nPort=" + port.SlavePath() +
                  "\r\nBaudrate=115200\r\n");
    open();
    QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
    ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop")
        << (messages.empty() ? "" : messages[0].text.toStdString());
    std::string frame(150000, '\0');
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<char>(i * 7 + i / 251);
    window->Engine().Transmit(frame);
    const std::string got = port.Read(frame.size(), 10000);
    EXPECT_EQ(got.size(), frame.size());
    EXPECT_TRUE(got == frame) << "bytes differ or are out of order";
    EXPECT_EQ(find<QLabel>("stpSend")->text(), "Send: 150000B, 1P.");
}

TEST_F(SendTest, FrameWithoutAnOpenChannelIsNeitherKeptNorCounted)
{
    startLinked();
    send("01");
    ASSERT_EQ(device.Read(1, 300), "\x01");
    QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton); // Stop
    // A command list that outlives its channel sends through here.
    window->Engine().Transmit("\x02");
    EXPECT_EQ(find<QLabel>("stpSend")->text(), "Send: 1B, 1P.");
    EXPECT_TRUE(viewShows("mmoSend", Hex("\x01")));
}

// A frame the endpoint refuses is not logged, kept, shown or counted; the
// status bar says why and no box interrupts, so an auto send stays quiet.
TEST_F(SendTest, RefusedFrameIsNotCountedAndTheStatusBarSaysWhy)
{
    writeSettings("[Main]\r\nMethod=TCPServer\r\nLocalPort=" +
                  std::to_string(TSocketPeer::FreePort()) + "\r\n[Other]\r\nDataMode=0\r\n");
    open();
    find<QCheckBox>("chkLogToFile")->setChecked(true);
    QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
    ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop");
    // Listening, no client: what a command list or a test can still try to send.
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(window->Engine().Transmit("\x01\x02"));
    window->FlushViewRedraw();
    EXPECT_EQ(find<QLabel>("stpSend")->text(), "Send: 0B, 0P.");
    EXPECT_TRUE(viewShows("mmoSend", ""));
    EXPECT_FALSE(QFile::exists(dir.filePath("CommLog.txt")));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(find<QLabel>("stpMessage")->text(), "No client is connected.");
}

// --- Send-box list ----------------------------------------------------------------

TEST_F(SendTest, SendListHoldsEachTextOnceMostRecentFirstInTheLastCase)
{
    startLinked("DataMode=1\r\n");
    auto *box = find<QComboBox>("cboSend");
    const struct
    {
        const char *text;
        QStringList items;
    } steps[] = {
        {"abc", {"abc"}},
        {"def", {"def", "abc"}},
        {"ABC", {"ABC", "def"}},
        {"xyz", {"xyz", "ABC", "def"}},
        {"Def", {"Def", "xyz", "ABC"}},
        {"Def", {"Def", "xyz", "ABC"}},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.text);
        send(step.text);
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        EXPECT_EQ(items, step.items);
        EXPECT_EQ(box->currentText(), step.text);
    }
}

// --- History ----------------------------------------------------------------------

TEST_F(SendTest, HistoryKeepsTheMostRecentBytesUnderTheLimit)
{
    const struct
    {
        const char *bufSize;
        std::vector<std::string> frames;
        std::string history;
    } rows[] = {
        {"10", {"12345678", "abcd"}, "345678abcd"},
        {"10", {"12345678", "abcdefghijklmno"}, "abcdefghijklmno"},
        {"0", {"12", "345", "6"}, "6"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.bufSize);
        device.Close();
        startLinked(std::string("DataMode=1\r\nBufSize=") + row.bufSize + "\r\n");
        for (const std::string &frame : row.frames)
            send(QString::fromStdString(frame));
        EXPECT_TRUE(viewShows("mmoSend", row.history)) << find<THistoryView>("mmoSend")->Text();
        close();
    }
}

// --- Pane and clear buttons -------------------------------------------------------

TEST_F(SendTest, PaneCountsFramesAndTheResetHintHasNoBlankBeforeTheCount)
{
    startLinked("DataMode=1\r\n");
    auto *pane = find<QLabel>("stpSend");
    EXPECT_EQ(pane->text(), "Send: 0B, 0P.");
    EXPECT_EQ(pane->toolTip(), QString::fromUtf8("发送计数"));
    send("1234");
    send("12345678");
    send("");
    EXPECT_EQ(pane->text(), "Send: 12B, 3P.");
    QStringList hints = PaneHints(startedFrom, startedTo, ", Total 12Bytes(3Pkgs).");
    EXPECT_TRUE(hints.contains(pane->toolTip())) << pane->toolTip().toStdString();

    const QDateTime from = QDateTime::currentDateTime();
    QTest::mouseDClick(pane, Qt::LeftButton);
    const QDateTime to = QDateTime::currentDateTime();
    EXPECT_EQ(pane->text(), "Send: 0B, 0P.");
    hints = PaneHints(from, to, ", Total0Bytes(0Pkgs).");
    EXPECT_TRUE(hints.contains(pane->toolTip())) << pane->toolTip().toStdString();

    send("x");
    EXPECT_EQ(pane->text(), "Send: 1B, 1P.");
}

TEST_F(SendTest, ClearButtonsEmptyViewsAndHistoriesButKeepCountersAndList)
{
    startLinked("DataMode=1\r\n");
    send("ab");
    ASSERT_TRUE(device.Send("xy"));
    ASSERT_TRUE(viewShows("mmoRecv", "xy"));
    ASSERT_TRUE(viewShows("mmoSend", "ab"));

    QTest::mouseClick(find<QPushButton>("btnClearSend"), Qt::LeftButton);
    EXPECT_EQ(find<THistoryView>("mmoSend")->Text(), "");
    EXPECT_EQ(find<THistoryView>("mmoRecv")->Text(), "xy");
    send("cd");
    EXPECT_TRUE(viewShows("mmoSend", "cd")) << "the history was emptied too";

    ASSERT_TRUE(device.Send("z"));
    ASSERT_TRUE(viewShows("mmoRecv", "xyz"));
    QTest::mouseClick(find<QPushButton>("btnClearAll"), Qt::LeftButton);
    EXPECT_EQ(find<THistoryView>("mmoSend")->Text(), "");
    EXPECT_EQ(find<THistoryView>("mmoRecv")->Text(), "");
    EXPECT_EQ(find<QLabel>("stpSend")->text(), "Send: 4B, 2P.");
    EXPECT_EQ(find<QLabel>("stpRecv")->text(), "Recv: 3B.");
    EXPECT_EQ(find<QComboBox>("cboSend")->count(), 2);

    ASSERT_TRUE(device.Send("!"));
    EXPECT_TRUE(viewShows("mmoRecv", "!"));
    QTest::mouseClick(find<QPushButton>("btnClearRecv"), Qt::LeftButton);
    EXPECT_EQ(find<THistoryView>("mmoRecv")->Text(), "");
    EXPECT_EQ(find<QLabel>("stpRecv")->text(), "Recv: 4B.");
}
