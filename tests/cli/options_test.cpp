#include "cli/CliOptions.h"
#include "cli/FramePrinter.h"

#include <gtest/gtest.h>

#include <QDateTime>

using namespace kestrune;

namespace {

std::variant<TCliOptions, TUsageError> Parse(std::vector<std::string> args)
{
    return ParseCliArguments(args);
}

std::string ErrorOf(std::vector<std::string> args)
{
    const auto parsed = Parse(std::move(args));
    const auto *error = std::get_if<TUsageError>(&parsed);
    return error ? error->Message : "(accepted)";
}

} // namespace

TEST(ShellOptions, ReadsEveryOptionInBothSpellings)
{
    const auto parsed =
        Parse({"run", "list.txt", "--settings=a.ini", "--tcp-client", "h,1", "--relay",
               "udp,0,127.0.0.1,9", "--relay=serial,/dev/ttyS1", "--mode", "char", "--esc", "[]",
               "--log=l.txt", "-q", "--timeout", "250"});
    ASSERT_TRUE(std::holds_alternative<TCliOptions>(parsed))
        << std::get<TUsageError>(parsed).Message;
    const TCliOptions &o = std::get<TCliOptions>(parsed);
    EXPECT_EQ(o.Command, TCliCommand::Run);
    EXPECT_EQ(o.ListPath, "list.txt");
    EXPECT_EQ(o.SettingsPath, "a.ini");
    ASSERT_TRUE(o.Main);
    EXPECT_EQ(o.Main->Method, cmTCPClient);
    EXPECT_EQ(o.Main->Fields, "h,1");
    ASSERT_EQ(o.Relays.size(), 2u);
    EXPECT_EQ(o.Relays[0].Method, cmUDP);
    EXPECT_EQ(o.Relays[1].Fields, "/dev/ttyS1");
    EXPECT_EQ(o.DataMode, 1);
    EXPECT_EQ(o.EscCharIndex, 1);
    EXPECT_EQ(o.LogPath, "l.txt");
    EXPECT_TRUE(o.Quiet);
    EXPECT_EQ(o.TimeoutMs, 250);

    EXPECT_EQ(std::get<TCliOptions>(Parse({"bridge", "--help"})).Topic, "bridge");
    EXPECT_EQ(std::get<TCliOptions>(Parse({"--version"})).Command, TCliCommand::Version);
}

TEST(ShellOptions, RefusalsNameTheArgument)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"run"}, "run needs a command list file"},
        {{"run", "a", "b"}, "unexpected argument \"b\""},
        {{"bridge", "list.txt"}, "unexpected argument \"list.txt\""},
        {{"bridge", "--timeout", "5"}, "unknown option \"--timeout\" for bridge"},
        {{"run", "a", "--mode", "octal"}, "--mode takes hex, char or mixed"},
        {{"run", "a", "--esc", "{]"}, "--esc takes"},
        {{"run", "a", "--timeout", "0"}, "--timeout takes milliseconds"},
        {{"run", "a", "--relay", "pipe,1"}, "--relay takes KIND,FIELDS"},
        {{"run", "a", "--serial"}, "--serial needs a value"},
        {{"run", "a", "--log="}, "--log needs a file name"},
    };
    for (const auto &[args, expected] : cases)
        EXPECT_NE(ErrorOf(args).find(expected), std::string::npos)
            << args[0] << " ...: " << ErrorOf(args);
}

