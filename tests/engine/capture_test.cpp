// Captures of real links read back with tshark and capinfos: socket channels
// with socat peers, a serial line on a pty, a capture cut by SIGKILL, and a
// capture that cannot be written.
#include "codec/Checks.h"
#include "engine/Engine.h"
#include "support/CaptureReader.h"
#include "support/FakeTransport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace kestrune;
using namespace kestrune::testing;

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (const int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

std::string Hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

// A Modbus/TCP (and Modbus/UDP) request to read one register, and its answer.
std::string MbapRequest(int id)
{
    return Bytes({0, id, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1});
}
std::string MbapAnswer(int id)
{
    return Bytes({0, id, 0, 0, 0, 5, 1, 3, 2, 0, 42});
}

struct TSocketCase
{
    const char *Name;
    TCommMethod Method;
    const char *Proto;  // tshark's field prefix
    const char *Decode; // the dissector given the channel's port
};

class SocketCapture : public ::testing::TestWithParam<TSocketCase>
{
};

} // namespace

// The socat peer sends two Modbus requests, the engine answers each: the
// capture holds the four in order, with their directions, the real ports,
// valid checksums, TCP sequence numbers that follow on, and Wireshark decodes
// them as Modbus by port.
TEST_P(SocketCapture, HoldsEachBlockWithItsDirectionPortsAndPayload)
{
    const TSocketCase &c = GetParam();
    const bool udp = c.Method == cmUDP;
    QTemporaryDir dir;
    const std::string file = dir.filePath("cap.pcapng").toStdString();
    const int port = FreeLoopbackPort(udp);
    const int peerPort = FreeLoopbackPort(udp);

    TEngine engine;
    TSettings settings;
    settings.Main.Method = c.Method;
    settings.Main.IPAddr = "127.0.0.1";
    settings.Main.LocalPort = port;
    settings.Main.RemotePort = peerPort;
    engine.SetSettings(settings);
    ASSERT_EQ(engine.SetCapture(file), "");
    ASSERT_TRUE(engine.Start());

    QProcess peer;
    const QString address =
        udp ? QString("UDP-DATAGRAM:127.0.0.1:%1,bind=127.0.0.1:%2").arg(port).arg(peerPort)
            : QString("TCP:127.0.0.1:%1").arg(port);
    peer.start("socat", {"-", address});
    ASSERT_TRUE(peer.waitForStarted(5000));
    if (udp)
        QTest::qWait(200); // socat has bound its port
    else
        ASSERT_TRUE(QTest::qWaitFor([&] { return engine.Session().MainCanSend(); }, 5000));

    std::string heard;
    for (int id = 1; id <= 2; ++id) {
        const std::size_t before = engine.RecvHistory().End();
        peer.write(QByteArray::fromStdString(MbapRequest(id)));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return engine.RecvHistory().End() == before + MbapRequest(id).size(); }, 5000));
        ASSERT_TRUE(engine.Transmit(MbapAnswer(id)));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                heard += peer.readAllStandardOutput().toStdString();
                return heard.size() == MbapAnswer(1).size() * id;
            },
            5000));
    }
    EXPECT_EQ(heard, MbapAnswer(1) + MbapAnswer(2));
    engine.Stop();
    EXPECT_EQ(engine.SetCapture(""), "");
    peer.kill();
    peer.waitForFinished(5000);

    const QString p = c.Proto;
    const QStringList options{"-o", "ip.check_checksum:TRUE",
                              "-o", p + ".check_checksum:TRUE",
                              "-o", "tcp.relative_sequence_numbers:FALSE",
                              "-d", QString("%1.port==%2,%3").arg(p).arg(port).arg(c.Decode)};
    const auto rows =
        TsharkRows(file,
                   {"frame.interface_name", "frame.packet_flags_direction", p + ".srcport",
                    p + ".dstport", p + ".payload", "ip.checksum.status", p + ".checksum.status",
                    "mbtcp.trans_id", "modbus.func_code"},
                   options, p + ".payload");
    ASSERT_EQ(rows.size(), 4u) << (rows.empty() ? "" : rows[0]);
    const std::string peerEnd = udp ? std::to_string(peerPort) : "";
    for (int i = 0; i < 4; ++i) {
        const int id = i / 2 + 1;
        const bool in = i % 2 == 0;
        const std::string local = std::to_string(port);
        const std::string payload = Hex(in ? MbapRequest(id) : MbapAnswer(id));
        SCOPED_TRACE(rows[static_cast<std::size_t>(i)]);
        std::vector<std::string> f;
        for (std::size_t at = 0, end; at <= rows[i].size(); at = end + 1) {
            end = rows[i].find('|', at);
            if (end == std::string::npos)
                end = rows[i].size();
            f.push_back(rows[i].substr(at, end - at));
        }
        ASSERT_EQ(f.size(), 9u);
        EXPECT_EQ(f[0], "main");
        EXPECT_EQ(f[1], in ? "0x00000001" : "0x00000002");
        EXPECT_EQ(f[in ? 3 : 2], local);
        if (udp) {
            EXPECT_EQ(f[in ? 2 : 3], peerEnd);
        }
        EXPECT_EQ(f[4], payload);
        EXPECT_EQ(f[5], "1") << "IPv4 checksum good";
        EXPECT_EQ(f[6], "1") << "UDP/TCP checksum good";
        EXPECT_EQ(f[7], std::to_string(id));
        EXPECT_EQ(f[8], "3");
    }
    if (!udp) {
        // Each segment starts where the one before in its direction ended and
        // acknowledges everything the other direction sent.
        const auto seq = TsharkRows(file, {"tcp.seq", "tcp.ack", "tcp.analysis.flags"},
                                    {"-o", "tcp.relative_sequence_numbers:FALSE"}, "tcp.len>0");
        ASSERT_EQ(seq.size(), 4u);
        auto num = [](const std::string &row, int field) {
            std::size_t at = 0;
            for (int i = 0; i < field; ++i)
                at = row.find('|', at) + 1;
            return std::stoul(row.substr(at, row.find('|', at) - at));
        };
        EXPECT_EQ(num(seq[2], 0), num(seq[0], 0) + 12);
        EXPECT_EQ(num(seq[3], 0), num(seq[1], 0) + 11);
        EXPECT_EQ(num(seq[1], 1), num(seq[0], 0) + 12);
        EXPECT_EQ(num(seq[3], 1), num(seq[2], 0) + 12);
        for (const std::string &row : seq)
            EXPECT_EQ(row.substr(row.rfind('|') + 1), "") << "tshark flags: " << row;
    }
}

