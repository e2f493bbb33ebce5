// The window as the device on the other end: a real Modbus master (mbpoll) on
// one end of a pty pair answered from a rules file, a request with a broken
// CRC counted bad and unanswered, and rules over UDP and TCP with bad frames
// marked in the copied text of every representation.
#include "MainWindowFixture.h"
#include "TestPeers.h"
#include "support/SocatPair.h"

#include "app/view/HistoryView.h"
#include "codec/Checks.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <fstream>

using namespace kestrune;
using namespace kestrune::testing;
using namespace std::string_literals;

namespace {

// Read holding register 0 of device 1, and its answer: 42.
const std::string ReadRegister0 = "\x01\x03\x00\x00\x00\x01\x84\x0A"s;
const std::string Rules = "# a device with 42 in holding register 0\n"
                          "A:H:01 03 00 00 00 01:H:01 03 02 00 2A\n"
                          "A:S:ECHO:S:ECHO\n";

} // namespace

class AnswerWindowTest : public MainWindowTest
{
protected:
    std::string rulesFile()
    {
        const std::string path = dir.filePath(QStringLiteral("rules.txt")).toStdString();
        std::ofstream(path, std::ios::binary) << Rules;
        return path;
    }

    void start()
    {
        QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
        ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop")
            << (messages.empty() ? "" : messages[0].text.toStdString());
    }

    // The framed receive view's text after a redraw.
    std::string recvText()
    {
        window->FlushViewRedraw();
        return find<THistoryView>("mmoRecv")->Text();
    }
};

