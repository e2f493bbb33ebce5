// Opening, the port's line settings as the device sees them, and the
// property setters.

#include "comm_test_pty.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

namespace kestrune {
namespace {

using namespace kestrune::testing;

TEST(CommDevicePath, MapsNamesToDevices)
{
    const struct
    {
        const char *Name;
        const char *Path;
    } cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"com3", "/dev/ttyS2"},
        {"Com10", "/dev/ttyS9"},
        {"COM0", "/dev/COM0"},
        {"COM", "/dev/COM"},
        {"COMx", "/dev/COMx"},
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"pts/3", "/dev/pts/3"},
        {"/dev/ttyACM1", "/dev/ttyACM1"},
        {"/tmp/x", "/tmp/x"},
        {"COM99999999999", "/dev/COM99999999999"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CommDevicePath(c.Name), c.Path) << c.Name;
}

TEST(CommProperties, DefaultsAndEnumOrdinals)
{
    TComm comm;
    EXPECT_EQ(comm.CommName(), "COM1");
    EXPECT_EQ(comm.BaudRate(), 9600u);
    EXPECT_FALSE(comm.ParityCheck());
    EXPECT_EQ(comm.DtrControl(), TDtrControl::DtrEnable);
    EXPECT_TRUE(comm.TxContinueOnXoff());
    EXPECT_EQ(comm.RtsControl(), TRtsControl::RtsEnable);
    EXPECT_EQ(comm.XonLimit(), 500);
    EXPECT_EQ(comm.XoffLimit(), 500);
    EXPECT_EQ(comm.ByteSize(), TByteSize::_8);
    EXPECT_EQ(comm.Parity(), TParity::None);
    EXPECT_EQ(comm.StopBits(), TStopBits::_1);
    EXPECT_EQ(comm.XonChar(), 0x11);
    EXPECT_EQ(comm.XoffChar(), 0x13);
    EXPECT_EQ(comm.ReplacedChar(), 0);
    EXPECT_EQ(comm.ReadIntervalTimeout(), 100u);
    EXPECT_EQ(comm.ReadTotalTimeoutMultiplier() + comm.ReadTotalTimeoutConstant() +
                  comm.WriteTotalTimeoutMultiplier() + comm.WriteTotalTimeoutConstant(),
              0u);
    // The settings file stores these ordinals.
    EXPECT_EQ(int(TByteSize::_5), 0);
    EXPECT_EQ(int(TByteSize::_8), 3);
    EXPECT_EQ(int(TParity::Space), 4);
    EXPECT_EQ(int(TStopBits::_2), 2);
    EXPECT_FALSE(comm.IsOpen());
}

TEST(CommOpen, DefaultsReachTheDevice)
{
    TPtyPair pty;
    ASSERT_TRUE(pty.IsValid());
    TComm comm;
    comm.SetCommName(pty.SlavePath());
    comm.OpenPort();
    ASSERT_TRUE(comm.IsOpen());

    const termios tio = pty.Settings();
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B9600));
    EXPECT_EQ(cfgetispeed(&tio), speed_t(B9600));
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
    EXPECT_NE(tio.c_cflag & CREAD, 0u);
    // Raw: no echo, no line editing, no signals, no translation either way.
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_cc[VSTART], 0x11);
    EXPECT_EQ(tio.c_cc[VSTOP], 0x13);
    comm.ClosePort();
}

TEST(ComposeTermios, LineSettingsMapToTermiosFlags)
{
    using P = TLineSettings::TParityKind;
    struct TCase
    {
        int Bits;
        P Parity;
        bool TwoStop;
        tcflag_t Expected; // over CSIZE | PARENB | PARODD | CMSPAR | CSTOPB
    };
    const TCase cases[] = {
        {5, P::None, false, CS5},
        {6, P::Odd, true, CS6 | PARENB | PARODD | CSTOPB},
        {7, P::Even, false, CS7 | PARENB},
        {8, P::Mark, false, CS8 | PARENB | PARODD | CMSPAR},
        {8, P::Space, true, CS8 | PARENB | CMSPAR | CSTOPB},
    };
    const tcflag_t mask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
    for (const auto &c : cases) {
        termios tio{};
        // Leftovers from an earlier user must not survive.
        tio.c_cflag = CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
        tio.c_iflag = IXON | IXOFF | INPCK | ICRNL;
        tio.c_lflag = ECHO | ICANON;
        TLineSettings settings;
        settings.DataBits = c.Bits;
        settings.Parity = c.Parity;
        settings.TwoStopBits = c.TwoStop;
        ComposeTermios(tio, settings);
        EXPECT_EQ(tio.c_cflag & mask, c.Expected) << c.Bits << int(c.Parity) << c.TwoStop;
        EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | INPCK | ICRNL), 0u);
        EXPECT_EQ(tio.c_lflag & (ECHO | ICANON), 0u);
        EXPECT_EQ(tio.c_cc[VMIN], 1);
    }

    termios tio{};
    TLineSettings flow;
    flow.HardwareFlow = true;
    flow.XonXoffOut = true;
    flow.XonXoffIn = true;
    flow.ParityCheck = true;
    flow.Parity = P::Even;
    flow.XonChar = 'A';
    flow.XoffChar = 'B';
    flow.BaudRate = 115200;
    ComposeTermios(tio, flow);
    EXPECT_NE(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | INPCK), tcflag_t(IXON | IXOFF | INPCK));
    EXPECT_EQ(tio.c_cc[VSTART], 'A');
    EXPECT_EQ(tio.c_cc[VSTOP], 'B');
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B115200));
    // Parity checking means nothing without parity.
    flow.Parity = P::None;
    ComposeTermios(tio, flow);
    EXPECT_EQ(tio.c_iflag & INPCK, 0u);
}

