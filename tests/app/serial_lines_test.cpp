// Serial ports as Linux users have them, through the real window: a device
// that goes away and comes back behind the same link, the lines pane (lamps,
// toggles, break, error counts) over the device seam, flow control and the
// new channel keys, and the port list read again when it drops down.
#include "MainWindowFixture.h"
#include "TestPeers.h"
#include "serial/comm_test_pty.h"

#include "app/PortComboBox.h"
#include "app/SerialLinesPane.h"
#include "app/StatusLamp.h"
#include "serial/ModemLines.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>

using namespace kestrune;
using namespace kestrune::testing;

namespace {

namespace fs = std::filesystem;

class SerialLinesTest : public MainWindowTest
{
protected:
    void TearDown() override
    {
        MainWindowTest::TearDown();
        TfrmMain::OnCommCreated = {};
        TPortComboBox::Source = {};
    }

    void clickStart() { QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton); }
    bool isOpen() const { return find<QPushButton>("btnStart")->text() == "Stop"; }
    QColor lamp() const { return find<TStatusLamp>("shpCommStatus")->Color(); }
    QString status() const { return find<QLabel>("stpStatus")->text(); }
    QString droppedHint() const { return find<QLabel>("stpStatus")->toolTip(); }

    // Points `link` at `target` in one step, as udev replaces a by-id link.
    static void pointLink(const std::string &link, const std::string &target)
    {
        const std::string next = link + ".next";
        fs::remove(next);
        fs::create_symlink(target, next);
        fs::rename(next, link);
    }

    // Sends `bytes` from the relay's peer and reads what reaches the pty, as
    // one step of a flood; returns what the pty got.
    static std::string floodStep(TSocketPeer &peer, TPty *pty, const std::string &bytes)
    {
        EXPECT_TRUE(peer.Send(bytes));
        return pty ? pty->Read(bytes.size(), 2000) : (Pump(20), std::string());
    }
};

std::string mainSection(const std::string &port, const std::string &extra)
{
    return "[Main]\r\nMethod=Serial\r\nPort=" + port + "\r\n" + extra;
}

std::string tcpClientRelay(int port)
{
    return "[Other]\r\nTransNum=1\r\n[Trans0]\r\nEnable=1\r\nMethod=TCPClient\r\nIPAddr=127.0.0.1"
           "\r\nRemotePort=" +
           std::to_string(port) + "\r\n";
}

} // namespace

