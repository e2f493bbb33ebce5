// Text as users write it, through the real window: encodings on the wire and
// in the views, search and Save As; quick-send buttons; the shortcuts; and the
// window's behaviour a new user tripped over.
#include "MainWindowFixture.h"
#include "TestPeers.h"

#include "app/QuickSendBar.h"
#include "app/SerialLinesPane.h"
#include "app/WidgetKit.h"
#include "app/view/HistoryView.h"
#include "encoding/ByteCells.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRawFont>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>

using namespace kestrune;
using namespace kestrune::testing;

namespace {

const std::string Zhong = "\xE4\xB8\xAD"; // U+4E2D in UTF-8
const std::string Wen = "\xE6\x96\x87";   // U+6587

} // namespace

class TextTest : public MainWindowTest
{
protected:
    // Opens the window as a TCP client of `device`, with `other` in [Other].
    void startLinked(const std::string &other)
    {
        ASSERT_TRUE(device.Listen());
        writeSettings("[Main]\r\nMethod=TCPClient\r\nIPAddr=127.0.0.1\r\nRemotePort=" +
                      std::to_string(device.Port()) + "\r\n[Other]\r\n" + other);
        open();
        window->show();
        QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
        ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop");
        ASSERT_TRUE(device.Accept());
    }

    bool recvShows(const std::string &text)
    {
        return WaitFor([&] { return find<THistoryView>("mmoRecv")->Text() == text; }, 3000);
    }

    // Keys go to the application's focus widget, as a keyboard sends them.
    static void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget *focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QTest::keyClick(focus, static_cast<Qt::Key>(key), modifiers);
    }

    TSocketPeer device;
};

// The same text from a peer in UTF-8 and in GB18030: shown whole in Character
// and Mixed modes, found by search, saved by Save As, and typed text goes out
// in the encoding.
TEST_F(TextTest, PeerTextShowsSearchesSavesAndIsTypedInTheChosenEncoding)
{
    startLinked("DataMode=1\r\nEncoding=UTF-8\r\n");
    auto *view = find<THistoryView>("mmoRecv");
    const struct
    {
        const char *encoding;
        std::string wire;  // "中文{" and a byte no encoding here decodes
        std::size_t zhong; // bytes of the first character
    } rows[] = {
        {"UTF-8", Zhong + Wen + "{\xFF", 3},
        {"GB18030", "\xD6\xD0\xCE\xC4{\xFF", 2},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.encoding);
        find<QComboBox>("cboEncoding")->setCurrentText(QString::fromLatin1(row.encoding));
        QTest::mouseClick(find<QPushButton>("btnClearAll"), Qt::LeftButton);
        find<QComboBox>("cboDataMode")->setCurrentIndex(dmCharacter);
        ASSERT_TRUE(device.Send(row.wire));
        EXPECT_TRUE(recvShows(Zhong + Wen + "{\xEF\xBF\xBD"));
        find<QComboBox>("cboDataMode")->setCurrentIndex(dmMixed);
        EXPECT_TRUE(recvShows(Zhong + Wen + "{7B}{FF}"));

        view->Find(QString::fromUtf8(Wen), false);
        ASSERT_TRUE(WaitFor([&] { return view->Search().Done(); }));
        ASSERT_EQ(view->Search().Matches().size(), 1u);
        EXPECT_EQ(view->Search().Matches()[0] - view->Layout().Bytes().Begin(), row.zhong);

        const QString path = dir.filePath(QStringLiteral("saved.txt"));
        ASSERT_TRUE(view->SaveText(path));
        QFile saved(path);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_EQ(saved.readAll().toStdString(), Zhong + Wen + "{7B}{FF}");

        find<QComboBox>("cboSend")->setEditText(QString::fromUtf8(Zhong + "{0D}"));
        QTest::mouseClick(find<QPushButton>("btnSend"), Qt::LeftButton);
        const std::string zhongOnWire = row.wire.substr(0, row.zhong);
        EXPECT_EQ(device.Read(zhongOnWire.size() + 2, 2000), zhongOnWire + "\r");
    }
    // A character the encoding lacks is left out and named, never sent as something else.
    find<QComboBox>("cboEncoding")->setCurrentText(QStringLiteral("Windows-1251"));
    find<QComboBox>("cboSend")->setEditText(QString::fromUtf8("A" + Zhong + "B"));
    QTest::mouseClick(find<QPushButton>("btnSend"), Qt::LeftButton);
    EXPECT_EQ(device.Read(3, 1000), "AB");
    EXPECT_TRUE(find<QLabel>("stpMessage")->text().contains(QString::fromUtf8(Zhong)));
}

