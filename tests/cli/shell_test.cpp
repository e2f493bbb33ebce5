// The shell commands run as a user runs them: the real program as a child
// process, real peers on loopback and on pty pairs, exit statuses and output read.
#include "cli/ShellFixture.h"
#include "support/CaptureReader.h"

#include <QDate>

#include <QRandomGenerator>
#include <csignal>
#include <fcntl.h>

using namespace shelltest;

namespace {

QProcessEnvironment WithoutDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    return env;
}

QByteArray RandomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

} // namespace

TEST_F(ShellTest, UsageFilesAndChannelsThatDoNotOpen)
{
    Write("list.txt", "S:H:01\n");
    const int closedPort = FreeLoopbackPort();
    struct TCase
    {
        QStringList Args;
        int Exit;
        QString Out; // a part of standard output
        QString Err; // a part of standard error
    };
    const std::vector<TCase> cases = {
        {{"--help"}, 0, "kestrune run LIST [OPTIONS]", ""},
        {{"run", "--help"}, 0, "4  --timeout ran out", ""},
        {{"bridge", "--help"}, 0, "until SIGINT or SIGTERM", ""},
        {{"--version"}, 0, "kestrune 0.1", ""},
        {{"run", "missing.txt", "--tcp-client", "127.0.0.1,1"},
         2,
         "",
         "cannot read the command list \"missing.txt\": No such file or directory"},
        {{"run", "list.txt", "--speed", "9"}, 2, "", "unknown option \"--speed\" for run"},
        {{"run", "list.txt", "--settings", "none.ini"},
         2,
         "",
         "cannot read the settings file \"none.ini\""},
        {{"bridge", "--serial", "/dev/null,slow"}, 2, "", "Baud rate \"slow\""},
        {{"run", "list.txt", "--tcp-client", "127.0.0.1," + QString::number(closedPort)},
         3,
         "",
         "Connection refused"},
        {{"bridge", "--serial", Dir() + "/no-such-port"}, 3, "", "No such file or directory"},
        {{"bridge", "--tcp-server", "1", "--capture", Dir()}, 2, "", "Cannot write the capture"},
    };
    for (const TCase &c : cases) {
        // No display at all: the shell commands never need one.
        const TRunResult r = Run(c.Args, 20000, WithoutDisplay());
        const std::string what = c.Args.join(' ').toStdString();
        EXPECT_EQ(r.Exit, c.Exit) << what << "\n" << r.Err.toStdString();
        EXPECT_TRUE(r.Out.contains(c.Out)) << what << "\n" << r.Out.toStdString();
        EXPECT_TRUE(r.Err.contains(c.Err)) << what << "\n" << r.Err.toStdString();
        // Messages are whole lines.
        EXPECT_TRUE(r.Err.isEmpty() || r.Err.endsWith('\n')) << what;
    }
}

// A list against an echo peer: the replies that come are printed and logged,
// the one that never comes is named and makes the exit status 1.
class ShellEchoTest : public ShellTest, public ::testing::WithParamInterface<const char *>
{
};