// A device reached through a link (as by-id names are) vanishes in the middle
// of a flood from a TCP relay and comes back at a new pty behind the same link.
TEST_F(SerialLinesTest, WithReopenOnAVanishedDeviceIsAwaitedAndReopenedBehindItsLink)
{
    auto first = std::make_unique<TPty>();
    ASSERT_TRUE(first->Valid());
    const std::string link = dir.path().toStdString() + "/usb-Acme_Widget_A1B2-if00-port0";
    pointLink(link, first->SlavePath());
    TSocketPeer server;
    ASSERT_TRUE(server.Listen());
    writeSettings(mainSection(link, "ReopenOnReturn=1\r\n") + tcpClientRelay(server.Port()));
    open();
    window->show();
    clickStart();
    ASSERT_TRUE(isOpen()) << (messages.empty() ? "" : messages[0].text.toStdString());
    ASSERT_TRUE(server.Accept());
    auto *dtr = find<QToolButton>("btnDtr");
    ASSERT_TRUE(find<QWidget>("pnlSerialLines")->isVisible());
    EXPECT_TRUE(dtr->isChecked());
    QTest::mouseClick(dtr, Qt::LeftButton);
    EXPECT_FALSE(dtr->isChecked()) << "lowered by hand before the device goes";

    const std::string chunk(1024, 'f');
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(floodStep(server, first.get(), chunk), chunk) << i;

    first.reset(); // unplugged
    ASSERT_TRUE(WaitFor([&] { return lamp() == LampYellow; }));
    EXPECT_EQ(status(), QString::fromStdString("Waiting for " + link));
    EXPECT_TRUE(window->Engine().IsOpen());
    EXPECT_TRUE(window->Engine().RelayOpen(0));
    EXPECT_FALSE(find<QPushButton>("btnSend")->isEnabled());
    EXPECT_FALSE(dtr->isEnabled()) << "no output can be set while the device is away";
    for (int i = 0; i < 8; ++i)
        floodStep(server, nullptr, chunk); // the flood goes on into nothing
    ASSERT_TRUE(
        WaitFor([&] { return window->Engine().Session().DroppedBytes() >= 8 * chunk.size(); }));
    EXPECT_TRUE(droppedHint().contains(QString::number(window->Engine().Session().DroppedBytes())))
        << droppedHint().toStdString();

    TPty second;
    ASSERT_TRUE(second.Valid());
    pointLink(link, second.SlavePath());
    ASSERT_TRUE(WaitFor([&] { return lamp() == LampLime; }));
    EXPECT_TRUE(status().isEmpty());
    EXPECT_TRUE(dtr->isChecked()) << "the lines are as they were at open";
    EXPECT_TRUE(find<QPushButton>("btnSend")->isEnabled());
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(floodStep(server, &second, chunk), chunk) << "after the return " << i;
    ASSERT_TRUE(second.Write("and back"));
    EXPECT_EQ(server.Read(8), "and back");
    const QString hint = droppedHint();
    EXPECT_TRUE(hint.startsWith("Bytes dropped while a serial port was away: "))
        << hint.toStdString();
    EXPECT_GE(hint.section(':', 1).trimmed().toULongLong(), 8 * chunk.size());
    EXPECT_TRUE(messages.empty());

    // Stop ends a wait: nothing is reopened afterwards.
    second.CloseMaster();
    ASSERT_TRUE(WaitFor([&] { return lamp() == LampYellow; }));
    clickStart();
    EXPECT_FALSE(isOpen());
    EXPECT_TRUE(status().isEmpty());
    TPty third;
    pointLink(link, third.SlavePath());
    Pump(800);
    EXPECT_EQ(lamp(), LampRed);
    EXPECT_FALSE(find<QWidget>("pnlSerialLines")->isVisible());
    EXPECT_TRUE(messages.empty());
}