INSTANTIATE_TEST_SUITE_P(Channels, SocketCapture,
                         ::testing::Values(TSocketCase{"Udp", cmUDP, "udp", "mbudp"},
                                           TSocketCase{"TcpServer", cmTCPServer, "tcp", "mbtcp"}),
                         [](const auto &param) { return std::string(param.param.Name); });

namespace {

// The master side of a pty whose slave the engine opens as its serial port.
struct TPtyMaster
{
    TPtyMaster()
    {
        Fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (Fd >= 0 && ::grantpt(Fd) == 0 && ::unlockpt(Fd) == 0)
            Slave = ::ptsname(Fd);
    }
    ~TPtyMaster() { ::close(Fd); }
    std::string Read(std::size_t count)
    {
        std::string got;
        (void)QTest::qWaitFor(
            [&] {
                char buffer[256];
                pollfd p{Fd, POLLIN, 0};
                if (::poll(&p, 1, 0) == 1) {
                    const ssize_t n = ::read(Fd, buffer, sizeof buffer);
                    if (n > 0)
                        got.append(buffer, static_cast<std::size_t>(n));
                }
                return got.size() >= count;
            },
            5000);
        return got;
    }
    int Fd = -1;
    std::string Slave;
};

ByteString WithCrc(ByteString frame)
{
    AppendCheck(frame, ckModbusCRC16);
    return frame;
}

} // namespace

// A serial channel's capture is link type USER0: told "Modbus RTU" for it,
// Wireshark decodes the request that went out and the answer that came back.
TEST(SerialCapture, DecodesAsModbusRtuWithTheUserLinkTypeSetting)
{
    TPtyMaster pty;
    ASSERT_FALSE(pty.Slave.empty());
    QTemporaryDir dir;
    const std::string file = dir.filePath("serial.pcapng").toStdString();
    TEngine engine;
    TSettings settings;
    settings.Main.Port = pty.Slave;
    settings.Main.Baudrate = 115200;
    settings.Main.ByteSize = 3; // 8 bits
    settings.Main.ReadIntervalTimeout = 5;
    engine.SetSettings(settings);
    ASSERT_EQ(engine.SetCapture(file), "");
    ASSERT_TRUE(engine.Start());

    const ByteString request = WithCrc(Bytes({1, 3, 0, 0, 0, 1}));
    const ByteString answer = WithCrc(Bytes({1, 3, 2, 0, 42}));
    ASSERT_TRUE(engine.Transmit(request));
    ASSERT_EQ(pty.Read(request.size()), request);
    ASSERT_EQ(::write(pty.Fd, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.RecvHistory().End() == answer.size(); }, 5000));
    engine.Stop();
    engine.SetCapture("");

    const auto rows =
        TsharkRows(file,
                   {"frame.interface_name", "frame.packet_flags_direction", "mbrtu.unit_id",
                    "modbus.func_code", "mbrtu.crc16.status"},
                   {"-o", "mbrtu.crc_verification:TRUE", "-o",
                    R"opt(uat:user_dlts:"User 0 (DLT=147)","mbrtu","0","","0","")opt"});
    EXPECT_EQ(rows, (std::vector<std::string>{"main|0x00000002|1|3|1", "main|0x00000001|1|3|1"}));
}

