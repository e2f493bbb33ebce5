#include "serial/SerialDevice.h"

#include <sys/ioctl.h>
#include <termios.h>

namespace kestrune {

namespace {

struct TBaudEntry
{
    std::uint32_t Rate;
    speed_t Code;
};

constexpr TBaudEntry BaudTable[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool StandardBaud(std::uint32_t Rate, speed_t &Code)
{
    for (const auto &entry : BaudTable) {
        if (entry.Rate == Rate) {
            Code = entry.Code;
            return true;
        }
    }
    return false;
}

tcflag_t DataBitsFlag(int Bits)
{
    switch (Bits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

void SetModemLine(int Fd, int Line, bool On)
{
    // Ptys and some adapters have no modem lines; that is not an error here.
    ::ioctl(Fd, On ? TIOCMBIS : TIOCMBIC, &Line);
}

} // namespace

void ComposeTermios(termios &Tio, const TLineSettings &Settings)
{
    ::cfmakeraw(&Tio);
    Tio.c_cflag |= CLOCAL | CREAD;
    // A terminal that reads 0 bytes has hung up; VMIN 0 would blur that.
    Tio.c_cc[VMIN] = 1;
    Tio.c_cc[VTIME] = 0;

    Tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    Tio.c_cflag |= DataBitsFlag(Settings.DataBits);
    switch (Settings.Parity) {
    case TLineSettings::TParityKind::None:
        break;
    case TLineSettings::TParityKind::Odd:
        Tio.c_cflag |= PARENB | PARODD;
        break;
    case TLineSettings::TParityKind::Even:
        Tio.c_cflag |= PARENB;
        break;
    case TLineSettings::TParityKind::Mark:
        Tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case TLineSettings::TParityKind::Space:
        Tio.c_cflag |= PARENB | CMSPAR;
        break;
    }
    if (Settings.TwoStopBits)
        Tio.c_cflag |= CSTOPB;
    if (Settings.HardwareFlow)
        Tio.c_cflag |= CRTSCTS;

    Tio.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
    if (Settings.ParityCheck && Settings.Parity != TLineSettings::TParityKind::None)
        Tio.c_iflag |= INPCK;
    if (Settings.XonXoffOut)
        Tio.c_iflag |= IXON;
    if (Settings.XonXoffIn)
        Tio.c_iflag |= IXOFF;
    Tio.c_cc[VSTART] = cc_t(Settings.XonChar);
    Tio.c_cc[VSTOP] = cc_t(Settings.XoffChar);

    speed_t code = B9600;
    if (StandardBaud(Settings.BaudRate, code))
        ::cfsetspeed(&Tio, code);
}

bool IsStandardBaudRate(std::uint32_t BaudRate)
{
    speed_t code = 0;
    return StandardBaud(BaudRate, code);
}

void TSerialDevice::ApplyLineSettings(const TLineSettings &Settings)
{
    termios tio{};
    if (::tcgetattr(FFd, &tio) != 0)
        return;
    ComposeTermios(tio, Settings);
    ::tcsetattr(FFd, TCSANOW, &tio);
    if (!IsStandardBaudRate(Settings.BaudRate))
        SetCustomBaudRate(FFd, Settings.BaudRate);

    SetModemLine(FFd, TIOCM_DTR, Settings.DtrOn);
    // With RTS handshake the driver drives RTS itself.
    if (!Settings.HardwareFlow)
        SetModemLine(FFd, TIOCM_RTS, Settings.RtsOn);
}

} // namespace kestrune
