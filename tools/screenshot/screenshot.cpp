// Renders the real windows into PNG files for the README: the main window open
// as a TCP server with a client that has exchanged a few frames and a UDP relay
// that receives what the client sends, the status bar of an open serial port
// with its lines and error counts, the serial time-outs dialog and the pin help
// window; then a Modbus exchange with frames shown, and a search in it.
// Settings live in a temporary folder.
#include "app/COMExpertFrm.h"
#include "app/MainFrm.h"
#include "app/PinHelpFrm.h"
#include "app/view/HistoryView.h"
#include "codec/Checks.h"
#include "common/AppPaths.h"
#include "serial/Comm.h"
#include "serial/ModemLines.h"
#include "serial/SerialDevice.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool save(QWidget &w, const QString &path)
{
    w.show();
    QTest::qWait(150);
    const bool ok = w.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

// A socket bound to a free loopback port; `port` receives the port number.
int boundSocket(int type, int &port)
{
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

int freePort()
{
    int port = 0;
    ::close(boundSocket(SOCK_STREAM, port));
    return port;
}

// Adds a checked UDP relay from the "Transfer" tab that sends to `remotePort`.
void addUdpRelay(kestrune::TfrmMain &w, int remotePort)
{
    auto *tabs = w.findChild<QTabBar *>("tabSetting");
    tabs->setCurrentIndex(1);
    w.findChild<QRadioButton *>("rbUDP")->setChecked(true);
    w.findChild<QSpinBox *>("edtLocalPort")->setValue(freePort());
    w.findChild<QLineEdit *>("edtIPAddr")->setText(QStringLiteral("127.0.0.1"));
    w.findChild<QSpinBox *>("edtRemotePort")->setValue(remotePort);
    QTest::mouseClick(w.findChild<QPushButton *>("btnTransAdd"), Qt::LeftButton);
    tabs->setCurrentIndex(0);
}

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Opens the main window as a TCP server with a UDP relay, lets a client send a
// few lines (which the relay passes on) and answers them from the send box.
void exchangeSomeData(kestrune::TfrmMain &w)
{
    int relayPort = 0;
    const int relayPeer = boundSocket(SOCK_DGRAM, relayPort);
    addUdpRelay(w, relayPort);
    const int port = freePort();
    w.findChild<QRadioButton *>("rbTCPServer")->setChecked(true);
    w.findChild<QSpinBox *>("edtLocalPort")->setValue(port);
    QTest::mouseClick(w.findChild<QPushButton *>("btnStart"), Qt::LeftButton);
    QTest::qWait(100);
    const int client = connectTo(port);
    if (client < 0) {
        ::close(relayPeer);
        return;
    }
    QTest::qWait(100);
    const std::string lines[] = {"+CSQ: 21,99\r\n", "OK\r\n",
                                 std::string("\x01\x03\x02\x00\x2A\x38\x5B", 7)};
    for (const std::string &line : lines) {
        [[maybe_unused]] auto n = ::send(client, line.data(), line.size(), 0);
        QTest::qWait(60);
    }
    auto *send = w.findChild<QComboBox *>("cboSend");
    for (const char *text : {"AT+CSQ{0D}{0A}", "Marlowen"}) {
        send->setEditText(QString::fromLatin1(text));
        QTest::mouseClick(w.findChild<QPushButton *>("btnSend"), Qt::LeftButton);
        QTest::qWait(60);
    }
    QTest::qWait(100);
    // The client and the relay's peer stay until the picture is taken.
    QObject::connect(&w, &QObject::destroyed, [client, relayPeer] {
        ::close(client);
        ::close(relayPeer);
    });
}

// A Modbus master in the window (Hex, CRC appended) polling a slave on a TCP
// client: each request and each reply on a line of its own with its time.
void exchangeModbusFrames(kestrune::TfrmMain &w)
{
    using namespace kestrune;
    const int port = freePort();
    w.findChild<QComboBox *>("cboDataMode")->setCurrentIndex(0);
    w.findChild<QComboBox *>("cboCheck")->setCurrentIndex(1);
    w.SetShowFrames(false, true);
    w.SetShowFrames(true, true);
    w.findChild<QRadioButton *>("rbTCPServer")->setChecked(true);
    w.findChild<QSpinBox *>("edtLocalPort")->setValue(port);
    QTest::mouseClick(w.findChild<QPushButton *>("btnStart"), Qt::LeftButton);
    QTest::qWait(100);
    const int client = connectTo(port);
    if (client < 0)
        return;
    QTest::qWait(100);
    auto *send = w.findChild<QComboBox *>("cboSend");
    const char *requests[] = {"01 03 00 00 00 02", "01 03 00 02 00 01", "02 06 00 10 01 F4",
                              "01 03 00 00 00 02"};
    const std::string replies[] = {
        std::string("\x01\x03\x04\x00\x2A\x01\xF4", 7), std::string("\x01\x03\x02\x0D\x0A", 5),
        std::string("\x02\x06\x00\x10\x01\xF4", 6), std::string("\x01\x03\x04\x00\x2B\x01\xF4", 7)};
    for (int i = 0; i < 4; ++i) {
        send->setEditText(QString::fromLatin1(requests[i]));
        QTest::mouseClick(w.findChild<QPushButton *>("btnSend"), Qt::LeftButton);
        QTest::qWait(35);
        ByteString reply = replies[i];
        AppendCheck(reply, ckModbusCRC16);
        [[maybe_unused]] auto n = ::send(client, reply.data(), reply.size(), 0);
        QTest::qWait(120);
    }
    QObject::connect(&w, &QObject::destroyed, [client] { ::close(client); });
}

// A pty that tells modem lines and a few line errors, as an adapter with them
// would: nothing at the first look, then CTS, DSR and DCD on and some errors.
class TShowcaseDevice : public kestrune::TSerialDevice
{
public:
    using TSerialDevice::TSerialDevice;
    kestrune::TIoStatus ReadLineCounters(kestrune::TLineCounters &Counters) override
    {
        Counters = {};
        if (FLooks++ > 0) {
            Counters.Frame = 3;
            Counters.Overrun = 1;
            Counters.ModemLines = std::int32_t(kestrune::ModemLineCts | kestrune::ModemLineDsr |
                                               kestrune::ModemLineCarrier);
        }
        return kestrune::TIoStatus::Ok;
    }

private:
    int FLooks = 0;
};

// Opens the main window on a pty whose device reports lines and errors, and
// pictures its status bar.
bool serialStatusBar(const QString &path)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return false;
    kestrune::TfrmMain::OnCommCreated = [](kestrune::TComm &comm) {
        comm.SetDeviceFactory([](int fd) { return std::make_unique<TShowcaseDevice>(fd); });
    };
    bool ok = false;
    {
        kestrune::TfrmMain w;
        w.resize(1150, 600);
        w.show();
        w.findChild<QRadioButton *>("rbSerial")->setChecked(true);
        w.findChild<QComboBox *>("cboCOMPort")
            ->setEditText(QString::fromLocal8Bit(::ptsname(master)));
        QTest::mouseClick(w.findChild<QPushButton *>("btnStart"), Qt::LeftButton);
        QTest::qWait(300);
        ok = save(*w.statusBar(), path);
        QTest::mouseClick(w.findChild<QPushButton *>("btnStart"), Qt::LeftButton);
    }
    kestrune::TfrmMain::OnCommCreated = {};
    ::close(master);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // Absolute, since the current directory moves to the settings folder below.
    const QString out =
        QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs")).absolutePath();
    QDir().mkpath(out);
    QTemporaryDir settings;
    kestrune::paths::SetDataDirOverride(settings.path().toStdString());
    QDir::setCurrent(settings.path());

    bool ok = true;
    {
        kestrune::TfrmMain frmMain;
        frmMain.show();
        exchangeSomeData(frmMain);
        ok = save(frmMain, out + "/main-window.png") && ok;
        kestrune::TfrmCOMExpert expert(&frmMain);
        ok = save(expert, out + "/timeouts-dialog.png") && ok;
        ok = serialStatusBar(out + "/serial-status-bar.png") && ok;
        kestrune::TfrmPinHelp pinHelp(&frmMain);
        ok = save(pinHelp, out + "/pin-help.png") && ok;
    }
    {
        kestrune::TfrmMain frmMain;
        frmMain.show();
        exchangeModbusFrames(frmMain);
        ok = save(frmMain, out + "/modbus-frames.png") && ok;
        auto *recv = frmMain.findChild<kestrune::THistoryView *>("mmoRecv");
        recv->ShowFindBar();
        recv->FindBar()->findChild<QCheckBox *>("chkFindHex")->setChecked(true);
        recv->FindBar()->findChild<QLineEdit *>("edtFind")->setText("0D 0A");
        QTest::qWait(50);
        recv->FindNext();
        ok = save(frmMain, out + "/search.png") && ok;
    }
    return ok ? 0 : 1;
}
