#include "MainWindowFixture.h"
#include "TestPeers.h"

#include "app/StatusLamp.h"
#include "app/view/HistoryView.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTest>
#include <QTimer>

using namespace kestrune;
using namespace kestrune::testing;

namespace {

std::string relaySection(int index, const std::string &method, int localPort, int remotePort,
                         bool enabled = true)
{
    return "[Trans" + std::to_string(index) + "]\r\nEnable=" + (enabled ? "1" : "0") +
           "\r\nMethod=" + method + "\r\nLocalPort=" + std::to_string(localPort) +
           "\r\nRemotePort=" + std::to_string(remotePort) + "\r\n";
}

} // namespace

class ChannelTest : public MainWindowTest
{
protected:
    void useMethod(const char *button, int localPort, int remotePort)
    {
        find<QRadioButton>(button)->setChecked(true);
        find<QSpinBox>("edtLocalPort")->setValue(localPort);
        find<QSpinBox>("edtRemotePort")->setValue(remotePort);
    }
    void clickStart() { QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton); }
    QColor lamp() const { return find<TStatusLamp>("shpCommStatus")->Color(); }
    // The colour the lamp shows on screen, read at its centre.
    QColor lampPixel() const
    {
        auto *shape = find<TStatusLamp>("shpCommStatus");
        const QImage image = shape->grab().toImage();
        return image.pixelColor(image.width() / 2, image.height() / 2);
    }
    bool isOpen() const { return find<QPushButton>("btnStart")->text() == "Stop"; }
    void expectClosedState()
    {
        EXPECT_EQ(lamp(), QColor(255, 0, 0));
        EXPECT_EQ(find<QPushButton>("btnStart")->text(), "Start");
        EXPECT_FALSE(find<QPushButton>("btnSend")->isEnabled());
        EXPECT_FALSE(find<QPushButton>("btnCmdSequ")->isEnabled());
        EXPECT_TRUE(find<QTabBar>("tabSetting")->isEnabled());
        EXPECT_TRUE(find<QLabel>("stpStatus")->text().isEmpty());
        EXPECT_TRUE(find<QLabel>("stpMain")->text().isEmpty());
        EXPECT_FALSE(window->Engine().IsOpen());
        for (std::size_t i = 0; i < window->Engine().Relays().size(); ++i)
            EXPECT_FALSE(window->Engine().RelayOpen(i));
    }
};

TEST_F(ChannelTest, TcpServerGoesListeningConnectedListening)
{
    open();
    window->show();
    const int port = TSocketPeer::FreePort();
    useMethod("rbTCPServer", port, 13002);
    clickStart();
    ASSERT_TRUE(isOpen()) << (messages.empty() ? "" : messages[0].text.toStdString());
    EXPECT_EQ(lamp(), QColor(0, 128, 0));
    EXPECT_EQ(lampPixel(), QColor(0, 128, 0));
    EXPECT_EQ(find<QLabel>("stpStatus")->text(), "Listening");
    EXPECT_FALSE(find<QPushButton>("btnSend")->isEnabled());
    EXPECT_TRUE(find<QPushButton>("btnCmdSequ")->isEnabled());
    EXPECT_FALSE(find<QTabBar>("tabSetting")->isEnabled());
    EXPECT_EQ(find<QLabel>("stpMain")->text(), QString("TCP Server,%1").arg(port));

    {
        TSocketPeer client;
        ASSERT_TRUE(client.Connect(port));
        ASSERT_TRUE(WaitFor([&] { return lamp() == QColor(0, 255, 0); }));
        EXPECT_EQ(lampPixel(), QColor(0, 255, 0));
        EXPECT_EQ(find<QLabel>("stpStatus")->text(), "Connected");
        EXPECT_TRUE(find<QPushButton>("btnSend")->isEnabled());
    }
    ASSERT_TRUE(WaitFor([&] { return lamp() == QColor(0, 128, 0); }));
    EXPECT_EQ(find<QLabel>("stpStatus")->text(), "Listening");
    EXPECT_FALSE(find<QPushButton>("btnSend")->isEnabled());

    clickStart();
    expectClosedState();
    EXPECT_EQ(lampPixel(), QColor(255, 0, 0));
    EXPECT_TRUE(messages.empty());
}