// The lamps follow the device's input lines, the toggles and the break command
// drive its outputs, and the line errors are counted from Start.
TEST_F(SerialLinesTest, PaneFollowsAndDrivesTheLinesAndCountsErrorsSinceStart)
{
    TPty pty;
    ASSERT_TRUE(pty.Valid());
    TScriptedDevice::TScript script;
    TfrmMain::OnCommCreated = [&](TComm &comm) {
        comm.SetDeviceFactory(TScriptedDevice::Factory(script));
    };
    writeSettings(mainSection(pty.SlavePath(), ""));
    open();
    window->show();
    auto *pane = find<TSerialLinesPane>("pnlSerialLines");
    EXPECT_FALSE(pane->isVisible()) << "only for an open serial main channel";
    clickStart();
    ASSERT_TRUE(isOpen());
    ASSERT_TRUE(pane->isVisible());

    const char *lamps[] = {"shpCts", "shpDsr", "shpDcd", "shpRi"};
    const std::uint32_t bits[] = {ModemLineCts, ModemLineDsr, ModemLineCarrier, ModemLineRing};
    for (const std::uint32_t lines :
         {ModemLineCts | ModemLineCarrier, ModemLineDsr | ModemLineRing, std::uint32_t(0)}) {
        script.Change([&](TLineCounters &c) { c.ModemLines = std::int32_t(lines); });
        for (std::size_t i = 0; i < 4; ++i) {
            const QColor want = (lines & bits[i]) ? LineOnColor : LineOffColor;
            EXPECT_TRUE(WaitFor([&] { return find<TStatusLamp>(lamps[i])->Color() == want; }, 2000))
                << lamps[i] << " with lines " << lines;
        }
    }

    auto *dtr = find<QToolButton>("btnDtr");
    auto *rts = find<QToolButton>("btnRts");
    EXPECT_TRUE(dtr->isChecked() && rts->isChecked() && rts->isEnabled());
    QTest::mouseClick(dtr, Qt::LeftButton);
    EXPECT_FALSE(script.LastSettings.DtrOn);
    EXPECT_TRUE(script.LastSettings.RtsOn);
    QTest::mouseClick(rts, Qt::LeftButton);
    EXPECT_FALSE(script.LastSettings.RtsOn);
    QTest::mouseClick(dtr, Qt::LeftButton);
    EXPECT_TRUE(script.LastSettings.DtrOn);
    EXPECT_FALSE(rts->isChecked());

    window->findChild<QAction *>("pmiSendBreak")->trigger();
    ASSERT_TRUE(WaitFor([&] { return script.Breaks.size() == 2; }, 2000));
    EXPECT_TRUE(script.Breaks[0].first);
    EXPECT_FALSE(script.Breaks[1].first);
    EXPECT_GE(script.Breaks[1].second - script.Breaks[0].second,
              std::chrono::milliseconds(TSerialLinesPane::BreakMs));

    auto *errors = find<QLabel>("stpLineErrors");
    EXPECT_EQ(errors->text(), "F:0 P:0 O:0 B:0");
    script.Change([](TLineCounters &c) {
        c.Frame += 2;
        ++c.Parity;
    });
    ASSERT_TRUE(WaitFor([&] { return errors->text() == "F:2 P:1 O:0 B:0"; }, 2000))
        << errors->text().toStdString();
    script.Change([](TLineCounters &c) {
        c.Overrun += 3;
        ++c.Break;
    });
    ASSERT_TRUE(WaitFor([&] { return errors->text() == "F:2 P:1 O:3 B:1"; }, 2000))
        << errors->text().toStdString();

    clickStart(); // Stop
    EXPECT_FALSE(pane->isVisible());
    clickStart();
    ASSERT_TRUE(isOpen());
    EXPECT_EQ(errors->text(), "F:0 P:0 O:0 B:0") << "Start counts anew";
    EXPECT_TRUE(dtr->isChecked() && rts->isChecked()) << "each open starts from the defaults";
    close(); // before the script its device reads goes
}

TEST_F(SerialLinesTest, FlowControlIsGivenToThePortAtOpen)
{
    const struct
    {
        const char *Key; // "" leaves the key out, as older files do
        bool Hardware, XonXoff;
    } rows[] = {{"", false, false},
                {"None", false, false},
                {"rts/cts", true, false},
                {"XON/XOFF", false, true},
                {"sideways", false, false}};
    for (const auto &row : rows) {
        TPty pty;
        TScriptedDevice::TScript script;
        TfrmMain::OnCommCreated = [&](TComm &comm) {
            comm.SetDeviceFactory(TScriptedDevice::Factory(script));
        };
        writeSettings(
            mainSection(pty.SlavePath(),
                        *row.Key ? std::string("FlowControl=") + row.Key + "\r\n" : std::string()));
        open();
        clickStart();
        ASSERT_TRUE(isOpen()) << row.Key;
        EXPECT_EQ(script.LastSettings.HardwareFlow, row.Hardware) << row.Key;
        EXPECT_EQ(script.LastSettings.XonXoffOut, row.XonXoff) << row.Key;
        EXPECT_EQ(script.LastSettings.XonXoffIn, row.XonXoff) << row.Key;
        EXPECT_EQ(find<QToolButton>("btnRts")->isEnabled(), !row.Hardware)
            << "flow control drives RTS itself: " << row.Key;
        close();
    }
}

