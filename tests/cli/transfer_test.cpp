// `kestrune send` and `kestrune receive` against lrzsz's rx, rb, sx and sb on
// the other end of a socat pty, directly and through ser2net over RFC 2217.
// lrzsz talks to socat through pipes: on a pty it empties the line when it
// exits, which can swallow its own last answer before socat has read it.
#include "cli/ShellFixture.h"
#include "serial/rfc2217_peers.h"

#include <QRandomGenerator>
#include <csignal>
#include <fstream>

using namespace shelltest;

namespace {

QByteArray RandomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char &c : bytes)
        c = static_cast<char>(random.generate());
    return bytes;
}

class TransferShellTest : public ShellTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(Dir()).mkpath("peer"));
        ASSERT_TRUE(QDir(Dir()).mkpath("in"));
    }
    QString Peer() const { return PathOf("peer"); }
    QByteArray PeerFile(const QString &name) const
    {
        QFile file(Peer() + "/" + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    void WritePeer(const QString &name, const QByteArray &bytes) const
    {
        QFile file(Peer() + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    // An lrzsz command in the peer folder behind a pty; the main channel's
    // option for the program: the pty itself, or ser2net serving it.
    QStringList StartPeer(const QString &command, bool remote)
    {
        const QString tty = PathOf("tty");
        FPeer.Start("socat",
                    {"-t", "2", "pty,raw,echo=0,link=" + tty,
                     (command.startsWith("SYSTEM:") ? command : "EXEC:" + command) + ",pipes"},
                    Peer());
        EXPECT_TRUE(WaitUntil([&] { return QFile::exists(tty); }));
        if (!remote)
            return {"--serial", tty + ",115200"};
        const int port = kestrune::testing::FreeLoopbackPort();
        std::ofstream(PathOf("ser2net.yaml").toStdString())
            << "connection: &k\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << port
            << "\n  connector: serialdev," << QFileInfo(tty).canonicalFilePath().toStdString()
            << ",115200n81,local\n";
        FSer2net.Start("ser2net", {"-n", "-d", "-u", "-c", PathOf("ser2net.yaml")});
        EXPECT_TRUE(WaitUntil([&] { return kestrune::testing::IsListening(port); }));
        return {"--serial", QString("rfc2217://127.0.0.1:%1,115200").arg(port)};
    }
    // The peer's exit status, once it has ended.
    int PeerExit()
    {
        if (!FPeer.Process().waitForFinished(20000))
            return -1;
        return FPeer.Process().exitCode();
    }

    TChild FSer2net; // ends after the peer
    TChild FPeer;
};

struct TCase
{
    const char *Name;
    bool Send;            // the program sends
    const char *Protocol; // --protocol
    const char *Peer;     // the lrzsz command
    std::vector<int> Sizes;
};

class LrzszTest : public TransferShellTest,
                  public ::testing::WithParamInterface<std::tuple<TCase, bool>>
{
};

// Files move whole both ways: XMODEM keeps its padding, YMODEM the sizes.
TEST_P(LrzszTest, FilesArriveEqual)
{
    const auto &[c, remote] = GetParam();
    const bool batch = std::string(c.Protocol) == "ymodem";
    std::vector<QByteArray> files;
    QStringList names;
    for (std::size_t i = 0; i < c.Sizes.size(); ++i) {
        files.push_back(RandomBytes(c.Sizes[i], static_cast<quint32>(i + 7)));
        names << QString("file%1.bin").arg(i);
        if (c.Send)
            Write(names.back(), files.back());
        else
            WritePeer(names.back(), files.back());
    }
    const QStringList peerArgs = c.Send ? QStringList() : names;
    const QStringList channel =
        StartPeer(QString(c.Peer) + (peerArgs.isEmpty() ? "" : " " + peerArgs.join(' ')), remote);
    QStringList args = {c.Send ? "send" : "receive", "--protocol", c.Protocol};
    if (c.Send)
        args << names;
    else
        args << (batch ? PathOf("in") : PathOf("in/file0.bin"));
    const TRunResult r = Run(args + channel, 90000);
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_EQ(PeerExit(), 0);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const QByteArray got = c.Send ? PeerFile(names[int(i)]) : Read("in/" + names[int(i)]);
        if (batch) {
            EXPECT_EQ(got, files[i]) << names[int(i)].toStdString();
            continue;
        }
        // XMODEM carries no size: the last block's padding stays.
        ASSERT_GE(got.size(), files[i].size());
        EXPECT_EQ(got.left(files[i].size()), files[i]);
        EXPECT_LT(got.size() - files[i].size(), 1024);
    }
    EXPECT_FALSE(QFile::exists(PathOf("in/file0.bin.part")));
}

const TCase Cases[] = {
    {"rx", true, "xmodem", "rx file0.bin", {100 * 1024}},
    {"rxCrc1k", true, "xmodem-1k", "rx -c file0.bin", {1001}},
    {"rxEmpty", true, "xmodem", "rx -c file0.bin", {0}},
    {"rb", true, "ymodem", "rb", {100 * 1024, 333, 0}},
    {"sx", false, "xmodem", "sx", {30 * 1024}},
    {"sx1k", false, "xmodem-1k", "sx -k", {10 * 1024}},
    {"sb", false, "ymodem", "sb", {20 * 1024 + 5, 1001}},
};

INSTANTIATE_TEST_SUITE_P(Lrzsz, LrzszTest,
                         ::testing::Combine(::testing::ValuesIn(Cases), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<TCase, bool>> &p) {
                             return std::string(std::get<0>(p.param).Name) +
                                    (std::get<1>(p.param) ? "Rfc2217" : "Pty");
                         });

// A cancel from either side ends both: the program's CANs end sx, a
// receiver's CANs (after a first block) end the program, neither waits for
// time-outs, and no unfinished file is left. (rx cancelling through socat is
// not used: socat closes the pty with rx's last bytes still in it.)
TEST_F(TransferShellTest, CancelFromEitherSideEndsBoth)
{
    Write("big.bin", RandomBytes(32 * 1024 * 1024, 4));
    WritePeer("big.bin", RandomBytes(32 * 1024 * 1024, 3));
    WritePeer("cancel.sh", "sleep 0.3; printf C; sleep 0.5; printf '\\030\\030'; sleep 5\n");
    for (const bool programCancels : {true, false}) {
        SCOPED_TRACE(programCancels ? "the program cancels" : "the receiver cancels");
        // The program receives from sx, or sends to a receiver that takes one
        // block and then cancels.
        const QStringList channel =
            StartPeer(programCancels ? "sx -k big.bin" : "sh cancel.sh", false);
        QProcess program;
        Start(program, QStringList{programCancels ? "receive" : "send", "--protocol", "xmodem-1k",
                                   programCancels ? PathOf("in/got.bin") : PathOf("big.bin")} +
                           channel);
        ASSERT_TRUE(program.waitForStarted(5000));
        if (programCancels) {
            // Mid-way: the file has begun.
            ASSERT_TRUE(WaitUntil([&] { return QFileInfo(PathOf("in/got.bin.part")).size() > 0; }));
            ::kill(static_cast<pid_t>(program.processId()), SIGINT);
        }
        ASSERT_TRUE(program.waitForFinished(15000));
        const QString err = QString::fromUtf8(program.readAllStandardError());
        EXPECT_EQ(program.exitCode(), 1) << err.toStdString();
        EXPECT_TRUE(err.contains(programCancels ? "The transfer was cancelled."
                                                : "The receiver cancelled the transfer."))
            << err.toStdString();
        FPeer.Kill();
        EXPECT_TRUE(QDir(PathOf("in")).entryList(QDir::Files).isEmpty());
        QFile::remove(PathOf("tty"));
    }
}

// A receiver that asks once and then never answers: the block goes out ten
// times, each try waiting as long as --retry-timeout says, then one message.
TEST_F(TransferShellTest, SilentReceiverEndsAfterTheRetries)
{
    Write("f.bin", RandomBytes(4000, 5));
    const QString tty = PathOf("tty");
    FPeer.Start("socat",
                {"-t", "2", "pty,raw,echo=0,link=" + tty, "SYSTEM:sleep 0.2; printf C; sleep 60"});
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(tty); }));
    const auto started = std::chrono::steady_clock::now();
    const TRunResult r =
        Run({"send", "f.bin", "--protocol", "xmodem", "--retry-timeout", "100", "--serial", tty},
            20000);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(r.Err.toStdString(), "kestrune: The receiver did not answer after 10 tries.\n");
    EXPECT_GE(took, std::chrono::milliseconds(1000));
}