TEST_P(ShellEchoTest, RunsAListAgainstAnEchoPeer)
{
    const std::string kind = GetParam();
    TChild echo;
    QStringList channel;
    if (kind == "tcp") {
        const int port = FreeLoopbackPort();
        echo.StartSocat({QString("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port), "EXEC:cat"});
        channel = {"--tcp-client", QString("127.0.0.1,%1").arg(port)};
    } else if (kind == "udp") {
        const int port = FreeLoopbackPort(true);
        echo.StartSocat({QString("UDP-LISTEN:%1,bind=127.0.0.1").arg(port), "EXEC:cat"});
        channel = {"--udp", QString("%1,127.0.0.1,%2").arg(FreeLoopbackPort(true)).arg(port)};
    } else {
        const QString tty = PathOf("tty");
        echo.StartSocat({"PTY,link=" + tty + ",rawer", "EXEC:cat"}, tty);
        channel = {"--serial", tty + ",115200"};
    }
    Write("list.txt", "; echo test\n"
                      "S:M:hello{0D}\n"
                      "R:T3000:M:hello{0D}\n"
                      "T50\n"
                      "S:H:01 02 03\n"
                      "R:T3000:H:01 02 03\n"
                      "T50\n"
                      "R:T200:H:EE\n");
    const TRunResult r =
        Run(QStringList{"run", "list.txt", "--mode", "mixed", "--log", "comm.log"} + channel);
    EXPECT_EQ(r.Exit, 1) << r.Err.toStdString();
    EXPECT_EQ(r.Err, "kestrune: line 8: no reply \"EE\" within 200 ms\n");
    const QStringList lines = r.Out.split('\n', Qt::SkipEmptyParts);
    QStringList shapes;
    for (const QString &line : lines)
        shapes << line.mid(13); // after the time
    EXPECT_EQ(shapes, (QStringList{"main > hello{0D}", "main < hello{0D}", "main > {01}{02}{03}",
                                   "main < {01}{02}{03}"}))
        << r.Out.toStdString();
    const QByteArray log = Read("comm.log");
    EXPECT_EQ(log.count(" => "), 2) << log.toStdString();
    EXPECT_EQ(log.count(" <= "), 2) << log.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Peers, ShellEchoTest, ::testing::Values("tcp", "udp", "pty"));

// A Modbus RTU server (pymodbus) on a pty pair: a hundred reads all answered;
// once the server is gone the first reply line is named.
TEST_F(ShellTest, ModbusRtuReadsAgainstPymodbus)
{
    const QString a = PathOf("ttyA");
    const QString b = PathOf("ttyB");
    TChild pair;
    pair.StartSocat({"PTY,link=" + a + ",rawer", "PTY,link=" + b + ",rawer"}, b);
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(a); }));
    TChild server;
    server.Start("/usr/bin/python3",
                 {"-c",
                  "import sys\n"
                  "from pymodbus.server import StartSerialServer\n"
                  "from pymodbus.datastore import ModbusSlaveContext, ModbusServerContext, "
                  "ModbusSequentialDataBlock\n"
                  "from pymodbus.transaction import ModbusRtuFramer\n"
                  "store = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, [42] * 10))\n"
                  "StartSerialServer(context=ModbusServerContext(slaves=store, single=True), "
                  "framer=ModbusRtuFramer, port=sys.argv[1], baudrate=19200)\n",
                  b});
    QByteArray list;
    for (int i = 0; i < 100; ++i)
        list += "S:H:01 03 00 00 00 01 84 0A\nR:T1000:H:01 03 02 00 2A\n";
    Write("reads.txt", list);
    // The server needs a moment to open its port.
    Write("one.txt", "S:H:01 03 00 00 00 01 84 0A\nR:T200:H:01 03 02 00 2A\n");
    ASSERT_TRUE(WaitUntil(
        [&] {
            return Run({"run", "one.txt", "--serial", a, "-q"}).Exit == 0;
        },
        20000));
    TRunResult r = Run({"run", "reads.txt", "--serial", a + ",19200", "--mode", "hex"});
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out.count("main < 01 03 02 00 2A 39 9B"), 100) << r.Out.toStdString();

    server.Kill();
    Write("two.txt", "S:H:01 03 00 00 00 01 84 0A\nR:T300:H:01 03 02 00 2A\n"
                     "S:H:01 03 00 00 00 01 84 0A\nR:T300:H:01 03 02 00 2A\n");
    r = Run({"run", "two.txt", "--serial", a + ",19200", "-q"});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_TRUE(r.Out.isEmpty());
    EXPECT_TRUE(r.Err.startsWith("kestrune: line 2: no reply \"01 03 02 00 2A\" within 300 ms\n"))
        << r.Err.toStdString();
}

