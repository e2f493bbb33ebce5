// Remote serial ports through the component, against the real ser2net serving
// a pty, and against a scripted server for what a pty cannot show.

#include "comm_test_pty.h"
#include "rfc2217_peers.h"

#include "serial/Rfc2217Connect.h"
#include "serial/Rfc2217Messages.h"

#include <QTimer>
#include <gtest/gtest.h>
#include <optional>

namespace kestrune {
namespace {

using namespace kestrune::testing;

// Every byte value, then runs of 0xFF (odd and even lengths) between others.
std::string AllValuesWithIacRuns()
{
    std::string bytes = AllByteValues(4096);
    for (int run = 1; run <= 9; ++run)
        bytes += std::string(std::size_t(run), '\xFF') + char(run);
    bytes += std::string(3000, '\xFF');
    return bytes;
}

class RemotePort : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(Server.Start(error)) << error;
        Log.Attach(Comm);
        // Not ser2net's own 9600, so Open can see the settings arrive.
        Comm.SetBaudRate(38400);
    }

    void Open(const std::string &Name)
    {
        Comm.SetCommName(Name);
        ASSERT_NO_THROW(Comm.OpenPort());
        ASSERT_TRUE(WaitUntil([&] { return Log.Sent == 1; }));
        ASSERT_TRUE(Server.WaitForBaudRate(Comm.BaudRate(), 5s));
    }

    TSer2net Server;
    TComm Comm;
    TEventLog Log;
};

TEST_F(RemotePort, EveryByteValuePassesBothWays)
{
    // The scheme is matched without regard to case.
    std::string name = Server.Url();
    name.replace(0, 7, "RFC2217");
    Open(name);
    const std::string bytes = AllValuesWithIacRuns();

    ASSERT_TRUE(Server.WriteMaster(bytes, 5s));
    ASSERT_TRUE(WaitUntil([&] { return Log.Received().size() >= bytes.size(); }, 10s))
        << Log.Received().size() << " of " << bytes.size();
    Settle(100ms);
    EXPECT_EQ(Log.Received(), bytes);

    for (std::size_t at = 0; at < bytes.size(); at += 1000)
        ASSERT_TRUE(Comm.WriteData(bytes.data() + at,
                                   std::uint16_t(std::min<std::size_t>(1000, bytes.size() - at))));
    const std::string got = Server.ReadMaster(bytes.size(), 10s);
    EXPECT_EQ(got, bytes);
    EXPECT_EQ(Server.ReadMaster(1, 200ms), "") << "more bytes than were sent";
    EXPECT_EQ(Log.Hangups, 0);
}

TEST_F(RemotePort, BaudRateParityAndStopBitsReachThePtyAtOpenAndWhenChanged)
{
    // A pty keeps CS8 and clears PARENB whatever it is given, so the parity
    // shows in PARODD and CMSPAR: odd, even, mark and space each differ.
    struct TStep
    {
        std::uint32_t Baud;
        TParity Parity;
        TStopBits Stop;
        speed_t Speed;
        tcflag_t Flags;
    };
    const TStep steps[] = {
        {19200, TParity::Odd, TStopBits::_1, B19200, PARODD},
        {115200, TParity::Even, TStopBits::_2, B115200, CSTOPB},
        {57600, TParity::Mark, TStopBits::_1, B57600, PARODD | CMSPAR},
        {4800, TParity::Space, TStopBits::_2, B4800, CMSPAR | CSTOPB},
    };
    bool opened = false;
    for (const TStep &step : steps) {
        Comm.SetBaudRate(step.Baud);
        Comm.SetParity(step.Parity);
        Comm.SetStopBits(step.Stop);
        if (!opened) {
            Open(Server.Url()); // the first step is applied at open
            opened = true;
        }
        const bool reached = WaitUntil(
            [&] {
                const termios tio = Server.Settings();
                return ::cfgetospeed(&tio) == step.Speed &&
                       (tio.c_cflag & (PARODD | CMSPAR | CSTOPB)) == step.Flags;
            },
            5s);
        EXPECT_TRUE(reached) << step.Baud << " baud: c_cflag " << std::hex
                             << Server.Settings().c_cflag;
    }
    EXPECT_EQ(Log.Hangups, 0);
}