TEST_F(TransferShellTest, UsageErrors)
{
    Write("f.bin", "x");
    const std::pair<QStringList, QString> cases[] = {
        {{"send", "f.bin"}, "send needs --protocol"},
        {{"send", "f.bin", "g.bin", "--protocol", "xmodem"}, "sends one file"},
        {{"receive", "x", "--protocol", "raw"}, "--protocol takes xmodem"},
        {{"send", "f.bin", "--protocol", "xmodem", "--rate", "100"}, "pace a raw send only"},
        {{"send", "missing.bin", "--protocol", "raw", "--serial", "/dev/null"},
         "Cannot open \"missing.bin\""},
        {{"receive", "in", "--protocol", "ymodem", "--serial", "/dev/null"}, ""},
        {{"receive", "nowhere/x", "--protocol", "xmodem", "--serial", "/dev/null"},
         "name a file in an existing folder"},
    };
    for (const auto &[args, err] : cases) {
        const TRunResult r = Run(args, 10000);
        if (err.isEmpty()) {
            // Right usage: it gets as far as the channel.
            EXPECT_NE(r.Exit, 2) << args.join(' ').toStdString();
            continue;
        }
        EXPECT_EQ(r.Exit, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.Err.contains(err)) << r.Err.toStdString();
    }
}

} // namespace