TEST_F(ShellTest, TimeoutBoundsAReplyThatWaitsForever)
{
    TChild echo;
    const int port = FreeLoopbackPort();
    echo.StartSocat({QString("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port), "EXEC:cat"});
    Write("wait.txt", "S:S:x\nR:H:EE\n");
    const TRunResult r = Run(
        {"run", "wait.txt", "--tcp-client", QString("127.0.0.1,%1").arg(port), "--timeout", "300"});
    EXPECT_EQ(r.Exit, 4);
    EXPECT_EQ(r.Err, "kestrune: timed out after 300 ms\n");
    EXPECT_TRUE(r.Out.contains("main > x")) << r.Out.toStdString();
}

TEST_F(ShellTest, BridgeEndsCleanlyOnSigterm)
{
    const int port = FreeLoopbackPort();
    QProcess bridge;
    Start(bridge, {"bridge", "--tcp-server", QString::number(port), "--log", "bridge.log"});
    ASSERT_TRUE(bridge.waitForStarted(5000));
    TChild client;
    ASSERT_TRUE(WaitUntil([&] {
        client.Kill();
        client.Start("socat", {"-u", "EXEC:printf ping", QString("TCP:127.0.0.1:%1").arg(port)});
        client.Process().waitForFinished(2000);
        return Read("bridge.log").contains("<= ping");
    }));
    ::kill(static_cast<pid_t>(bridge.processId()), SIGTERM);
    ASSERT_TRUE(bridge.waitForFinished(5000));
    EXPECT_EQ(bridge.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(bridge.exitCode(), 0) << bridge.readAllStandardError().toStdString();
    // The peer's close is a record of its own, so the file ends with a whole one.
    const QByteArray log = Read("bridge.log");
    EXPECT_TRUE(log.contains("<= ping\r\n") && log.endsWith("\r\n")) << log.toStdString();
    EXPECT_TRUE(bridge.readAllStandardOutput().contains(" main < ping\n"));
}

// --log takes a name pattern and --capture a pcapng file: a client's bytes
// reach both, and the capture reads whole after the bridge is ended.
TEST_F(ShellTest, BridgeLogsByPatternAndCaptures)
{
    const int port = FreeLoopbackPort();
    QProcess bridge;
    Start(bridge, {"bridge", "-q", "--tcp-server", QString::number(port), "--log", "b-%Y.log",
                   "--capture", "b.pcapng"});
    ASSERT_TRUE(bridge.waitForStarted(5000));
    const QString log = "b-" + QDate::currentDate().toString("yyyy") + ".log";
    TChild client;
    ASSERT_TRUE(WaitUntil([&] {
        client.Kill();
        client.Start("socat", {"-u", "EXEC:printf ping", QString("TCP:127.0.0.1:%1").arg(port)});
        client.Process().waitForFinished(2000);
        return Read(log).contains("<= ping");
    }));
    ::kill(static_cast<pid_t>(bridge.processId()), SIGTERM);
    ASSERT_TRUE(bridge.waitForFinished(5000));
    EXPECT_EQ(bridge.exitCode(), 0) << bridge.readAllStandardError().toStdString();
    const auto rows = kestrune::testing::TsharkRows(PathOf("b.pcapng").toStdString(),
                                                    {"tcp.dstport", "tcp.payload"}, {},
                                                    "tcp.payload == \"ping\"");
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], QString("%1|70696e67").arg(port).toStdString());
}

// Two TCP servers joined by a bridge carry 10 MB each way between their
// clients, whole and in order, over two generations of clients.
TEST_F(ShellTest, BridgeCarriesTenMegabytesBothWaysWhileClientsComeAndGo)
{
    const int mainPort = FreeLoopbackPort();
    const int relayPort = FreeLoopbackPort();
    TChild bridge;
    bridge.Start(QString::fromStdString(FCopy.Program),
                 {"bridge", "-q", "--tcp-server", QString::number(mainPort), "--relay",
                  QString("tcp-server,%1").arg(relayPort)},
                 Dir());
    // Clients connect once both servers listen.
    QProcess &process = bridge.Process();
    process.setReadChannel(QProcess::StandardError);
    ASSERT_TRUE(WaitUntil([&] {
        process.waitForReadyRead(20);
        return process.peek(4096).contains("kestrune: open: main TCP Server,");
    }));
    const auto connected = [&](int n) {
        return WaitUntil([&] { return Read("Login.txt").count("Connected.") >= n; });
    };
    const auto disconnected = [&](int n) {
        return WaitUntil([&] { return Read("Login.txt").count("Disconnected.") >= n; });
    };
    int round = 0;
    for (const int size : {6 << 20, 4 << 20}) {
        ++round;
        const QString r = QString::number(round);
        Write("inA" + r, RandomBytes(size, 1 + round));
        Write("inB" + r, RandomBytes(size, 100 + round));
        // Each client sends once both are there, and writes what it gets.
        const auto client = [&](TChild &child, int port, const QString &side) {
            child.Start("socat",
                        {QString("TCP:127.0.0.1:%1").arg(port),
                         QString("SYSTEM:while [ ! -e go%1 ]; do sleep 0.02; done; cat in%2%1 & "
                                 "exec cat > out%2%1")
                             .arg(r, side)},
                        Dir());
        };
        TChild a;
        TChild b;
        client(a, mainPort, "A");
        ASSERT_TRUE(connected(2 * round - 1));
        client(b, relayPort, "B");
        ASSERT_TRUE(connected(2 * round));
        Write("go" + r, "");
        ASSERT_TRUE(WaitUntil(
            [&] {
                return QFileInfo(PathOf("outA" + r)).size() >= size &&
                       QFileInfo(PathOf("outB" + r)).size() >= size;
            },
            60000))
            << QFileInfo(PathOf("outA" + r)).size() << " " << QFileInfo(PathOf("outB" + r)).size();
        EXPECT_TRUE(Read("outB" + r) == Read("inA" + r)) << "round " << round;
        EXPECT_TRUE(Read("outA" + r) == Read("inB" + r)) << "round " << round;
        a.Kill();
        b.Kill();
        ASSERT_TRUE(disconnected(2 * round));
    }
    EXPECT_EQ(bridge.Process().state(), QProcess::Running);
}

TEST_F(ShellTest, BridgeExitsThreeWhenItsSerialDeviceGoes)
{
    const QString tty = PathOf("tty");
    TChild device;
    device.StartSocat({"PTY,link=" + tty + ",rawer", "EXEC:cat"}, tty);
    QProcess bridge;
    Start(bridge, {"bridge", "--serial", tty});
    ASSERT_TRUE(bridge.waitForStarted(5000));
    ASSERT_FALSE(bridge.waitForFinished(500)) << bridge.readAllStandardError().toStdString();
    device.Kill();
    ASSERT_TRUE(bridge.waitForFinished(10000));
    EXPECT_EQ(bridge.exitCode(), 3);
    // The channel it opened, then why it ended.
    const QByteArray err = bridge.readAllStandardError();
    EXPECT_EQ(err.count('\n'), 2) << err.toStdString();
    EXPECT_TRUE(err.startsWith("kestrune: open: main Serial,")) << err.toStdString();
}

// A bridge as the Modbus device: mbpoll on the other end of a pty pair gets
// every poll answered from a rules file; a request whose CRC is broken is
// judged bad and left unanswered.
TEST_F(ShellTest, BridgeAnswersAModbusMasterByRules)
{
    const QString a = PathOf("ttyA");
    const QString b = PathOf("ttyB");
    TChild pair;
    pair.StartSocat({"PTY,link=" + a + ",rawer", "PTY,link=" + b + ",rawer"}, b);
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(a); }));
    Write("rules.txt",
          "; holding register 0 of device 1 holds 42\nA:H:01 03 00 00 00 01:H:01 03 02 00 2A\n");
    Write("device.ini", "[Main]\nReadIntervalTimeout=1\n[Other]\nCheck=1\n");
    QProcess bridge;
    Start(bridge, {"bridge", "-q", "--settings", "device.ini", "--serial", a + ",115200", "--rules",
                   "rules.txt", "--verify-checks"});
    ASSERT_TRUE(bridge.waitForStarted(5000));
    bridge.setReadChannel(QProcess::StandardError);
    ASSERT_TRUE(WaitUntil([&] {
        bridge.waitForReadyRead(20);
        return bridge.peek(4096).contains("kestrune: open: main Serial,");
    }));

    // mbpoll polls until it is stopped.
    constexpr int Polls = 1000;
    QProcess master;
    master.setProcessChannelMode(QProcess::MergedChannels);
    master.start("mbpoll", {"-m", "rtu", "-a", "1", "-r", "1", "-c", "1", "-t", "4", "-b", "115200",
                            "-P", "none", "-l", "11", "-o", "0.5", b});
    int answered = 0;
    QByteArray output;
    ASSERT_TRUE(WaitUntil(
        [&] {
            master.waitForReadyRead(20);
            output += master.readAll();
            answered = 0;
            for (const QByteArray &l : output.split('\n')) {
                const QByteArray t = l.trimmed();
                answered += t.startsWith("[1]:") && t.endsWith("42") ? 1 : 0;
            }
            return answered >= Polls || output.contains("failed") || output.contains("timed out");
        },
        60000))
        << output.right(300).toStdString();
    master.kill();
    master.waitForFinished(5000);
    EXPECT_GE(answered, Polls) << output.right(300).toStdString();
    EXPECT_FALSE(output.contains("timed out")) << output.right(300).toStdString();

    // A request with a broken CRC, written straight onto the line: no answer.
    // A sound request after it is answered, so the broken one has been judged.
    const int line = ::open(b.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(line, 0);
    const QByteArray broken = QByteArray::fromHex("010300000001840B");
    const QByteArray sound = QByteArray::fromHex("010300000001840A");
    ASSERT_EQ(::write(line, broken.data(), broken.size()), broken.size());
    QThread::msleep(100);
    ASSERT_EQ(::write(line, sound.data(), sound.size()), sound.size());
    QByteArray answer;
    EXPECT_TRUE(WaitUntil([&] {
        char buffer[64];
        const ssize_t n = ::read(line, buffer, sizeof buffer);
        if (n > 0)
            answer.append(buffer, n);
        return answer.size() >= 7;
    }));
    ::close(line);
    EXPECT_EQ(answer.toHex(), "010302002a399b");
    ::kill(static_cast<pid_t>(bridge.processId()), SIGTERM);
    ASSERT_TRUE(bridge.waitForFinished(5000));
    EXPECT_EQ(bridge.exitCode(), 0);
    const QByteArray err = bridge.readAllStandardError();
    EXPECT_TRUE(err.contains("kestrune: answered ")) << err.toStdString();
    EXPECT_TRUE(err.contains(" frames; 1 with a bad check\n")) << err.toStdString();
}
