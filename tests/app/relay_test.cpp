// The relay list of the real window: forwarding by origin and check mark, the
// editing commands, and lossless relaying into a slow serial destination.
#include "MainWindowFixture.h"
#include "TestPeers.h"

#include "app/view/HistoryView.h"
#include "common/IniFile.h"
#include "serial/Comm.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTest>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace kestrune;
using namespace kestrune::testing;

namespace {

std::string UdpRelaySection(int index, int localPort, int remotePort, bool enabled)
{
    return "[Trans" + std::to_string(index) + "]\r\nEnable=" + (enabled ? "1" : "0") +
           "\r\nMethod=UDP\r\nIPAddr=127.0.0.1\r\nLocalPort=" + std::to_string(localPort) +
           "\r\nRemotePort=" + std::to_string(remotePort) + "\r\n";
}

std::vector<Qt::CheckState> CheckStates(QListWidget *list)
{
    std::vector<Qt::CheckState> states;
    for (int i = 0; i < list->count(); ++i)
        states.push_back(list->item(i)->checkState());
    return states;
}

} // namespace

class RelayTest : public MainWindowTest
{
protected:
    // Main channel a TCP client of `device`; relay i a UDP channel bound to
    // relayPorts[i] that sends to peers[i], checked as `enabled` says.
    void startWithUdpRelays(const std::vector<bool> &enabled)
    {
        ASSERT_TRUE(device.Listen());
        std::string settings =
            "[Main]\r\nMethod=TCPClient\r\nIPAddr=127.0.0.1\r\nRemotePort=" +
            std::to_string(device.Port()) +
            "\r\n[Other]\r\nDataMode=1\r\nTransNum=" + std::to_string(enabled.size()) + "\r\n";
        for (std::size_t i = 0; i < enabled.size(); ++i) {
            peers.push_back(std::make_unique<TSocketPeer>());
            ASSERT_TRUE(peers.back()->BindUdp());
            relayPorts.push_back(TSocketPeer::FreePort(true));
            settings += UdpRelaySection(static_cast<int>(i), relayPorts.back(),
                                        peers.back()->Port(), enabled[i]);
        }
        writeSettings(settings);
        open();
        window->show();
        QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
        ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop")
            << (messages.empty() ? "" : messages[0].text.toStdString());
        ASSERT_TRUE(device.Accept());
    }

    // What each relay peer got within `ms`.
    std::vector<std::string> peerReads(std::size_t count, int ms = 300)
    {
        std::vector<std::string> got;
        for (auto &peer : peers)
            got.push_back(peer->Read(count, ms));
        return got;
    }

    QListWidget *list() const { return find<QListWidget>("lstTransmit"); }
    void command(const char *name)
    {
        auto *action = find<QMenu>("pmTransmit")->findChild<QAction *>(name);
        ASSERT_NE(action, nullptr) << name;
        action->trigger();
    }

    TSocketPeer device;
    std::vector<std::unique_ptr<TSocketPeer>> peers;
    std::vector<int> relayPorts;
};

// --- Forwarding -------------------------------------------------------------------

TEST_F(RelayTest, RelayBlockIsShownCountedAndWrittenToTheMainChannelOnly)
{
    startWithUdpRelays({true, true});
    ASSERT_TRUE(peers[0]->SendTo("r0", relayPorts[0]));
    EXPECT_EQ(device.Read(2, 2000), "r0");
    EXPECT_EQ(peerReads(1), (std::vector<std::string>{"", ""}));
    EXPECT_TRUE(WaitFor([&] { return find<QLabel>("stpRecv")->text() == "Recv: 2B."; }));
    EXPECT_TRUE(WaitFor([&] { return find<THistoryView>("mmoRecv")->Text() == "r0"; }));
}

TEST_F(RelayTest, MainBlockGoesToEveryCheckedRelayAndNeverBackToTheMainChannel)
{
    startWithUdpRelays({true, false, true});
    EXPECT_FALSE(window->Engine().RelayOpen(1));
    ASSERT_TRUE(device.Send("main"));
    EXPECT_EQ(peerReads(5), (std::vector<std::string>{"main", "", "main"}));
    EXPECT_EQ(device.Read(1, 200), "");
}