TEST_F(AnswerWindowTest, ModbusMasterGetsEveryPollAnsweredAndABrokenRequestIsCountedBad)
{
    TSocatPair pair;
    std::string error;
    ASSERT_TRUE(pair.Start(error)) << error;
    writeSettings("[Main]\r\nMethod=Serial\r\nPort=" + pair.EndA() +
                  "\r\nBaudrate=115200\r\nReadIntervalTimeout=1\r\n"
                  "[Other]\r\nDataMode=0\r\nCheck=1\r\nShowRecvFrames=1\r\nAnswerRules=1\r\n"
                  "AnswerRulesFile=" +
                  rulesFile() + "\r\nVerifyChecks=1\r\n");
    open();
    window->show();
    start();

    // mbpoll polls until it is stopped; 1,000 polls at its fastest rate take
    // some 11 seconds.
    constexpr int Polls = 1000;
    QProcess master;
    master.setProcessChannelMode(QProcess::MergedChannels);
    master.start(QStringLiteral("mbpoll"),
                 {"-m", "rtu", "-a", "1", "-r", "1", "-c", "1", "-t", "4", "-b", "115200", "-P",
                  "none", "-l", "11", "-o", "0.5", QString::fromStdString(pair.EndB())});
    ASSERT_TRUE(master.waitForStarted(5000)) << "mbpoll: scripts/install-deps.sh installs it";
    int answered = 0;
    int failed = 0;
    QByteArray output;
    const bool done = WaitFor(
        [&] {
            output += master.readAll();
            for (qsizetype nl; (nl = output.indexOf('\n')) >= 0; output.remove(0, nl + 1)) {
                const QByteArray line = output.left(nl).trimmed();
                // "[1]: 42" per answered poll, a line with "failed" per time-out.
                if (line.startsWith("[1]:") && line.endsWith("42"))
                    ++answered;
                else if (line.contains("failed") || line.contains("timed out"))
                    ++failed;
            }
            return answered >= Polls || failed > 0 || master.state() == QProcess::NotRunning;
        },
        60'000);
    master.kill();
    master.waitForFinished(5000);
    ASSERT_TRUE(done) << "answered " << answered;
    EXPECT_EQ(failed, 0);
    EXPECT_GE(answered, Polls);
    EXPECT_EQ(window->Engine().BadFrames(), 0u);

    // A broken CRC, once the master's last poll is over: counted and marked
    // bad, never answered.
    Pump(100);
    const std::uint64_t counted = window->Engine().AnsweredFrames();
    TRawEnd end(pair.EndB());
    ASSERT_TRUE(end.Valid());
    std::string broken = ReadRegister0;
    broken.back() = '\x0B';
    ASSERT_TRUE(end.Write(broken));
    ASSERT_TRUE(WaitFor([&] { return window->Engine().BadFrames() == 1; }));
    Pump(50);
    EXPECT_EQ(end.Read(1, 0), "");
    EXPECT_GE(counted, static_cast<std::uint64_t>(Polls));
    EXPECT_EQ(window->Engine().AnsweredFrames(), counted);
    EXPECT_EQ(find<QLabel>("stpAnswered")->text(), QStringLiteral("Answered: %1").arg(counted));
    EXPECT_EQ(find<QLabel>("stpBad")->text(), "Bad: 1");
    const std::string text = recvText();
    EXPECT_NE(text.find("BAD 01 03 00 00 00 01 84 0B"), std::string::npos)
        << text.substr(text.size() - 200);
}

// An echo rule over UDP and over TCP, with a sum check verified: a good frame
// comes back framed with its check, a bad one stays unanswered and its line
// carries the marker in Hex, Character and Mixed alike.
class AnswerOverNetwork : public AnswerWindowTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(AnswerOverNetwork, EchoRuleAnswersAndBadFramesAreMarkedInEveryRepresentation)
{
    const bool tcp = GetParam();
    TSocketPeer peer;
    const int local = TSocketPeer::FreePort(!tcp);
    if (!tcp) {
        ASSERT_TRUE(peer.BindUdp());
    }
    writeSettings("[Main]\r\nMethod="s + (tcp ? "TCPServer" : "UDP") +
                  "\r\nIPAddr=127.0.0.1\r\nLocalPort=" + std::to_string(local) +
                  "\r\nRemotePort=" + std::to_string(tcp ? 13002 : peer.Port()) +
                  "\r\n[Other]\r\nDataMode=0\r\nCheck=2\r\nShowRecvFrames=1\r\n"
                  "AnswerRules=1\r\nAnswerRulesFile=" +
                  rulesFile() + "\r\nVerifyChecks=1\r\n");
    open();
    window->show();
    start();
    if (tcp) {
        ASSERT_TRUE(peer.Connect(local));
    }
    const auto send = [&](const std::string &bytes) {
        return tcp ? peer.Send(bytes) : peer.SendTo(bytes, local);
    };

    std::string echo = "ECHO";
    AppendCheck(echo, ckSumMod);
    ASSERT_TRUE(send(echo));
    EXPECT_EQ(peer.Read(echo.size()), echo);
    ASSERT_TRUE(send("ECHO!"));
    ASSERT_TRUE(WaitFor([&] { return window->Engine().BadFrames() == 1; }));
    Pump(50);
    EXPECT_EQ(peer.Read(1, 50), "");
    EXPECT_EQ(window->Engine().AnsweredFrames(), 1u);

    auto *mode = find<QComboBox>("cboDataMode");
    const struct
    {
        int mode;
        std::string good;
        std::string bad;
    } shown[] = {
        {0, "    45 43 48 4F 1F", "BAD 45 43 48 4F 21"},
        {1, "    ECHO.", "BAD ECHO!"},
        {2, "    ECHO{1F}", "BAD ECHO!"},
    };
    for (const auto &s : shown) {
        mode->setCurrentIndex(s.mode);
        const QStringList lines = QString::fromStdString(recvText()).split('\n');
        ASSERT_EQ(lines.size(), 2) << recvText();
        // Each line: the time, then the check column, then the bytes.
        EXPECT_EQ(lines[0].mid(13).toStdString(), s.good);
        EXPECT_EQ(lines[1].mid(13).toStdString(), s.bad);
    }

    // The choices are kept at exit.
    find<QCheckBox>("chkVerifyChecks")->setChecked(false);
    close();
    const std::string saved = readSettings();
    EXPECT_NE(saved.find("VerifyChecks=0"), std::string::npos) << saved;
    EXPECT_NE(saved.find("AnswerRulesFile=" + rulesFile()), std::string::npos) << saved;
}

INSTANTIATE_TEST_SUITE_P(UdpAndTcp, AnswerOverNetwork, ::testing::Bool(),
                         [](const auto &param) { return param.param ? "Tcp" : "Udp"; });