namespace {

// The child of the SIGKILL test: sends frames into a capture until it is killed.
void RunCaptureChild(const std::string &file)
{
    auto link = std::make_shared<TFakeLink>();
    TEngine engine;
    engine.SetTransportFactory(
        [&](const TChannel &) { return std::make_unique<TFakeTransport>(link); });
    if (!engine.SetCapture(file).empty() || !engine.Start())
        std::_Exit(2);
    // Bounded, so a parent that died leaves no process behind.
    for (int i = 0; i < 200000; ++i) {
        (void)engine.Transmit(WithCrc(Bytes({1, 6, 0, i & 0xFF, 0, 1})));
        QCoreApplication::processEvents();
        ::usleep(100);
    }
    std::_Exit(0);
}

} // namespace

// Killed while it writes, the program leaves a capture that reads whole:
// every packet is in the file as soon as it is made.
TEST(CaptureCut, ReadsWholeAfterSigkill)
{
    if (const char *child = std::getenv("KESTRUNE_CAPTURE_CHILD")) {
        RunCaptureChild(child);
        return;
    }
    QTemporaryDir dir;
    const QString file = dir.filePath("cut.pcapng");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KESTRUNE_CAPTURE_CHILD", file);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=CaptureCut.*"});
    ASSERT_TRUE(child.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(file).size() > 20000; }, 20000));
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished(5000));

    bool ok = false;
    const std::string info = RunTool("capinfos", {"-c", "-M", file}, &ok);
    EXPECT_TRUE(ok) << info;
    const auto packets = TsharkRows(file.toStdString(), {"frame.len"});
    EXPECT_GT(packets.size(), 200u);
    EXPECT_NE(info.find("Number of packets:   " + std::to_string(packets.size())),
              std::string::npos)
        << info;
}

// A capture that cannot be written ends once, with its reason, when its
// turn's packets are flushed; the data goes on and the file keeps its whole
// blocks. A file that cannot be created is refused at once.
TEST(CaptureFailure, StopsOnceAndKeepsTheFileReadable)
{
    QTemporaryDir dir;
    EXPECT_NE(TEngine().SetCapture(dir.path().toStdString()), "");

    auto link = std::make_shared<TFakeLink>();
    TEngine engine;
    engine.SetTransportFactory(
        [&](const TChannel &) { return std::make_unique<TFakeTransport>(link); });
    std::vector<std::string> stops;
    engine.OnCaptureStopped = [&](const std::string &message) { stops.push_back(message); };
    const std::string file = dir.filePath("full.pcapng").toStdString();
    ASSERT_EQ(engine.SetCapture(file), "");
    ASSERT_TRUE(engine.Start());

    // The file may grow by 500 bytes more, then writes fail.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = static_cast<rlim_t>(QFileInfo(QString::fromStdString(file)).size() + 500);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(engine.Transmit(std::string(80, static_cast<char>(i))));
    QTest::qWait(20);
    ::setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_EQ(link->Writes.size(), 10u);
    EXPECT_FALSE(engine.Capturing());
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_NE(stops[0].find("File too large"), std::string::npos) << stops[0];
    bool ok = false;
    const std::string info = RunTool("capinfos", {"-c", QString::fromStdString(file)}, &ok);
    EXPECT_TRUE(ok) << info;
    // The interface block and three packets fitted.
    EXPECT_EQ(TsharkRows(file, {"frame.len"}).size(), 3u);
}

// Relays have interfaces of their own: what a block from the main channel
// does (in on "main", out on "R1") and what one from the relay does.
TEST(RelayCapture, NamesEachChannelsInterfaceAndBothDirections)
{
    QTemporaryDir dir;
    const std::string file = dir.filePath("relay.pcapng").toStdString();
    std::vector<std::shared_ptr<TFakeLink>> links{std::make_shared<TFakeLink>(),
                                                  std::make_shared<TFakeLink>()};
    TEngine engine;
    engine.SetTransportFactory([&](const TChannel &channel) {
        return std::make_unique<TFakeTransport>(links[static_cast<std::size_t>(channel.LocalPort)]);
    });
    TSettings settings;
    TChannel relay;
    relay.LocalPort = 1;
    settings.Relays.push_back({relay, true});
    engine.SetSettings(settings);
    ASSERT_EQ(engine.SetCapture(file), "");
    ASSERT_TRUE(engine.Start());
    links[0]->Transport->Receive("ab");
    QTest::qWait(10); // joined relay writes go out on a later turn
    links[1]->Transport->Receive("xyz");
    QTest::qWait(10);
    engine.Stop();
    engine.SetCapture("");

    EXPECT_EQ(
        TsharkRows(file, {"frame.interface_name", "frame.packet_flags_direction", "data.data"}),
        (std::vector<std::string>{"main|0x00000001|6162", "R1|0x00000002|6162",
                                  "R1|0x00000001|78797a", "main|0x00000002|78797a"}));
}