TEST_F(RelayTest, CheckMarksChangedWhileOpenDecideForwardingFromTheNextBlock)
{
    startWithUdpRelays({true, false, true});
    // Unchecked while open: stays open, gets nothing more, still forwards to main.
    list()->item(0)->setCheckState(Qt::Unchecked);
    // Checked while open: it has no transport and is skipped, not opened.
    list()->item(1)->setCheckState(Qt::Checked);
    ASSERT_TRUE(device.Send("m1"));
    EXPECT_EQ(peerReads(3), (std::vector<std::string>{"", "", "m1"}));
    EXPECT_FALSE(window->Engine().RelayOpen(1));

    ASSERT_TRUE(peers[0]->SendTo("up", relayPorts[0]));
    EXPECT_EQ(device.Read(2, 2000), "up");
    EXPECT_EQ(peerReads(1, 200), (std::vector<std::string>{"", "", ""}));
    EXPECT_TRUE(messages.empty());
}

TEST_F(RelayTest, DeletingTheFirstOfThreeWhileOpenClosesItAndTheOthersKeepRelaying)
{
    startWithUdpRelays({true, true, true});
    const int deletedPort = relayPorts[0];
    list()->item(0)->setSelected(true);
    QTest::mouseClick(find<QPushButton>("btnTransDel"), Qt::LeftButton);
    ASSERT_EQ(list()->count(), 2);
    ASSERT_EQ(window->Engine().Relays().size(), 2u);
    TSocketPeer reuse;
    EXPECT_TRUE(reuse.BindUdp(deletedPort)) << "the deleted relay still holds its port";

    ASSERT_TRUE(device.Send("go"));
    EXPECT_EQ(peerReads(3), (std::vector<std::string>{"", "go", "go"}));
    ASSERT_TRUE(peers[2]->SendTo("back", relayPorts[2]));
    EXPECT_EQ(device.Read(4, 2000), "back");

    close();
    TIniFile ini(settingsPath());
    EXPECT_EQ(ini.ReadInteger("Other", "TransNum", -1), 2);
    EXPECT_EQ(ini.ReadInteger("Trans0", "LocalPort", -1), relayPorts[1]);
    EXPECT_EQ(ini.ReadInteger("Trans1", "LocalPort", -1), relayPorts[2]);
}

// --- Editing the list ---------------------------------------------------------------

TEST_F(RelayTest, PopUpCommandsSetClearAndInvertEveryMark)
{
    const auto C = Qt::Checked;
    const auto U = Qt::Unchecked;
    const struct
    {
        const char *command;
        std::vector<Qt::CheckState> after;
    } steps[] = {
        {"pmiTransInvert", {U, C, U}}, {"pmiTransCheck", {C, C, C}},
        {"pmiTransInvert", {U, U, U}}, {"pmiTransUncheck", {U, U, U}},
        {"pmiTransCheck", {C, C, C}},  {"pmiTransUncheck", {U, U, U}},
    };
    startWithUdpRelays({true, false, true});
    for (const auto &step : steps) {
        SCOPED_TRACE(step.command);
        command(step.command);
        EXPECT_EQ(CheckStates(list()), step.after);
    }
    EXPECT_TRUE(window->Engine().RelayOpen(0)) << "marks only: nothing closes";
    EXPECT_FALSE(window->Engine().RelayOpen(1)) << "marks only: nothing opens";
}