// A character split between two reads shows once, whole, when its last byte
// comes; one cut by the front trim leaves nothing of itself behind.
TEST_F(TextTest, SplitCharacterShowsOnceWholeAndTheTrimLeavesNoFragment)
{
    startLinked("DataMode=1\r\nEncoding=UTF-8\r\nBufSize=8\r\n");
    ASSERT_TRUE(device.Send("a" + Zhong.substr(0, 1)));
    EXPECT_TRUE(recvShows("a"));
    ASSERT_TRUE(device.Send(Zhong.substr(1)));
    EXPECT_TRUE(recvShows("a" + Zhong));
    // Ten bytes under a limit of eight: the first two, "a" and the character's
    // first byte, go.
    ASSERT_TRUE(device.Send("bcdefg"));
    EXPECT_TRUE(recvShows("bcdefg"));
    find<QComboBox>("cboDataMode")->setCurrentIndex(dmMixed);
    EXPECT_TRUE(recvShows("bcdefg"));
}

// Buttons come from the settings file, are pressed by F-key and by click, and
// send as Send does: check over the data, lead and tail around it. An old file
// has neither buttons nor an encoding and loads as Latin-1.
TEST_F(TextTest, QuickSendButtonsFromTheFileSendByKeyAndClickAndOldFilesHaveNone)
{
    startLinked("DataMode=0\r\nCheck=2\r\nLeaderText=AA\r\nTailText=55\r\nLeaderTailEnable=1\r\n"
                "QuickSendCount=2\r\nQuickSend1Name=Ping\r\nQuickSend1Mode=0\r\n"
                "QuickSend1Data=01 02\r\nQuickSend2Name=Hello\r\nQuickSend2Mode=1\r\n"
                "QuickSend2Data=AT\r\n");
    auto *bar = find<TQuickSendBar>("pnlQuickSend");
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(find<QPushButton>("btnQuickSend1")->text(), "Ping");
    find<QComboBox>("cboSend")->setFocus();
    ASSERT_TRUE(WaitFor([&] { return QApplication::focusWidget() != nullptr; }));
    press(Qt::Key_F1);
    EXPECT_EQ(device.Read(5, 2000), "\xAA\x01\x02\x03\x55");
    QTest::mouseClick(find<QPushButton>("btnQuickSend2"), Qt::LeftButton);
    EXPECT_EQ(device.Read(5, 2000), "\xAA"
                                    "AT\x95\x55");
    press(Qt::Key_F3);
    EXPECT_EQ(device.Read(1, 300), "") << "no third button";

    // Added and removed through the menu's edit dialog, saved under the new keys.
    bar->SetEditor([](TQuickSend &button, QWidget *) {
        button = {"Reset", dmMixed, "ATZ{0D}"};
        return true;
    });
    bar->Remove(0);
    bar->Add();
    close();
    const std::string saved = readSettings();
    EXPECT_NE(saved.find("QuickSendCount=2\r\nQuickSend1Name=Hello\r\nQuickSend1Mode=1\r\n"
                         "QuickSend1Data=AT\r\nQuickSend2Name=Reset\r\nQuickSend2Mode=2\r\n"
                         "QuickSend2Data=ATZ{0D}\r\n"),
              std::string::npos)
        << saved;

    writeSettings("[Other]\r\nDataMode=1\r\n");
    open();
    EXPECT_FALSE(find<TQuickSendBar>("pnlQuickSend")->isVisibleTo(window.get()));
    EXPECT_EQ(find<QComboBox>("cboEncoding")->currentText(), "Latin-1");
    EXPECT_EQ(window->Engine().Settings().General.Encoding, TEncoding::Latin1);
}