TEST_F(ChannelTest, OpenStatesOfUdpAndTcpClient)
{
    open();
    TSocketPeer server;
    ASSERT_TRUE(server.Listen());
    const int udpPort = TSocketPeer::FreePort(true);
    const struct
    {
        const char *button;
        int local, remote;
        QString description;
    } rows[] = {
        {"rbUDP", udpPort, 13002, QString("UDP,127.0.0.1:13002,L:%1").arg(udpPort)},
        {"rbTCPClient", 13001, server.Port(),
         QString("TCP Client,127.0.0.1:%1").arg(server.Port())},
    };
    for (const auto &row : rows) {
        useMethod(row.button, row.local, row.remote);
        clickStart();
        ASSERT_TRUE(isOpen()) << row.button;
        EXPECT_EQ(lamp(), QColor(0, 255, 0)) << row.button;
        EXPECT_TRUE(find<QPushButton>("btnSend")->isEnabled());
        EXPECT_TRUE(find<QPushButton>("btnCmdSequ")->isEnabled());
        EXPECT_FALSE(find<QTabBar>("tabSetting")->isEnabled());
        EXPECT_TRUE(find<QLabel>("stpStatus")->text().isEmpty());
        EXPECT_EQ(find<QLabel>("stpMain")->text(), row.description);
        EXPECT_TRUE(window->Engine().IsOpen());
        clickStart();
        expectClosedState();
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(ChannelTest, TcpClientClosesEverythingSilentlyWhenTheServerLeaves)
{
    TSocketPeer server;
    ASSERT_TRUE(server.Listen());
    const int relayPort = TSocketPeer::FreePort();
    writeSettings(relaySection(0, "TCPServer", relayPort, 0) + "[Other]\r\nTransNum=1\r\n");
    open();
    ASSERT_EQ(window->Engine().Relays().size(), 1u);
    useMethod("rbTCPClient", 13001, server.Port());
    clickStart();
    ASSERT_TRUE(isOpen());
    ASSERT_TRUE(window->Engine().RelayOpen(0));
    ASSERT_TRUE(server.Accept());
    server.Close();
    ASSERT_TRUE(WaitFor([&] { return !isOpen(); }));
    expectClosedState();
    EXPECT_TRUE(messages.empty());
}

TEST_F(ChannelTest, FailingRelayShowsItsErrorAndLeavesEverythingClosed)
{
    const int refused = TSocketPeer::FreePort();
    const int unchecked = TSocketPeer::FreePort();
    writeSettings(relaySection(0, "TCPServer", unchecked, 0, false) +
                  relaySection(1, "TCPClient", 0, refused) + "[Other]\r\nTransNum=2\r\n");
    open();
    ASSERT_EQ(window->Engine().Relays().size(), 2u);
    const int mainPort = TSocketPeer::FreePort(true);
    useMethod("rbUDP", mainPort, 13002);
    clickStart();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(messages[0].text,
              "Network operate error.\r\nError msg:Error while try establish a TCP connect. "
              "Connection refused");
    expectClosedState();
    // The main channel's port and the unchecked relay's port are free again.
    TSocketPeer probe;
    EXPECT_TRUE(probe.BindUdp(mainPort));
    TSocketPeer probe2;
    EXPECT_TRUE(probe2.Listen(unchecked));
}

TEST_F(ChannelTest, UncheckedRelaysStayClosedAndStartUsesTheMainChannel)
{
    const int relayPort = TSocketPeer::FreePort();
    writeSettings(relaySection(0, "TCPServer", relayPort, 0, false) +
                  "[Other]\r\nTransNum=1\r\n[Main]\r\nMethod=UDP\r\n");
    open();
    const int mainPort = TSocketPeer::FreePort(true);
    find<QSpinBox>("edtLocalPort")->setValue(mainPort);
    // The Transfer tab shows other settings; Start switches back and opens the main channel.
    find<QTabBar>("tabSetting")->setCurrentIndex(1);
    find<QRadioButton>("rbTCPClient")->setChecked(true);
    clickStart();
    ASSERT_TRUE(isOpen()) << (messages.empty() ? "" : messages[0].text.toStdString());
    EXPECT_EQ(find<QTabBar>("tabSetting")->currentIndex(), 0);
    EXPECT_EQ(window->Engine().Settings().Main.Method, cmUDP);
    EXPECT_EQ(window->TransferChannel().Method, cmTCPClient);
    EXPECT_FALSE(window->Engine().RelayOpen(0));
    TSocketPeer probe;
    EXPECT_TRUE(probe.Listen(relayPort)) << "an unchecked relay is not opened";
}

TEST_F(ChannelTest, SerialPortPickedWithMarkOpensWithoutIt)
{
    TPty pty;
    ASSERT_TRUE(pty.Valid());
    open();
    find<QComboBox>("cboCOMPort")->setEditText(QString::fromStdString(pty.SlavePath() + "*"));
    clickStart();
    ASSERT_TRUE(isOpen()) << (messages.empty() ? "" : messages[0].text.toStdString());
    EXPECT_EQ(window->Engine().Settings().Main.Port, pty.SlavePath() + "*") << "the record keeps its mark";
    EXPECT_EQ(find<QLabel>("stpMain")->text().toStdString(),
              "Serial," + pty.SlavePath() + "*,9600,8,N,1");
    EXPECT_EQ(lamp(), QColor(0, 255, 0));
}

TEST_F(ChannelTest, SerialHangUpClosesEverythingAndSaysSoOnce)
{
    auto pty = std::make_unique<TPty>();
    ASSERT_TRUE(pty->Valid());
    const int relayPort = TSocketPeer::FreePort();
    writeSettings(relaySection(0, "TCPServer", relayPort, 0) + "[Other]\r\nTransNum=1\r\n");
    open();
    find<QComboBox>("cboCOMPort")->setEditText(QString::fromStdString(pty->SlavePath()));
    clickStart();
    ASSERT_TRUE(isOpen());
    pty.reset();
    ASSERT_TRUE(WaitFor([&] { return !isOpen(); }));
    Pump(200);
    expectClosedState();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Kestrune");
    EXPECT_EQ(messages[0].text, "Serial port error, Stop.");
}

TEST_F(ChannelTest, MissingSerialDeviceShowsTheReason)
{
    open();
    find<QComboBox>("cboCOMPort")->setEditText("/dev/kestrune-no-such-port");
    clickStart();
    expectClosedState();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Open serial port failed.\r\nError msg:Error opening serial port "
                                "(No such file or directory)");
}

TEST_F(ChannelTest, BaudRateThatIsNoNumberOpensNothing)
{
    open();
    find<QComboBox>("cboBaudrate")->setEditText("fast");
    clickStart();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "'fast' is not a valid integer value");
    expectClosedState();
}