TEST(ShellOptions, ChannelFieldsOverTheBase)
{
    TChannel base;
    base.Port = "COM1";
    base.Baudrate = 9600;
    base.ByteSize = 3;
    base.ReadIntervalTimeout = 77; // not on the command line: kept

    struct TCase
    {
        TCommMethod Method;
        std::string Fields;
        std::string Description; // empty: refused
    };
    const std::vector<TCase> cases = {
        {cmSerial, "/dev/ttyUSB0", "Serial,/dev/ttyUSB0,9600,8,N,1"},
        {cmSerial, "/dev/ttyUSB0,115200", "Serial,/dev/ttyUSB0,115200,8,N,1"},
        {cmSerial, "/dev/ttyS0,19200,7E2", "Serial,/dev/ttyS0,19200,7,E,2"},
        {cmSerial, "rfc2217://lab:4001,9600,8o1.5", "Serial,rfc2217://lab:4001,9600,8,O,1.5"},
        {cmUDP, "0,127.0.0.1,13002", "UDP,127.0.0.1:13002,L:0"},
        {cmTCPServer, "13001", "TCP Server,13001"},
        {cmTCPClient, "localhost,502", "TCP Client,localhost:502"},
        {cmTCPClient, "::1,502", "TCP Client,[::1]:502"},
        {cmTCPServer, "13001,several", "TCP Server,13001,several"},
        {cmUDP, "0,239.1.2.3,5000,ttl=4,no-loop", "UDP,239.1.2.3:5000,L:0,ttl=4,no-loop"},
        {cmUDP, "0,127.0.0.1,5000,reply-to-sender", "UDP,127.0.0.1:5000,L:0,reply-to-sender"},
        {cmTCPServer, "13001,sevral", ""},
        {cmUDP, "0,h,1,several", ""},
        {cmSerial, "", ""},
        {cmSerial, "/dev/ttyS0,fast", ""},
        {cmSerial, "/dev/ttyS0,9600,9N1", ""},
        {cmSerial, "/dev/ttyS0,9600,8X1", ""},
        {cmSerial, "/dev/ttyS0,9600,8N3", ""},
        {cmUDP, "1,host", ""},
        {cmUDP, "70000,h,1", ""},
        {cmTCPServer, "0", ""},
        {cmTCPServer, "80,81", ""},
        {cmTCPClient, "host,65536", ""},
        {cmTCPClient, ",80", ""},
    };
    for (const TCase &c : cases) {
        const auto result = ApplyChannelArg({c.Method, c.Fields}, base);
        if (c.Description.empty()) {
            EXPECT_TRUE(std::holds_alternative<TUsageError>(result)) << c.Fields;
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<TChannel>(result))
            << c.Fields << ": " << std::get<TUsageError>(result).Message;
        EXPECT_EQ(ChannelDescription(std::get<TChannel>(result)), c.Description);
        EXPECT_EQ(std::get<TChannel>(result).ReadIntervalTimeout, 77u);
    }
}

// Frames come out whole, one line each, in the order they began; a frame that
// may still grow waits for Flush.
TEST(FramePrinter, OneLinePerFrameOnceWhole)
{
    TBoundedHistory history;
    TFrameIndex frames;
    std::vector<std::string> lines;
    bool whole = false;
    TFramePrinter printer(
        {&history, &frames, false}, [&](const std::string &line) { lines.push_back(line); },
        [&](std::uint16_t) { return whole; });
    const std::int64_t t = QDateTime(QDate(2026, 1, 2), QTime(13, 4, 5, 67)).toMSecsSinceEpoch();
    const auto block = [&](std::string_view bytes, std::uint16_t origin, bool startsFrame) {
        if (startsFrame)
            frames.Add({history.End(), t, origin});
        history.Append(bytes, 1 << 20);
    };

    block("\x01\x03", 0, true);
    printer.Update();
    EXPECT_TRUE(lines.empty()); // the frame may go on
    block(std::string_view("\x02\x00\x2A", 3), 0, false);
    block("A\r\n", 2, true);
    printer.Update();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "13:04:05.067 main < 01 03 02 00 2A");
    EXPECT_TRUE(printer.Pending());
    printer.Flush();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "13:04:05.067 R2 < 41 0D 0A");
    EXPECT_FALSE(printer.Pending());

    whole = true;
    printer.SetMode(dmMixed, '{');
    block("AT\r\n", 1, true);
    printer.Update();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "13:04:05.067 R1 < AT{0D}{0A}");
    EXPECT_EQ(TFramePrinter::FrameLine(t, 0, true, "a\r\nb", dmCharacter, '{'),
              "13:04:05.067 main > a..b");
    // Text in the settings' encoding reads as the views show it.
    const ByteString utf8 = "\xE6\xB8\xA9\xFF";
    EXPECT_EQ(TFramePrinter::FrameLine(t, 0, false, utf8, dmMixed, '{', TEncoding::Utf8),
              "13:04:05.067 main < \xE6\xB8\xA9{FF}");
    EXPECT_EQ(TFramePrinter::FrameLine(t, 0, false, utf8, dmHex, '{', TEncoding::Utf8),
              "13:04:05.067 main < E6 B8 A9 FF");
}