TEST_F(RelayTest, CommandsOnAnEmptyListAndDeleteWithoutSelectionDoNothing)
{
    startWithUdpRelays({true});
    for (const char *name : {"pmiTransInvert", "pmiTransCheck", "pmiTransUncheck"})
        command(name);
    QTest::mouseClick(find<QPushButton>("btnTransDel"), Qt::LeftButton);
    EXPECT_EQ(list()->count(), 1);
    EXPECT_EQ(window->Engine().Relays().size(), 1u);
    list()->item(0)->setSelected(true);
    QTest::mouseClick(find<QPushButton>("btnTransDel"), Qt::LeftButton);
    EXPECT_EQ(list()->count(), 0);
    for (const char *name : {"pmiTransInvert", "pmiTransCheck", "pmiTransUncheck"})
        command(name);
    EXPECT_EQ(list()->count(), 0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(RelayTest, AddingTheSameSettingsTwiceGivesTwoIndependentCheckedRelays)
{
    open();
    find<QTabBar>("tabSetting")->setCurrentIndex(1);
    find<QRadioButton>("rbUDP")->setChecked(true);
    find<QSpinBox>("edtLocalPort")->setValue(14001);
    find<QSpinBox>("edtRemotePort")->setValue(14002);
    auto *add = find<QPushButton>("btnTransAdd");
    ASSERT_TRUE(add->isEnabled());
    QTest::mouseClick(add, Qt::LeftButton);
    QTest::mouseClick(add, Qt::LeftButton);
    ASSERT_EQ(list()->count(), 2);
    EXPECT_EQ(list()->item(0)->text(), list()->item(1)->text());
    EXPECT_EQ(CheckStates(list()), (std::vector<Qt::CheckState>{Qt::Checked, Qt::Checked}));
    ASSERT_EQ(window->Engine().Relays().size(), 2u);
    EXPECT_EQ(window->Engine().Relays()[1].Channel.LocalPort, 14001);
    EXPECT_EQ(window->Engine().Relays()[1].Channel.ReadIntervalTimeout, 0u);

    // A baud rate that is no number adds nothing and says why.
    find<QRadioButton>("rbSerial")->setChecked(true);
    find<QComboBox>("cboBaudrate")->setEditText("fast");
    QTest::mouseClick(add, Qt::LeftButton);
    EXPECT_EQ(list()->count(), 2);
    EXPECT_EQ(window->Engine().Relays().size(), 2u);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "'fast' is not a valid integer value");
}

// --- Lossless relaying --------------------------------------------------------------

namespace {

std::uint8_t StreamByte(std::uint64_t i)
{
    return static_cast<std::uint8_t>(i ^ (i >> 8) * 31 ^ (i >> 16) * 7);
}

sockaddr_in Loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

long ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

// A raw pty master (with `flags` added to its open), its slave's path in
// `slave`; -1 when none could be had.
int OpenRawPty(int flags, std::string &slave)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | flags);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        if (master >= 0)
            ::close(master);
        return -1;
    }
    slave = ::ptsname(master);
    termios t{};
    ::tcgetattr(master, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master, TCSANOW, &t);
    return master;
}

// A pty whose master a thread of its own reads, at `rate` bytes a second
// (200 KB/s unless told) until `slowBytes` arrived and at full speed after,
// checking every byte in order.
class TSlowSerialSink
{
public:
    TSlowSerialSink()
    {
        FMaster = OpenRawPty(0, FSlave);
    }
    ~TSlowSerialSink()
    {
        Stop();
        if (FMaster >= 0)
            ::close(FMaster);
    }
    [[nodiscard]] const std::string &SlavePath() const { return FSlave; }

    void Start(std::uint64_t slowBytes, double rate = 200'000)
    {
        FThread = std::thread([this, slowBytes, rate] {
            const auto begin = std::chrono::steady_clock::now();
            char buf[4096];
            while (!FStop) {
                const std::uint64_t got = Received;
                const double secs =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
                const double allowed = secs * rate - static_cast<double>(got);
                if (got < slowBytes && allowed < 1) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    continue;
                }
                const std::size_t want =
                    got < slowBytes ? std::min(sizeof buf, static_cast<std::size_t>(allowed))
                                    : sizeof buf;
                pollfd p{FMaster, POLLIN, 0};
                const ssize_t n = ::poll(&p, 1, 50) == 1 ? ::read(FMaster, buf, want) : 0;
                for (ssize_t k = 0; k < n; ++k) {
                    if (static_cast<std::uint8_t>(buf[k]) != StreamByte(got + k) && FirstBad < 0)
                        FirstBad = static_cast<std::int64_t>(got + k);
                }
                Received += static_cast<std::uint64_t>(std::max<ssize_t>(n, 0));
            }
        });
    }
    void Stop()
    {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
    }

    std::atomic<std::uint64_t> Received{0};
    std::atomic<std::int64_t> FirstBad{-1};

private:
    int FMaster = -1;
    std::string FSlave;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

} // namespace

