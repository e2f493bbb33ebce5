// The receive path of the real window: bounded history, coalesced view, pane
// texts, the zero-length block of a closing peer, a log that cannot be written,
// and the two serial diagnostics.
#include "MainWindowFixture.h"
#include "TestPeers.h"

#include "app/view/HistoryView.h"
#include "codec/Format.h"
#include "common/IniFile.h"
#include "debugchannel/DbugIntf.h"
#include "debugchannel/DebugRecord.h"
#include "debugchannel/DebugSocketPath.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kestrune;
using namespace kestrune::testing;

namespace {

// A datagram socket that tells an empty datagram from none at all.
class TDatagramSink
{
public:
    TDatagramSink()
    {
        FFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FFd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(FFd, reinterpret_cast<sockaddr *>(&a), &len);
        FPort = ntohs(a.sin_port);
    }
    ~TDatagramSink() { ::close(FFd); }
    [[nodiscard]] int Port() const { return FPort; }

    // The next datagram, or nullopt when none came within `ms`.
    std::optional<std::string> Next(int ms = 3000)
    {
        std::optional<std::string> got;
        WaitFor(
            [&] {
                char buf[4096];
                const ssize_t n = ::recv(FFd, buf, sizeof buf, 0);
                if (n >= 0)
                    got = std::string(buf, static_cast<std::size_t>(n));
                return got.has_value();
            },
            ms);
        return got;
    }

private:
    int FFd = -1;
    int FPort = 0;
};

std::string UdpRelaySettings(int localPort, int remotePort)
{
    return "TransNum=1\r\n[Trans0]\r\nEnable=1\r\nMethod=UDP\r\nIPAddr=127.0.0.1\r\nLocalPort=" +
           std::to_string(localPort) + "\r\nRemotePort=" + std::to_string(remotePort) + "\r\n";
}

} // namespace

class ReceiveTest : public MainWindowTest
{
protected:
    // The main channel a TCP client of `device`; `other` goes into [Other].
    void startLinked(const std::string &other)
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

    // Lets one block arrive and waits until the pane counts `total` bytes.
    void receive(const std::string &bytes, std::int64_t total)
    {
        ASSERT_TRUE(device.Send(bytes));
        ASSERT_TRUE(WaitFor([&] { return recvPane() == QString("Recv: %1B.").arg(total); }))
            << recvPane().toStdString();
    }

    QString recvPane() const { return find<QLabel>("stpRecv")->text(); }
    std::string recvView() const { return find<THistoryView>("mmoRecv")->Text(); }
    bool viewShows(const std::string &text)
    {
        return WaitFor([&] { return recvView() == text; }, 2000);
    }

    TSocketPeer device;
    QDateTime startedFrom;
    QDateTime startedTo;
};

// --- History and view -------------------------------------------------------------

TEST_F(ReceiveTest, BlocksKeepTheMostRecentBytesUnderTheLimit)
{
    const struct
    {
        const char *bufSize;
        std::vector<std::string> blocks;
        std::string history;
    } rows[] = {
        {"4", {"abc", "def"}, "cdef"},
        {"4", {"ab", "cdefgh"}, "cdefgh"},
        {"0", {"ab", "c"}, "c"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.bufSize);
        device.Close();
        startLinked(std::string("DataMode=1\r\nBufSize=") + row.bufSize + "\r\n");
        std::int64_t total = 0;
        for (const std::string &block : row.blocks)
            receive(block, total += static_cast<std::int64_t>(block.size()));
        EXPECT_TRUE(viewShows(row.history)) << recvView();
        close();
    }
}