TEST_F(RemotePort, ServerRestartIsOneHangupAndThePortOpensAgain)
{
    Open(Server.Url());
    Server.Stop();
    ASSERT_TRUE(WaitUntil([&] { return Log.Hangups > 0; }, 5s));
    Settle(300ms);
    EXPECT_EQ(Log.Hangups, 1);

    // As the window does on a hang-up: close, and later open again.
    Comm.ClosePort();
    std::string error;
    ASSERT_TRUE(Server.Start(error)) << error;
    Log = {};
    Log.Attach(Comm);
    Open(Server.Url());
    ASSERT_TRUE(Server.WriteMaster("again", 2s));
    EXPECT_TRUE(WaitUntil([&] { return Log.Received() == "again"; }));
}

// --- Against a scripted server -----------------------------------------------------

std::string Iac(unsigned char Verb, unsigned char Option)
{
    return {char(telnet::IAC), char(Verb), char(Option)};
}

std::string Control(unsigned char Value)
{
    return ComPortCommand(rfc2217::SetControl, Value);
}

std::string Notify(unsigned char Code, unsigned char Value)
{
    return TelnetSubnegotiation(telnet::OptComPort,
                                {char(rfc2217::ServerOffset + Code), char(Value)});
}

TEST(RemotePortScripted, ControlLinesBreakPurgeAndNotificationsTravelAsCommandsAndEvents)
{
    TScriptedComPortServer server(Iac(telnet::DO, telnet::OptComPort));
    TComm comm;
    TEventLog log;
    log.Attach(comm);
    comm.SetCommName(server.Url());
    ASSERT_NO_THROW(comm.OpenPort());
    const auto sent = [&](const std::string &Bytes) {
        return WaitUntil([&] { return server.Received().find(Bytes) != std::string::npos; });
    };
    // At open: both purges, the notification masks, DTR and RTS raised.
    EXPECT_TRUE(sent(ComPortCommand(rfc2217::PurgeData, rfc2217::PurgeReceive)));
    EXPECT_TRUE(sent(ComPortCommand(rfc2217::PurgeData, rfc2217::PurgeTransmit)));
    EXPECT_TRUE(sent(NotificationMaskCommands()));
    EXPECT_TRUE(sent(Control(rfc2217::DtrOn) + Control(rfc2217::RtsOn)));

    // The same calls a local port uses for its lines.
    server.ClearReceived();
    comm.SetDtrControl(TDtrControl::DtrDisable);
    EXPECT_TRUE(sent(Control(rfc2217::DtrOff)));
    comm.SetRtsControl(TRtsControl::RtsDisable);
    EXPECT_TRUE(sent(Control(rfc2217::RtsOff)));
    comm.SetBreak(true);
    EXPECT_TRUE(sent(Control(rfc2217::BreakOn)));
    comm.SetBreak(false);
    EXPECT_TRUE(sent(Control(rfc2217::BreakOff)));

    // The first modem report only says where the lines stand.
    ASSERT_TRUE(server.Send(Notify(rfc2217::NotifyModemState, 0)));
    Settle(150ms);
    EXPECT_TRUE(log.Modem.empty());
    ASSERT_TRUE(
        server.Send(Notify(rfc2217::NotifyModemState, rfc2217::ModemCd | rfc2217::ModemDeltaCd)));
    ASSERT_TRUE(WaitUntil([&] { return !log.Modem.empty(); }));
    ASSERT_TRUE(server.Send(Notify(rfc2217::NotifyLineState, rfc2217::LineFraming)));
    ASSERT_TRUE(WaitUntil([&] { return !log.Errors.empty(); }));
    ASSERT_TRUE(server.Send(
        Notify(rfc2217::NotifyModemState, rfc2217::ModemCd | rfc2217::ModemRiTrailingEdge)));
    ASSERT_TRUE(WaitUntil([&] { return log.Modem.size() == 2; }));
    Settle(150ms);
    EXPECT_EQ(log.Modem, (std::vector<std::uint32_t>{ModemCarrierBit, ModemRingBit}));
    EXPECT_EQ(log.Errors, (std::vector<std::uint32_t>{0x08})); // CE_FRAME
    EXPECT_EQ(log.Hangups, 0);
    comm.ClosePort();
}