class LosslessRelayTest : public MainWindowTest
{
protected:
    // Starts the window from `settings`, takes the TCP stream that feeds it from
    // `streamSocket`, pushes `total` bytes into that stream as fast as it takes
    // them, and pumps the event loop until the slow serial sink has them all.
    void relayIntoSlowSerial(const std::string &settings, const std::function<int()> &streamSocket,
                             std::uint64_t total, std::uint64_t slowBytes, long growthBound)
    {
        writeSettings(settings);
        open();
        window->show();
        QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
        ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop")
            << (messages.empty() ? "" : messages[0].text.toStdString());
        const int fd = streamSocket();
        ASSERT_GE(fd, 0);

        sink.Start(slowBytes);
        std::atomic<bool> stop{false};
        std::thread pusher([&] {
            std::vector<char> chunk(65536);
            for (std::uint64_t sent = 0; !stop && sent < total;) {
                const std::size_t n = std::min<std::uint64_t>(chunk.size(), total - sent);
                for (std::size_t k = 0; k < n; ++k)
                    chunk[k] = static_cast<char>(StreamByte(sent + k));
                pollfd p{fd, POLLOUT, 0};
                const ssize_t w = ::poll(&p, 1, 50) == 1
                                      ? ::send(fd, chunk.data(), n, MSG_NOSIGNAL | MSG_DONTWAIT)
                                      : 0;
                sent += static_cast<std::uint64_t>(std::max<ssize_t>(w, 0));
            }
        });
        const long before = ResidentBytes();
        long peakGrowth = 0;
        const bool done = WaitFor(
            [&] {
                peakGrowth = std::max(peakGrowth, ResidentBytes() - before);
                return sink.Received >= total || sink.FirstBad >= 0;
            },
            90'000);
        stop = true;
        pusher.join();
        sink.Stop();
        ::close(fd);
        EXPECT_EQ(sink.FirstBad, -1) << "a byte out of order or changed";
        EXPECT_TRUE(done && sink.Received == total)
            << sink.Received << " of " << total << " bytes arrived";
#ifdef __SANITIZE_ADDRESS__
        // AddressSanitizer's redzones, shadow and size classes grow what is resident.
        growthBound += 4L << 20;
#endif
        EXPECT_LT(peakGrowth, growthBound) << "resident size grew by " << peakGrowth;
    }

    TSlowSerialSink sink;
};

// A fast TCP client into the main channel, relayed to a slow serial port:
// reading the client stops instead of queueing without bound.
TEST_F(LosslessRelayTest, FastTcpMainIntoSlowSerialRelayLosesNothing)
{
    ASSERT_FALSE(sink.SlavePath().empty());
    const int port = TSocketPeer::FreePort();
    // Slow for the first 3 MB, long enough to fill every queue and buffer on the
    // way several times over; then fast, to keep the run short.
    relayIntoSlowSerial(
        "[Main]\r\nMethod=TCPServer\r\nLocalPort=" + std::to_string(port) +
            "\r\n[Other]\r\nDataMode=0\r\nTransNum=1\r\n[Trans0]\r\nEnable=1\r\n"
            "Method=Serial\r\nBaudrate=115200\r\nPort=" +
            sink.SlavePath() + "\r\n",
        [&] {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in a = Loopback(port);
            if (::connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0 ||
                !WaitFor([&] { return find<QPushButton>("btnSend")->isEnabled(); })) {
                ::close(fd);
                return -1;
            }
            return fd;
        },
        20'000'000, 3'000'000, 16L << 20);
}

// The other way round: a fast TCP relay into a slow serial main channel stops
// the relays' reading until the main channel's queue drains.
TEST_F(LosslessRelayTest, FastTcpRelayIntoSlowSerialMainLosesNothing)
{
    ASSERT_FALSE(sink.SlavePath().empty());
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
    // Below the 8 MB pushed, so a queue that took it all would show; the margin
    // above the usual 2-3 MB covers allocator growth on a loaded machine.
    relayIntoSlowSerial(
        "[Main]\r\nMethod=Serial\r\nBaudrate=115200\r\nPort=" + sink.SlavePath() +
            "\r\n[Other]\r\nDataMode=2\r\nTransNum=1\r\n[Trans0]\r\nEnable=1\r\n"
            "Method=TCPClient\r\nIPAddr=127.0.0.1\r\nRemotePort=" +
            std::to_string(ntohs(a.sin_port)) + "\r\n",
        [&] { return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC); }, 8'000'000, 2'000'000,
        13L << 19);
    ::close(listener);
}

namespace {

// A serial device that sends at `rate` bytes a second. Without flow control
// it goes on while its port's reader is paused, as a UART does: what finds
// the receive buffer full then is lost and counted. (A reader that is merely
// slow on a busy machine is waited for, so the test does not depend on the
// machine's load.) With `flowControl` it always waits, as a device held back
// by RTS/CTS would.
class TUartSource
{
public:
    TUartSource()
    {
        FMaster = OpenRawPty(O_NONBLOCK, FSlave);
    }
    ~TUartSource()
    {
        if (FThread.joinable())
            FThread.join();
        if (FMaster >= 0)
            ::close(FMaster);
    }
    [[nodiscard]] const std::string &SlavePath() const { return FSlave; }