TEST_F(ReceiveTest, BurstOfBlocksLeavesTheViewEqualToTheFormattedHistory)
{
    startLinked("DataMode=2\r\n");
    std::string all;
    for (int i = 0; i < 3000; ++i)
        all += static_cast<char>(i % 256);
    // Many small writes, so blocks arrive faster than the view is redrawn.
    for (std::size_t i = 0; i < all.size(); i += 7)
        ASSERT_TRUE(device.Send(all.substr(i, 7)));
    ASSERT_TRUE(WaitFor([&] { return recvPane() == "Recv: 3000B."; }));
    EXPECT_TRUE(viewShows(FormatData(all, dmMixed, '{')));
    auto *view = find<THistoryView>("mmoRecv");
    EXPECT_EQ(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
}

TEST_F(ReceiveTest, PausedViewKeepsItsTextAndTheNextBlockRedrawsTheWholeHistory)
{
    startLinked("DataMode=1\r\n");
    receive("ab", 2);
    ASSERT_TRUE(viewShows("ab"));
    auto *pause = find<QCheckBox>("chkRecvPause");
    // Checked while a redraw is still due: that redraw is not lost.
    ASSERT_TRUE(device.Send("cd"));
    ASSERT_TRUE(WaitFor([&] { return recvPane() == "Recv: 4B."; }));
    pause->setChecked(true);
    EXPECT_EQ(recvView(), "abcd");
    receive("ef", 6);
    Pump(100);
    EXPECT_EQ(recvView(), "abcd");
    pause->setChecked(false);
    Pump(100);
    EXPECT_EQ(recvView(), "abcd");
    receive("gh", 8);
    EXPECT_TRUE(viewShows("abcdefgh"));
}

// --- Pane ---------------------------------------------------------------------

TEST_F(ReceiveTest, PaneCountsBytesAndOnlyTheResetHintEndsWithAFullStop)
{
    startLinked("DataMode=1\r\n");
    auto *pane = find<QLabel>("stpRecv");
    EXPECT_EQ(pane->text(), "Recv: 0B.");
    EXPECT_EQ(pane->toolTip(), QString::fromUtf8("接收计数"));
    receive("abc", 3);
    receive("defg", 7);
    QStringList hints = PaneHints(startedFrom, startedTo, ", Total 7Bytes");
    EXPECT_TRUE(hints.contains(pane->toolTip())) << pane->toolTip().toStdString();

    const QDateTime from = QDateTime::currentDateTime();
    QTest::mouseDClick(pane, Qt::LeftButton);
    const QDateTime to = QDateTime::currentDateTime();
    EXPECT_EQ(pane->text(), "Recv: 0B.");
    hints = PaneHints(from, to, ", Total 0Bytes.");
    EXPECT_TRUE(hints.contains(pane->toolTip())) << pane->toolTip().toStdString();
    receive("h", 1);
}

// --- Odd blocks -------------------------------------------------------------------

TEST_F(ReceiveTest, ZeroLengthBlockOfAClosingPeerGoesThroughEveryStep)
{
    TDatagramSink relayPeer;
    const int serverPort = TSocketPeer::FreePort();
    const int relayPort = TSocketPeer::FreePort(true);
    writeSettings("[Main]\r\nMethod=TCPServer\r\nLocalPort=" + std::to_string(serverPort) +
                  "\r\n[Other]\r\nDataMode=1\r\n" + UdpRelaySettings(relayPort, relayPeer.Port()));
    open();
    QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
    ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop");
    find<QCheckBox>("chkLogToFile")->setChecked(true);

    TSocketPeer client;
    ASSERT_TRUE(client.Connect(serverPort));
    ASSERT_TRUE(client.Send("AB"));
    EXPECT_EQ(relayPeer.Next(), "AB");
    client.Close();
    EXPECT_EQ(relayPeer.Next(), "") << "the relay is asked to send the empty block";
    EXPECT_TRUE(WaitFor([&] { return recvPane() == "Recv: 2B."; }));
    EXPECT_TRUE(viewShows("AB"));
    const std::string log = ReadWholeFile(dir.filePath("CommLog.txt").toStdString()).value_or("");
    ASSERT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
    EXPECT_NE(log.find(" <= AB\r\n"), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with(" <= \r\n")) << log;
    EXPECT_TRUE(messages.empty());
}

TEST_F(ReceiveTest, BlockThatCannotBeLoggedStillGoesThroughAndLoggingStopsOnce)
{
    TDatagramSink relayPeer;
    const int relayPort = TSocketPeer::FreePort(true);
    ASSERT_TRUE(QDir(dir.path()).mkdir("CommLog.txt")); // a folder: the record cannot be written
    startLinked("DataMode=1\r\n" + UdpRelaySettings(relayPort, relayPeer.Port()));
    find<QCheckBox>("chkLogToFile")->setChecked(true);
    ASSERT_TRUE(device.Send("hi"));
    ASSERT_TRUE(WaitFor([&] { return !messages.empty(); })) << "the failed record is reported";
    // A full disk must not drop data out of a relay: kept, counted and relayed.
    EXPECT_TRUE(viewShows("hi"));
    EXPECT_TRUE(WaitFor([&] { return recvPane() == "Recv: 2B."; }));
    EXPECT_EQ(relayPeer.Next(), "hi");
    EXPECT_TRUE(find<QLabel>("stpMessage")->text().startsWith("Logging stopped: "));

    // Logging went off with the failure: the next block goes through without
    // a record and without a second message.
    EXPECT_FALSE(find<QCheckBox>("chkLogToFile")->isChecked());
    ASSERT_TRUE(QDir(dir.path()).rmdir("CommLog.txt"));
    receive("yo", 4);
    EXPECT_EQ(relayPeer.Next(), "yo");
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_FALSE(QFile::exists(dir.filePath("CommLog.txt")));
}

// --- Serial diagnostics -----------------------------------------------------------

TEST_F(ReceiveTest, LineErrorAndModemChangeSendTheirNamesToTheDebugWindow)
{
    debugchannel_testing::Reset();
    SetDebugSocketDirOverride(dir.path().toStdString());
    const std::string path = DebugSocketPath();
    const int window_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    ASSERT_TRUE(MakeDebugSocketAddress(path, addr));
    ASSERT_EQ(::bind(window_, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);

    open();
    window->Engine().Session().OnLineError(false, 0x08);
    window->Engine().Session().OnModemChange(false, 0x04);

    std::vector<std::string> texts;
    for (int i = 0; i < 2; ++i) {
        pollfd p{window_, POLLIN, 0};
        if (::poll(&p, 1, 2000) != 1)
            break;
        char buf[256];
        const ssize_t n = ::recv(window_, buf, sizeof buf, 0);
        const auto record = ParseDebugRecord(std::string_view(buf, n > 0 ? n : 0));
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->Kind, DebugTextKind);
        texts.push_back(record->Text);
    }
    ::close(window_);
    SetDebugSocketDirOverride({});
    debugchannel_testing::Reset();
    EXPECT_EQ(texts, (std::vector<std::string>{"COMReceiveError", "COMModemStateChange"}));
    EXPECT_EQ(recvPane(), "Recv: 0B.") << "no other effect";
}