TEST_F(SerialLinesTest, NewKeysLoadWithDefaultsAndAreWrittenAfterTheOthers)
{
    writeSettings("[Main]\r\nMethod=Serial\r\nPort=COM2\r\nFlowControl=xon/xoff\r\n"
                  "ReopenOnReturn=1\r\n[Other]\r\nTransNum=1\r\n"
                  "[Trans0]\r\nEnable=1\r\nMethod=Serial\r\nPort=COM3\r\n");
    open();
    EXPECT_EQ(window->Engine().Settings().Main.FlowControl, TFlowControl::XonXoff);
    EXPECT_TRUE(window->Engine().Settings().Main.ReopenOnReturn);
    ASSERT_EQ(window->Engine().Relays().size(), 1u);
    EXPECT_EQ(window->Engine().Relays()[0].Channel.FlowControl, TFlowControl::None)
        << "an older section";
    EXPECT_FALSE(window->Engine().Relays()[0].Channel.ReopenOnReturn);

    // The dialog edits them with the time-outs: Cancel keeps, OK stores.
    auto *advanced = find<QPushButton>("btnCOMExpert");
    const auto answer = [advanced](const char *button, int flow, bool reopen) {
        QTimer::singleShot(0, [=] {
            QWidget *dialog = QApplication::activeModalWidget();
            ASSERT_NE(dialog, nullptr);
            dialog->findChild<QComboBox *>("cboFlowControl")->setCurrentIndex(flow);
            dialog->findChild<QCheckBox *>("chkReopenOnReturn")->setChecked(reopen);
            QTest::mouseClick(dialog->findChild<QPushButton *>(button), Qt::LeftButton);
        });
        QTest::mouseClick(advanced, Qt::LeftButton);
    };
    answer("btnCancel", 1, false);
    EXPECT_EQ(window->Engine().Settings().Main.FlowControl, TFlowControl::XonXoff);
    EXPECT_TRUE(window->Engine().Settings().Main.ReopenOnReturn);
    answer("btnOK", 1, false);
    EXPECT_EQ(window->Engine().Settings().Main.FlowControl, TFlowControl::RtsCts);
    EXPECT_FALSE(window->Engine().Settings().Main.ReopenOnReturn);

    close();
    const std::string saved = readSettings();
    EXPECT_NE(saved.find("Port=COM2\r\nFlowControl=RTS/CTS\r\nReopenOnReturn=0\r\nBaudrate=9600"),
              std::string::npos)
        << "keys that exist keep their place\n"
        << saved;
    EXPECT_NE(saved.find("LocalPort=13001\r\nRemotePort=13002\r\nFlowControl=None\r\n"
                         "ReopenOnReturn=0\r\n"),
              std::string::npos)
        << "new keys go after the older ones\n"
        << saved;
}

TEST_F(SerialLinesTest, PortListIsReadAgainWhenItDropsDownKeepingTheUsersText)
{
    std::vector<TPresentPort> present = {
        {"ttyUSB0", "FTDI", "FT232R USB UART", "A50285BI",
         "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"}};
    TPortComboBox::Source = [&] { return present; };
    open();
    window->show();
    auto *box = find<QComboBox>("cboCOMPort");
    box->setEditText("typed-by-hand");
    box->showPopup();
    box->hidePopup();
    EXPECT_EQ(box->currentText(), "typed-by-hand");
    int usb0 = box->findText("ttyUSB0*");
    ASSERT_GE(usb0, 0);
    EXPECT_EQ(box->itemData(usb0, Qt::ToolTipRole).toString(),
              "FTDI FT232R USB UART, serial A50285BI\n"
              "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    EXPECT_EQ(box->count(), 9);

    // Plugged in while the program runs; the user's choice stays chosen.
    present.push_back({"ttyACM0", "", "", "", ""});
    box->setCurrentIndex(usb0);
    box->showPopup();
    box->hidePopup();
    EXPECT_EQ(box->currentText(), "ttyUSB0*");
    EXPECT_EQ(box->findText("ttyACM0*"), 9);
    EXPECT_FALSE(box->itemData(9, Qt::ToolTipRole).isValid()) << "nothing known, no tip";
}
