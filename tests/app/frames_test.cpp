// Frames in the real window's views: one line per datagram on UDP, gap framing
// on a serial line (a pty), the option saved and off by default, and the find
// bar driven by its widgets.
#include "MainWindowFixture.h"
#include "TestPeers.h"

#include "app/view/HistoryView.h"
#include "codec/Format.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>

#include <memory>

using namespace kestrune;
using namespace kestrune::testing;
using namespace std::string_literals;

namespace {

// The lines of a framed view: each starts with a time to the millisecond.
QStringList Lines(const std::string &text)
{
    return QString::fromStdString(text).split('\n');
}

const QRegularExpression TimedLine(R"(^(\d\d):(\d\d):(\d\d)\.(\d\d\d) (.*)$)");

int MsOfDay(const QString &line)
{
    const auto m = TimedLine.match(line);
    return m.hasMatch() ? ((m.captured(1).toInt() * 60 + m.captured(2).toInt()) * 60 +
                           m.captured(3).toInt()) *
                                  1000 +
                              m.captured(4).toInt()
                        : -1;
}

} // namespace

class FramesTest : public MainWindowTest
{
protected:
    THistoryView *recv() const { return find<THistoryView>("mmoRecv"); }

    void start()
    {
        QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
        ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop")
            << (messages.empty() ? "" : messages[0].text.toStdString());
    }

    // Turns "Show frames" on through the receive view's context menu.
    void showFrames(THistoryView *view)
    {
        std::unique_ptr<QMenu> menu(view->CreateContextMenu());
        auto *action = menu->findChild<QAction *>("pmiShowFrames");
        ASSERT_NE(action, nullptr);
        ASSERT_FALSE(action->isChecked());
        action->setChecked(true);
    }

    bool viewHas(std::size_t lines)
    {
        return WaitFor([&] {
            window->FlushViewRedraw();
            return static_cast<std::size_t>(Lines(recv()->Text()).size()) >= lines;
        });
    }
};

TEST_F(FramesTest, EachDatagramIsALineWithItsTimeAndTheOptionIsSaved)
{
    TSocketPeer peer;
    ASSERT_TRUE(peer.BindUdp());
    const int local = TSocketPeer::FreePort(true);
    writeSettings("[Main]\r\nMethod=UDP\r\nIPAddr=127.0.0.1\r\nLocalPort=" + std::to_string(local) +
                  "\r\nRemotePort=" + std::to_string(peer.Port()) +
                  "\r\n[Other]\r\nDataMode=0\r\n");
    open();
    window->show();
    start();
    const std::vector<std::string> datagrams = {"\x01\x03\x00\x00"s,
                                                "\x01\x03\x04\xAA\xBB\xCC\xDD"s, "xyz"s};
    ByteString all;
    for (const std::string &d : datagrams) {
        ASSERT_TRUE(peer.SendTo(d, local));
        all += d;
        ASSERT_TRUE(WaitFor([&] {
            return window->Engine().RecvFrames().Size() ==
                   static_cast<std::size_t>(&d - &datagrams[0]) + 1;
        }));
        Pump(20);
    }
    // Off by default: exactly the plain text of the history.
    window->FlushViewRedraw();
    EXPECT_EQ(recv()->Text(), FormatData(all, dmHex, '{'));

    showFrames(recv());
    const QStringList lines = Lines(recv()->Text());
    ASSERT_EQ(lines.size(), 3) << recv()->Text();
    int last = -1;
    for (int i = 0; i < 3; ++i) {
        const auto m = TimedLine.match(lines[i]);
        ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
        EXPECT_EQ(m.captured(5).toStdString(), FormatData(datagrams[i], dmHex, '{'));
        EXPECT_GE(MsOfDay(lines[i]), last) << "times in order";
        last = MsOfDay(lines[i]);
    }
    close();
    EXPECT_NE(readSettings().find("ShowRecvFrames=1"), std::string::npos);
    EXPECT_NE(readSettings().find("ShowSendFrames=0"), std::string::npos);
    open();
    std::unique_ptr<QMenu> menu(find<THistoryView>("mmoRecv")->CreateContextMenu());
    EXPECT_TRUE(menu->findChild<QAction *>("pmiShowFrames")->isChecked()) << "read back";
}