// Start/Stop and Clear All from the keyboard, with the keys in the tool tips.
TEST_F(TextTest, ShortcutsStartStopAndClearAndTheirTipsNameThem)
{
    startLinked("DataMode=1\r\n");
    EXPECT_TRUE(find<QPushButton>("btnStart")->toolTip().endsWith("(Ctrl+O)"));
    EXPECT_TRUE(find<QPushButton>("btnClearAll")->toolTip().endsWith("(Ctrl+L)"));
    ASSERT_TRUE(device.Send("hello"));
    EXPECT_TRUE(recvShows("hello"));
    find<QComboBox>("cboSend")->setFocus();
    ASSERT_TRUE(WaitFor([&] { return QApplication::focusWidget() != nullptr; }));
    press(Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(recvShows(""));
    press(Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(find<THistoryView>("mmoRecv")->FindBar()->isVisible());
    press(Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(find<QPushButton>("btnStart")->text(), "Start");
}

// Hex mode keeps its conversion but says, while one types, what it passes over.
TEST_F(TextTest, HexModeHintNamesTheCharactersItPassesOver)
{
    writeSettings("[Other]\r\nDataMode=0\r\n");
    open();
    QLineEdit *edit = find<QComboBox>("cboSend")->lineEdit();
    const QColor plain = QPalette().color(QPalette::Base);
    const struct
    {
        int mode;
        const char *text;
        const char *tip;
    } rows[] = {
        {dmHex, "Marlowen", "Hex mode sends hex digits only and passes over: M r l o w n"},
        {dmHex, "0x01, 02", ""},
        {dmCharacter, "Marlowen", ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        find<QComboBox>("cboDataMode")->setCurrentIndex(row.mode);
        find<QComboBox>("cboSend")->setEditText(QString::fromLatin1(row.text));
        EXPECT_EQ(edit->toolTip(), QString::fromLatin1(row.tip));
        EXPECT_EQ(edit->palette().color(QPalette::Base) != plain, *row.tip != '\0');
    }
}

// The window keeps the width the user gave it, whatever the status bar shows.
TEST_F(TextTest, WindowKeepsItsWidthForLongStatusTextAndAnOpenSerialPort)
{
    TPty pty;
    ASSERT_TRUE(pty.Valid());
    writeSettings("[Main]\r\nMethod=Serial\r\nPort=" + pty.SlavePath() + "\r\n");
    open();
    window->show();
    Pump(50);
    const int width = window->width();
    window->ShowStatusMessage(QString(400, QLatin1Char('x')));
    Pump(50);
    EXPECT_EQ(window->width(), width);
    auto *message = find<TStatusPane>("stpMessage");
    EXPECT_TRUE(message->ShownText().endsWith(QChar(0x2026))) << "cut, with an ellipsis";
    EXPECT_EQ(message->toolTip(), QString(400, QLatin1Char('x')));

    QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return find<TSerialLinesPane>("pnlSerialLines")->isVisible(); }));
    Pump(50);
    EXPECT_EQ(window->width(), width);
}

// Size and place come back at the next start; a method switch that grew the
// window gives the height back.
TEST_F(TextTest, WindowPlaceIsRestoredAndMethodSwitchGivesHeightBack)
{
    writeSettings("[Other]\r\nWindowLeft=20\r\nWindowTop=30\r\nWindowWidth=760\r\n"
                  "WindowHeight=660\r\n");
    open();
    window->show();
    Pump(50);
    // The width is never below what the window's rows of controls need.
    EXPECT_EQ(window->size(), QSize(std::max(760, window->minimumSizeHint().width()), 660));
    const int height = window->height();
    find<QRadioButton>("rbTCPClient")->setChecked(true);
    Pump(50);
    find<QRadioButton>("rbSerial")->setChecked(true);
    Pump(50);
    EXPECT_EQ(window->height(), height);
    window->resize(window->width(), 650);
    Pump(50);
    const int width = window->width();
    close();
    const std::string saved = readSettings();
    EXPECT_NE(saved.find("WindowWidth=" + std::to_string(width) + "\r\nWindowHeight=650\r\n"),
              std::string::npos)
        << saved;
}

// Messages a user can act on: whose server closed.
TEST_F(TextTest, ClosingServerIsNamedInTheMessagePane)
{
    startLinked("DataMode=1\r\n");
    device.Close();
    ASSERT_TRUE(WaitFor([&] { return find<QPushButton>("btnStart")->text() == "Start"; }));
    EXPECT_TRUE(find<QLabel>("stpMessage")->text().startsWith("Main channel ("))
        << find<QLabel>("stpMessage")->text().toStdString();
    EXPECT_TRUE(find<QLabel>("stpMessage")
                    ->text()
                    .endsWith("): the server closed the connection, every channel stopped."));
    EXPECT_TRUE(messages.empty()) << "a line, not a box";
}

// The find bar sits beside the scroll bar, and its marks go with it.
TEST_F(TextTest, FindBarLeavesTheScrollBarAndTakesItsMarksAlong)
{
    startLinked("DataMode=1\r\n");
    ASSERT_TRUE(device.Send("one two one"));
    EXPECT_TRUE(recvShows("one two one"));
    auto *view = find<THistoryView>("mmoRecv");
    view->ShowFindBar();
    view->Find(QStringLiteral("two"), false);
    ASSERT_TRUE(WaitFor([&] { return view->Search().Done(); }));
    view->FindNext();
    EXPECT_EQ(view->SelectedText(), "two");
    QWidget *bar = view->FindBar();
    auto *close = bar->findChild<QWidget *>(QStringLiteral("btnFindClose"));
    ASSERT_NE(close, nullptr);
    const QRect closeRect(close->mapTo(view, QPoint(0, 0)), close->size());
    const QRect scrollRect(view->verticalScrollBar()->mapTo(view, QPoint(0, 0)),
                           view->verticalScrollBar()->size());
    EXPECT_FALSE(closeRect.intersects(scrollRect));
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_TRUE(view->Search().Matches().empty()) << "no match is marked any more";
}

// The hints in Chinese have glyphs: a font on the machine holds every one.
TEST(TextFonts, ChineseHintsHaveGlyphs)
{
    const QString hints = QStringLiteral("接收计数发送计数可以使用单位k或M全部选择取消反向");
    bool found = false;
    for (const QString &family : QFontDatabase::families(QFontDatabase::SimplifiedChinese)) {
        const QRawFont font = QRawFont::fromFont(QFont(family));
        bool all = font.isValid();
        for (const QChar c : hints)
            all = all && font.supportsCharacter(c);
        found = found || all;
    }
    EXPECT_TRUE(found) << "install the run group's fonts (fonts-wqy-microhei)";
}