TEST(CommOpen, PropertiesMapToLineSettings)
{
    using P = TLineSettings::TParityKind;
    struct TCase
    {
        const char *What;
        void (*Set)(TComm &);
        bool (*Check)(const TLineSettings &);
    };
    const TCase cases[] = {
        {"defaults", [](TComm &) {},
         [](const TLineSettings &s) {
             return s.BaudRate == 9600 && s.DataBits == 8 && s.Parity == P::None &&
                    !s.TwoStopBits && !s.HardwareFlow && !s.XonXoffOut && !s.XonXoffIn && s.DtrOn &&
                    s.RtsOn && s.XonChar == 0x11 && s.XoffChar == 0x13;
         }},
        {"5 bits, mark", [](TComm &c) { c.SetByteSize(TByteSize::_5), c.SetParity(TParity::Mark); },
         [](const TLineSettings &s) { return s.DataBits == 5 && s.Parity == P::Mark; }},
        {"space", [](TComm &c) { c.SetParity(TParity::Space); },
         [](const TLineSettings &s) { return s.Parity == P::Space; }},
        {"1.5 stop bits", [](TComm &c) { c.SetStopBits(TStopBits::_1_5); },
         [](const TLineSettings &s) { return s.TwoStopBits; }},
        {"DTR off", [](TComm &c) { c.SetDtrControl(TDtrControl::DtrDisable); },
         [](const TLineSettings &s) { return !s.DtrOn && s.RtsOn; }},
        {"RTS off", [](TComm &c) { c.SetRtsControl(TRtsControl::RtsDisable); },
         [](const TLineSettings &s) { return s.DtrOn && !s.RtsOn && !s.HardwareFlow; }},
        {"RTS handshake", [](TComm &c) { c.SetRtsControl(TRtsControl::RtsHandshake); },
         [](const TLineSettings &s) { return s.HardwareFlow; }},
        {"CTS flow", [](TComm &c) { c.SetOutx_CtsFlow(true); },
         [](const TLineSettings &s) { return s.HardwareFlow; }},
        {"XON/XOFF", [](TComm &c) { c.SetInx_XonXoffFlow(true), c.SetXoffChar('S'); },
         [](const TLineSettings &s) { return s.XonXoffIn && !s.XonXoffOut && s.XoffChar == 'S'; }},
    };
    for (const auto &c : cases) {
        TPtyPair pty;
        ASSERT_TRUE(pty.IsValid());
        TScriptedDevice::TScript script;
        TComm comm;
        comm.SetCommName(pty.SlavePath());
        comm.SetDeviceFactory(TScriptedDevice::Factory(script));
        c.Set(comm);
        comm.OpenPort();
        EXPECT_EQ(script.Applied, 1) << c.What;
        EXPECT_TRUE(c.Check(script.LastSettings)) << c.What;
    }
}

TEST(CommOpen, NonStandardBaudRateIsSet)
{
    TPtyPair pty;
    ASSERT_TRUE(pty.IsValid());
    TComm comm;
    comm.SetCommName(pty.SlavePath());
    comm.SetBaudRate(12345);
    comm.OpenPort();
    EXPECT_EQ(ReadBaudRate(pty.Master()), 12345u);
}