TEST_F(FramesTest, SerialBytesAreCutIntoFramesAtSilencesLongerThanTheGap)
{
    TPty pty;
    ASSERT_TRUE(pty.Valid());
    // A long read interval puts both frames into one block: only the read
    // times can tell them apart. The gap and the pause are wide, so that a
    // loaded machine (a sanitizer build beside other work) still keeps the
    // pieces of one frame within the gap.
    writeSettings("[Main]\r\nMethod=Serial\r\nPort=" + pty.SlavePath() +
                  "\r\nBaudrate=115200\r\nReadIntervalTimeout=3000\r\nReadTimeoutConstant=0\r\n"
                  "[Other]\r\nDataMode=0\r\nShowRecvFrames=1\r\nFrameGap=500\r\n");
    open();
    window->show();
    start();
    EXPECT_EQ(window->Engine().Settings().General.FrameGap, 500);
    // A frame in three pieces a few milliseconds apart, a pause, then another.
    for (const std::string &piece : {"\x01\x03"s, "\x02\x00"s, "\x0A\x0B"s}) {
        ASSERT_TRUE(pty.Write(piece));
        Pump(5);
    }
    Pump(1500);
    ASSERT_TRUE(pty.Write("\x11\x12\x13"));
    ASSERT_TRUE(viewHas(2) && WaitFor([&] { return window->Engine().RecvFrames().Size() == 2; }))
        << recv()->Text();
    const QStringList lines = Lines(recv()->Text());
    ASSERT_EQ(lines.size(), 2) << recv()->Text();
    EXPECT_EQ(TimedLine.match(lines[0]).captured(5), "01 03 02 00 0A 0B");
    EXPECT_EQ(TimedLine.match(lines[1]).captured(5), "11 12 13");
    const int apart = MsOfDay(lines[1]) - MsOfDay(lines[0]);
    EXPECT_GE(apart, 1200) << "each line has the time its first byte was read";
    EXPECT_EQ(window->Engine().Session().Delivering().Relay, -1) << "only set during a delivery";
}

TEST_F(FramesTest, FindBarCountsMatchesAndStepsThroughThem)
{
    TSocketPeer peer;
    ASSERT_TRUE(peer.BindUdp());
    const int local = TSocketPeer::FreePort(true);
    writeSettings("[Main]\r\nMethod=UDP\r\nIPAddr=127.0.0.1\r\nLocalPort=" + std::to_string(local) +
                  "\r\nRemotePort=" + std::to_string(peer.Port()) +
                  "\r\n[Other]\r\nDataMode=2\r\nShowRecvFrames=1\r\n");
    open();
    window->show();
    start();
    // "OK" then CR LF split over two datagrams: the hex search finds it across
    // the frame boundary, the text search in Mixed finds "OK" twice.
    for (const char *d : {"OK\r", "\nOK"}) {
        ASSERT_TRUE(peer.SendTo(d, local));
        ASSERT_TRUE(WaitFor(
            [&] { return window->Engine().RecvFrames().Size() == (d[0] == 'O' ? 1u : 2u); }));
    }
    window->FlushViewRedraw();
    THistoryView *view = recv();
    view->setFocus();
    QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
    auto *edit = view->findChild<QLineEdit *>("edtFind");
    ASSERT_NE(edit, nullptr);
    ASSERT_TRUE(edit->isVisible());
    QTest::keyClicks(edit, "OK");
    auto *count = view->findChild<QLabel *>("lblFindCount");
    ASSERT_TRUE(WaitFor([&] { return count->text() == "2 matches"; }))
        << count->text().toStdString();
    QTest::keyClick(edit, Qt::Key_F3);
    const TTextPos first = view->SelectionStart();
    QTest::keyClick(edit, Qt::Key_F3);
    EXPECT_GT(view->SelectionStart(), first);
    QTest::keyClick(edit, Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(view->SelectionStart(), first);
    EXPECT_EQ(view->SelectedText(), "OK");

    view->findChild<QCheckBox *>("chkFindHex")->setChecked(true);
    edit->setText("0D 0A");
    ASSERT_TRUE(WaitFor([&] { return count->text() == "1 match"; })) << count->text().toStdString();
    view->findChild<QToolButton *>("btnFindNext")->click();
    EXPECT_EQ(view->SelectedText().toStdString(),
              "{0D}\n" + view->FramePrefix(window->Engine().RecvFrames().At(1)) + "{0A}");
}