namespace {

// Answers the next modal dialog: sets the first time-out edit if asked, then
// presses the named button.
void answerTimeoutsDialog(const QString &button, const QString &firstEdit = {})
{
    QTimer::singleShot(0, [=] {
        QWidget *dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        if (!firstEdit.isNull())
            dialog->findChild<QLineEdit *>("edtReadIntervalTimeout")->setText(firstEdit);
        QTest::mouseClick(dialog->findChild<QPushButton *>(button), Qt::LeftButton);
    });
}

} // namespace

TEST_F(ChannelTest, TimeoutsDialogStoresUnsignedValues)
{
    open();
    auto *advanced = find<QPushButton>("btnCOMExpert");
    answerTimeoutsDialog("btnCancel", "5");
    QTest::mouseClick(advanced, Qt::LeftButton);
    EXPECT_EQ(window->Engine().Settings().Main.ReadIntervalTimeout, 100u) << "Cancel changes nothing";

    answerTimeoutsDialog("btnOK", "-1");
    QTest::mouseClick(advanced, Qt::LeftButton);
    EXPECT_EQ(window->Engine().Settings().Main.ReadIntervalTimeout, 4294967295u);
    EXPECT_TRUE(messages.empty());

    // Shown as 4294967295 next time; confirming it unchanged keeps it.
    QString shown;
    QTimer::singleShot(0, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        shown = dialog->findChild<QLineEdit *>("edtReadIntervalTimeout")->text();
        QTest::mouseClick(dialog->findChild<QPushButton *>("btnOK"), Qt::LeftButton);
    });
    QTest::mouseClick(advanced, Qt::LeftButton);
    EXPECT_EQ(shown, "4294967295");
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(window->Engine().Settings().Main.ReadIntervalTimeout, 4294967295u);

    // Past the unsigned range it still does not convert.
    answerTimeoutsDialog("btnOK", "4294967296");
    QTest::mouseClick(advanced, Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "'4294967296' is not a valid integer value");
}

TEST_F(ChannelTest, StopThenStartKeepsTheCountersAndRestartsTheHistories)
{
    open();
    const int mainPort = TSocketPeer::FreePort(true);
    TSocketPeer peer;
    ASSERT_TRUE(peer.BindUdp());
    useMethod("rbUDP", mainPort, peer.Port());
    find<QComboBox>("cboDataMode")->setCurrentIndex(1); // Character
    clickStart();
    ASSERT_TRUE(isOpen());
    ASSERT_TRUE(peer.SendTo("abc", mainPort));
    ASSERT_TRUE(WaitFor([&] { return find<QLabel>("stpRecv")->text() == "Recv: 3B."; }));

    clickStart();
    clickStart();
    ASSERT_TRUE(isOpen());
    EXPECT_EQ(find<QLabel>("stpRecv")->text(), "Recv: 3B.");
    ASSERT_TRUE(peer.SendTo("de", mainPort));
    ASSERT_TRUE(WaitFor([&] { return find<QLabel>("stpRecv")->text() == "Recv: 5B."; }));
    auto *view = find<THistoryView>("mmoRecv");
    ASSERT_TRUE(WaitFor([&] { return view->Text() == "de"; })) << view->Text();
}