struct TOpenFailure
{
    const char *Label;
    const char *Greeting; // what the scripted server says; nullptr: no server
    const char *Name;     // port name; nullptr: the scripted server's
    const char *Reason;   // expected in the error message
};

class RemotePortOpenFailure : public ::testing::TestWithParam<TOpenFailure>
{
protected:
    void SetUp() override { saved = RemoteOpenLimits(); }
    void TearDown() override { RemoteOpenLimits() = saved; }
    TRemoteOpenLimits saved;
};

TEST_P(RemotePortOpenFailure, GivesTheReasonStaysClosedAndKeepsTheLoopRunning)
{
    const TOpenFailure &c = GetParam();
    RemoteOpenLimits() = {2000ms, 500ms};
    std::unique_ptr<TScriptedComPortServer> server;
    std::string name;
    if (c.Greeting) {
        server = std::make_unique<TScriptedComPortServer>(c.Greeting);
        name = server->Url();
    } else {
        name = c.Name;
        const std::size_t at = name.find("FREE");
        if (at != std::string::npos)
            name.replace(at, 4, std::to_string(FreeLoopbackPort()));
    }
    TComm comm;
    comm.SetCommName(name);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] { ++ticks; });
    ticker.start(10);

    const auto began = std::chrono::steady_clock::now();
    std::string message;
    try {
        comm.OpenPort();
    } catch (const ECommsError &e) {
        message = e.what();
    }
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_NE(message.find(c.Reason), std::string::npos) << message;
    EXPECT_EQ(message.rfind("Error opening serial port (", 0), 0u) << message;
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_LT(took, 3s);
    // A wait of some length ran the event loop meanwhile.
    if (took > 300ms) {
        EXPECT_GT(ticks, 5);
    }
}

const std::string RefuseOption = Iac(telnet::DONT, telnet::OptComPort);

INSTANTIATE_TEST_SUITE_P(
    Cases, RemotePortOpenFailure,
    ::testing::Values(
        TOpenFailure{"Refused", nullptr, "rfc2217://127.0.0.1:FREE", "Connection refused"},
        TOpenFailure{"Unresolved", nullptr, "rfc2217://no-such-host.invalid:2217",
                     "cannot resolve host 'no-such-host.invalid'"},
        TOpenFailure{"Malformed", nullptr, "rfc2217://127.0.0.1", "rfc2217://host:port"},
        TOpenFailure{"OptionRefused", RefuseOption.c_str(), nullptr, "refuses the COM-PORT-OPTION"},
        TOpenFailure{"NoAnswer", "", nullptr, "does not answer the COM-PORT-OPTION"}),
    [](const auto &Info) { return std::string(Info.param.Label); });

// While a remote port opens, other ports' events wait: their handlers could
// close channels the window is in the middle of opening. Nothing is lost.
TEST(RemotePortScripted, OtherPortsEventsWaitUntilTheOpenEnds)
{
    TRemoteOpenLimits saved = RemoteOpenLimits();
    RemoteOpenLimits() = {2000ms, 400ms};
    TPtyPair pty;
    ASSERT_TRUE(pty.IsValid());
    TComm local;
    TEventLog localLog;
    localLog.Attach(local);
    local.SetCommName(pty.SlavePath());
    local.OpenPort();
    ASSERT_TRUE(WaitUntil([&] { return localLog.Sent == 1; }));

    TScriptedComPortServer silent("");
    TComm remote;
    remote.SetCommName(silent.Url());
    std::optional<std::size_t> seenDuringOpen;
    // Data arrives at the local port while the remote one waits for its answer.
    QTimer::singleShot(50ms, [&] { (void)pty.Send("during"); });
    QTimer::singleShot(300ms, [&] { seenDuringOpen = localLog.Received().size(); });
    EXPECT_THROW(remote.OpenPort(), ECommsError);
    ASSERT_TRUE(seenDuringOpen.has_value()) << "the event loop did not run during the open";
    EXPECT_EQ(*seenDuringOpen, 0u);
    EXPECT_TRUE(WaitUntil([&] { return localLog.Received() == "during"; }));
    local.ClosePort();
    RemoteOpenLimits() = saved;
}

} // namespace
} // namespace kestrune