TEST(CommSetters, SameValueLeavesThePortAloneNewValueReappliesTheGroup)
{
    TPtyPair pty;
    ASSERT_TRUE(pty.IsValid());
    TScriptedDevice::TScript script;
    TComm comm;
    comm.SetCommName(pty.SlavePath());
    comm.SetDeviceFactory(TScriptedDevice::Factory(script));
    comm.OpenPort();
    ASSERT_EQ(script.Applied, 1);

    // Someone else changes the line behind the component's back.
    termios changed = pty.Settings();
    cfsetspeed(&changed, B19200);
    changed.c_cflag |= CSTOPB;
    ASSERT_EQ(tcsetattr(pty.Master(), TCSANOW, &changed), 0);

    comm.SetBaudRate(9600);
    comm.SetStopBits(TStopBits::_1);
    comm.SetDtrControl(TDtrControl::DtrEnable);
    comm.SetReadIntervalTimeout(100);
    EXPECT_EQ(script.Applied, 1) << "same value must not touch the port";
    termios tio = pty.Settings();
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B19200));

    // One new value rewrites every line setting, stop bits included.
    comm.SetBaudRate(57600);
    EXPECT_EQ(script.Applied, 2);
    tio = pty.Settings();
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B57600));
    EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);

    comm.SetStopBits(TStopBits::_2);
    EXPECT_NE(pty.Settings().c_cflag & CSTOPB, 0u);

    // Time-outs are their own group.
    comm.SetReadTotalTimeoutConstant(250);
    EXPECT_EQ(script.Applied, 3);
    comm.ClosePort();
    comm.SetBaudRate(4800); // closed: stored only
    EXPECT_EQ(script.Applied, 3);
    EXPECT_EQ(comm.BaudRate(), 4800u);
}

TEST(CommSetters, CommNameWhileOpenWaitsForTheNextOpen)
{
    TPtyPair first;
    TPtyPair second;
    ASSERT_TRUE(first.IsValid() && second.IsValid());
    TComm comm;
    TEventLog log;
    log.Attach(comm);
    comm.SetCommName(first.SlavePath());
    comm.OpenPort();
    comm.SetCommName(second.SlavePath());
    ASSERT_TRUE(first.Send("one"));
    EXPECT_TRUE(WaitUntil([&] { return log.Received() == "one"; }));

    comm.ClosePort();
    comm.OpenPort();
    ASSERT_TRUE(second.Send("two"));
    EXPECT_TRUE(WaitUntil([&] { return log.Received() == "onetwo"; }));
}

TEST(CommOpen, FailuresRaiseAndLeaveTheComponentClosed)
{
    TPtyPair pty;
    ASSERT_TRUE(pty.IsValid());
    TComm holder;
    holder.SetCommName(pty.SlavePath());
    holder.OpenPort();

    const struct
    {
        std::string Name;
        std::string Message;
    } cases[] = {
        {"/dev/kestrune-no-such-port", "Error opening serial port (No such file or directory)"},
        {pty.SlavePath(), "Error opening serial port (Device or resource busy)"},
        {"/dev/null", "Error opening serial port (Inappropriate ioctl for device)"},
    };
    for (const auto &c : cases) {
        TComm comm;
        comm.SetCommName(c.Name);
        try {
            comm.OpenPort();
            ADD_FAILURE() << "opened " << c.Name;
        } catch (const ECommsError &error) {
            EXPECT_EQ(std::string(error.what()), c.Message);
        }
        EXPECT_FALSE(comm.IsOpen());
        EXPECT_FALSE(comm.WriteData("x", 1));
    }
}

TEST(CommOpen, OpenWhileOpenRaisesAndKeepsThePortWorking)
{
    TPtyPair pty;
    ASSERT_TRUE(pty.IsValid());
    TComm comm;
    TEventLog log;
    log.Attach(comm);
    comm.SetCommName(pty.SlavePath());
    comm.OpenPort();
    try {
        comm.OpenPort();
        ADD_FAILURE() << "second open succeeded";
    } catch (const ECommsError &error) {
        EXPECT_STREQ(error.what(), "This serial port already opened");
    }
    ASSERT_TRUE(comm.IsOpen());
    ASSERT_TRUE(comm.WriteData("ping", 4));
    EXPECT_EQ(pty.Receive(4), "ping");
    ASSERT_TRUE(pty.Send("pong"));
    EXPECT_TRUE(WaitUntil([&] { return log.Received() == "pong"; }));
}

TEST(CommOpen, ClosingReleasesThePortForTheNextUser)
{
    TPtyPair pty;
    ASSERT_TRUE(pty.IsValid());
    const termios before = pty.Settings();
    {
        TComm first;
        first.SetCommName(pty.SlavePath());
        first.SetBaudRate(38400);
        first.OpenPort();
        first.ClosePort();
        first.ClosePort(); // twice is harmless
        EXPECT_FALSE(first.IsOpen());
    }
    // The terminal's own settings are back, and another component may open it.
    const termios after = pty.Settings();
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    TComm second;
    second.SetCommName(pty.SlavePath());
    EXPECT_NO_THROW(second.OpenPort());
}

} // namespace
} // namespace kestrune