// Only the main channel's own link moves the lamp, stpStatus and Send: a
// relay server's clients come and go without touching them.
TEST_F(ChannelTest, RelayServerClientsChangeNothingOfTheMainChannel)
{
    TSocketPeer server;
    ASSERT_TRUE(server.Listen());
    const int relayPort = TSocketPeer::FreePort();
    writeSettings(relaySection(0, "TCPServer", relayPort, 0) + "[Other]\r\nTransNum=1\r\n");
    open();

    // A connected main client keeps lime and Send through a relay visitor.
    useMethod("rbTCPClient", 13001, server.Port());
    clickStart();
    ASSERT_TRUE(isOpen());
    ASSERT_TRUE(server.Accept());
    {
        TSocketPeer visitor;
        ASSERT_TRUE(visitor.Connect(relayPort));
        Pump(150);
    }
    Pump(150);
    EXPECT_EQ(lamp(), LampLime);
    EXPECT_TRUE(find<QPushButton>("btnSend")->isEnabled());
    EXPECT_TRUE(find<QLabel>("stpStatus")->text().isEmpty());
    clickStart();

    // A listening main server stays green without Send while a relay has a client.
    useMethod("rbTCPServer", TSocketPeer::FreePort(), 0);
    clickStart();
    ASSERT_TRUE(isOpen());
    TSocketPeer visitor;
    ASSERT_TRUE(visitor.Connect(relayPort));
    Pump(200);
    EXPECT_EQ(lamp(), LampGreen);
    EXPECT_FALSE(find<QPushButton>("btnSend")->isEnabled());
    EXPECT_EQ(find<QLabel>("stpStatus")->text(), "Listening");
    EXPECT_TRUE(messages.empty());
}

// A relay client whose server leaves ends the run as a main client does:
// nothing may go on being relayed into a closed link unseen.
TEST_F(ChannelTest, RelayClientWhoseServerLeavesClosesEverythingSilently)
{
    TSocketPeer server;
    ASSERT_TRUE(server.Listen());
    writeSettings("[Trans0]\r\nEnable=1\r\nMethod=TCPClient\r\nIPAddr=127.0.0.1\r\nRemotePort=" +
                  std::to_string(server.Port()) + "\r\n[Other]\r\nTransNum=1\r\n");
    open();
    useMethod("rbUDP", TSocketPeer::FreePort(true), TSocketPeer::FreePort(true));
    clickStart();
    ASSERT_TRUE(isOpen());
    ASSERT_TRUE(server.Accept());
    server.Close();
    ASSERT_TRUE(WaitFor([&] { return !isOpen(); }));
    expectClosedState();
    EXPECT_TRUE(messages.empty());
}

// A list keeps Send off for its whole run, even when the client arrives during it.
TEST_F(ChannelTest, AClientArrivingWhileAListRunsLeavesSendOff)
{
    const int port = TSocketPeer::FreePort();
    open();
    useMethod("rbTCPServer", port, 0);
    clickStart();
    ASSERT_TRUE(isOpen());
    QFile list(dir.filePath("wait"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write("T60000\r\n");
    list.close();
    dialogs::SetOpenFileHook([&](const QString &, const QString &) { return list.fileName(); });
    QTest::mouseClick(find<QPushButton>("btnCmdSequ"), Qt::LeftButton);
    TSocketPeer client;
    ASSERT_TRUE(client.Connect(port));
    ASSERT_TRUE(WaitFor([&] { return find<QLabel>("stpStatus")->text() == "Connected"; }));
    EXPECT_FALSE(find<QPushButton>("btnSend")->isEnabled());
    QTest::mouseClick(find<QPushButton>("btnCmdSequ"), Qt::LeftButton); // Cancel
    EXPECT_TRUE(find<QPushButton>("btnSend")->isEnabled());
}

// Start on the "Transfer" tab with a number there that does not convert says
// so once and stays on that tab, closed.
TEST_F(ChannelTest, StartWithABadNumberOnTheTransferTabSaysSoOnce)
{
    open();
    find<QTabBar>("tabSetting")->setCurrentIndex(1);
    find<QRadioButton>("rbSerial")->setChecked(true);
    find<QComboBox>("cboBaudrate")->setEditText("fast");
    clickStart();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "'fast' is not a valid integer value");
    EXPECT_EQ(find<QTabBar>("tabSetting")->currentIndex(), 1);
    EXPECT_FALSE(isOpen());
}
