// History size, data mode, bracket pair and check choice in the real window.
#include "MainWindowFixture.h"
#include "TestPeers.h"

#include "app/view/HistoryView.h"
#include "codec/Format.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace kestrune;
using namespace kestrune::testing;

class RefreshTest : public MainWindowTest
{
protected:
    // Opens the window in `dataMode` with its main channel as a TCP client of `device`.
    void startLinked(int dataMode)
    {
        ASSERT_TRUE(device.Listen());
        writeSettings("[Main]\r\nMethod=TCPClient\r\nIPAddr=127.0.0.1\r\nRemotePort=" +
                      std::to_string(device.Port()) +
                      "\r\n[Other]\r\nDataMode=" + std::to_string(dataMode) + "\r\n");
        open();
        window->show();
        QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
        ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop");
        ASSERT_TRUE(device.Accept());
    }

    // Lets `bytes` arrive and waits until the receive counter shows them.
    void receive(const std::string &bytes)
    {
        const QString before = find<QLabel>("stpRecv")->text();
        ASSERT_TRUE(device.Send(bytes));
        ASSERT_TRUE(WaitFor([&] { return find<QLabel>("stpRecv")->text() != before; }));
    }

    void send(const QString &text)
    {
        find<QComboBox>("cboSend")->setEditText(text);
        QTest::mouseClick(find<QPushButton>("btnSend"), Qt::LeftButton);
    }

    std::string recvView() const { return find<THistoryView>("mmoRecv")->Text(); }
    std::string sendView() const { return find<THistoryView>("mmoSend")->Text(); }

    // Moves the focus from the size edit to the send box, as a user tabbing on would.
    void leaveSizeEdit(const QString &text)
    {
        auto *edit = find<QLineEdit>("edtBufSize");
        edit->setText(text);
        edit->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(WaitFor([&] { return edit->hasFocus(); }, 2000));
        find<QComboBox>("cboSend")->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
    }

    TSocketPeer device;
};

// --- History size ---------------------------------------------------------------

TEST_F(RefreshTest, SizeTextIsAppliedOrRefusedWhenTheEditIsLeft)
{
    open();
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(WaitFor([&] { return window->isActiveWindow(); }, 2000));
    auto *edit = find<QLineEdit>("edtBufSize");
    const struct
    {
        const char *text;
        std::int32_t size; // -1: refused
    } rows[] = {
        {"2M", 2097152}, {"0", 0},         {"abc", -1},       {"-3", -1}, {"100k", 102400},
        {"2048M", -1},   {"2097152k", -1}, {"99999999k", -1}, {"", -1},   {"2047M", 2146435072},
        {"12", 12},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        messages.clear();
        const std::int32_t before = window->Engine().Settings().General.BufSize;
        leaveSizeEdit(row.text);
        if (row.size >= 0) {
            EXPECT_TRUE(messages.empty());
            EXPECT_EQ(window->Engine().Settings().General.BufSize, row.size);
            EXPECT_FALSE(edit->hasFocus());
        } else {
            ASSERT_EQ(messages.size(), 1u);
            // The message names the field and what it holds.
            EXPECT_EQ(messages[0].text,
                      "Input invalid: Maximum History \"" + QString::fromUtf8(row.text) +
                          "\" is not a size (a number, k or M after it: 64k, 2M).");
            EXPECT_EQ(window->Engine().Settings().General.BufSize, before);
            EXPECT_TRUE(edit->hasFocus());
            EXPECT_EQ(edit->text(), row.text);
        }
    }

    // Leaving an unchanged invalid text again refuses it again.
    leaveSizeEdit("abc");
    messages.clear();
    find<QComboBox>("cboSend")->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(RefreshTest, NewSizeCutsTheHistoryAtTheNextAppend)
{
    startLinked(1);
    receive("abcdef");
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(WaitFor([&] { return window->isActiveWindow(); }, 2000));
    leaveSizeEdit("4");
    ASSERT_EQ(window->Engine().Settings().General.BufSize, 4);
    window->FlushViewRedraw();
    EXPECT_EQ(recvView(), "abcdef");
    receive("123");
    window->FlushViewRedraw();
    EXPECT_EQ(recvView(), "f123");
}

// --- Data mode and bracket pair -------------------------------------------------

TEST_F(RefreshTest, ModeChangeRedrawsBothViewsEvenWhilePaused)
{
    startLinked(0);
    auto *modes = find<QComboBox>("cboDataMode");
    find<QCheckBox>("chkRecvPause")->setChecked(true);
    find<QCheckBox>("chkSendPause")->setChecked(true);
    receive("AB");
    send("43");
    window->FlushViewRedraw();
    ASSERT_EQ(recvView(), "");
    ASSERT_EQ(sendView(), "");

    // The mode already chosen redraws nothing.
    window->cboDataModeChange();
    EXPECT_EQ(recvView(), "");

    modes->setCurrentIndex(1);
    EXPECT_EQ(recvView(), "AB");
    EXPECT_EQ(sendView(), "C");

    // The bracket list is only of use in Mixed mode.
    for (const int mode : {0, 2, 1, 2}) {
        modes->setCurrentIndex(mode);
        EXPECT_EQ(find<QComboBox>("cboEscChar")->isEnabled(), mode == 2) << mode;
    }
}

TEST_F(RefreshTest, BracketChangeRedrawsInEveryMode)
{
    const ByteString bytes("\x01"
                           "a",
                           2);
    for (const int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        device.Close();
        startLinked(mode);
        find<QCheckBox>("chkRecvPause")->setChecked(true);
        receive(bytes);
        window->FlushViewRedraw();
        ASSERT_EQ(recvView(), "");
        find<QComboBox>("cboEscChar")->setCurrentIndex(3); // "<>"
        EXPECT_EQ(recvView(), FormatData(bytes, static_cast<TDataMode>(mode), '<'));
        if (mode == 0) {
            EXPECT_EQ(recvView(), "01 61");
        } else if (mode == 2) {
            EXPECT_EQ(recvView(), "<01>a");
        }
        close();
    }
}

// --- Check ------------------------------------------------------------------------

TEST_F(RefreshTest, ChosenCheckIsAppendedToTheNextFrame)
{
    startLinked(0);
    const struct
    {
        int check;
        std::string tail;
    } rows[] = {
        {1, std::string("\x84\x0A", 2)},
        {2, std::string("\x05", 1)},
        {3, std::string("\xFA", 1)},
        {0, ""},
    };
    const std::string data("\x01\x03\x00\x00\x00\x01", 6);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.check);
        find<QComboBox>("cboCheck")->setCurrentIndex(row.check);
        send("01 03 00 00 00 01");
        EXPECT_EQ(device.Read(data.size() + row.tail.size()), data + row.tail);
    }
}