    void Start(std::uint64_t total, double rate, bool flowControl)
    {
        FThread = std::thread([=, this] {
            const auto begin = std::chrono::steady_clock::now();
            char chunk[1024];
            for (std::uint64_t done = 0; done < total;) {
                const double secs =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
                if (static_cast<double>(done) > secs * rate) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                const std::size_t n = std::min<std::uint64_t>(sizeof chunk, total - done);
                for (std::size_t k = 0; k < n; ++k)
                    chunk[k] = static_cast<char>(StreamByte(done + k));
                ssize_t w = ::write(FMaster, chunk, n);
                if (w < 0)
                    w = 0;
                if (flowControl || !ReaderPaused) {
                    done += static_cast<std::uint64_t>(w);
                    if (static_cast<std::size_t>(w) < n) {
                        pollfd p{FMaster, POLLOUT, 0};
                        ::poll(&p, 1, 20);
                    }
                } else {
                    Dropped += n - static_cast<std::size_t>(w);
                    done += n;
                }
            }
            Finished = true;
        });
    }

    std::atomic<std::uint64_t> Dropped{0};
    std::atomic<bool> Finished{false};
    std::atomic<bool> ReaderPaused{false};

private:
    int FMaster = -1;
    std::string FSlave;
    std::thread FThread;
};

} // namespace

// A serial main channel relayed into a serial port that stalls. A port
// without flow control is never paused, since its device would go on sending
// into a full buffer: its bytes wait in the relay's queue instead. A port with
// flow control is paused while the relay is full and resumed after.
TEST_F(LosslessRelayTest, SerialSourceIsPausedOnlyWhenItsDeviceCanWait)
{
    for (const bool flowControl : {false, true}) {
        SCOPED_TRACE(flowControl ? "RTS/CTS" : "no flow control");
        TUartSource device;
        TSlowSerialSink slow;
        ASSERT_FALSE(device.SlavePath().empty());
        ASSERT_FALSE(slow.SlavePath().empty());
        TComm *source = nullptr;
        TfrmMain::OnCommCreated = [&](TComm &comm) {
            if (comm.CommName() != device.SlavePath())
                return;
            source = &comm;
            if (flowControl)
                comm.SetRtsControl(TRtsControl::RtsHandshake);
        };
        writeSettings("[Main]\r\nMethod=Serial\r\nBaudrate=115200\r\nPort=" + device.SlavePath() +
                      "\r\n[Other]\r\nDataMode=0\r\nTransNum=1\r\n[Trans0]\r\nEnable=1\r\n"
                      "Method=Serial\r\nBaudrate=115200\r\nPort=" +
                      slow.SlavePath() + "\r\n");
        open();
        QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
        ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop")
            << (messages.empty() ? "" : messages[0].text.toStdString());

        // 1.3 MB at 250 KB/s into a relay whose device reads nothing until the
        // source is done (or held back): the relay's queue passes the 1 MiB mark.
        // The rate leaves the reader half a second of slack on a busy machine.
        constexpr std::uint64_t total = 1'300'000;
        device.Start(total, 250'000, flowControl);
        bool pausedSeen = false;
        bool sinkStarted = false;
        const bool done = WaitFor(
            [&] {
                pausedSeen = pausedSeen || window->Engine().Session().MainPaused();
                device.ReaderPaused = source && source->ReadingPaused();
                // A held-back device never finishes: the sink then starts at the hold.
                if ((device.Finished || pausedSeen) && !sinkStarted) {
                    sinkStarted = true;
                    slow.Start(0);
                }
                return slow.Received >= total || slow.FirstBad >= 0;
            },
            60'000);
        slow.Stop();
        EXPECT_TRUE(done && slow.Received == total) << slow.Received << " of " << total;
        EXPECT_EQ(slow.FirstBad, -1) << "a byte out of order or changed";
        EXPECT_EQ(device.Dropped, 0u) << "the device sent into a full buffer";
        EXPECT_EQ(pausedSeen, flowControl);
        EXPECT_FALSE(window->Engine().Session().MainPaused());
        close();
        TfrmMain::OnCommCreated = nullptr;
    }
}
