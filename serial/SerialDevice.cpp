#include "serial/SerialDevice.h"

#include "serial/ModemLines.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace kestrune {

namespace {

// Drivers without an ioctl answer with one of these; anything else is a
// real failure of a device that does support it.
bool IsUnsupported(int Error)
{
    return Error == ENOTTY || Error == EINVAL || Error == ENOSYS || Error == EOPNOTSUPP;
}

std::int32_t LineLevels(int Bits)
{
    std::uint32_t lines = 0;
    if (Bits & TIOCM_CTS)
        lines |= ModemLineCts;
    if (Bits & TIOCM_DSR)
        lines |= ModemLineDsr;
    if (Bits & TIOCM_RNG)
        lines |= ModemLineRing;
    if (Bits & TIOCM_CAR)
        lines |= ModemLineCarrier;
    return std::int32_t(lines);
}

} // namespace

std::string IoErrorText(int Error)
{
    return std::system_category().message(Error);
}

TIoStatus IoStatusOf(int Error)
{
    switch (Error) {
    case EAGAIN:
    case EINTR:
        return TIoStatus::WouldBlock;
    case EBADF:
        return TIoStatus::Invalid;
    default:
        // A vanished device, a reset or broken connection: the port is gone.
        return TIoStatus::Failed;
    }
}

TSerialDevice::TSerialDevice(int Fd) : FFd(Fd), FSaved(std::make_unique<termios>())
{
    FSavedValid = ::tcgetattr(FFd, FSaved.get()) == 0;
}

TSerialDevice::~TSerialDevice()
{
    if (FFd < 0)
        return;
    if (FSavedValid)
        ::tcsetattr(FFd, TCSANOW, FSaved.get());
    // The exclusive flag outlives this descriptor on the terminal; clear it so
    // the next user can open the port.
    ::ioctl(FFd, TIOCNXCL);
    ::close(FFd);
}

TOpenResult TSerialDevice::OpenExclusive(const std::string &Path)
{
    TOpenResult result;
    const int fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.Error = errno;
        result.Reason = IoErrorText(result.Error);
        return result;
    }
    // The lock first: a port held by someone else must keep its exclusive flag.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        result.Error = error;
        result.Reason = IoErrorText(error);
        return result;
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno;
        ::close(fd);
        result.Error = error;
        result.Reason = IoErrorText(error);
        return result;
    }
    result.Fd = fd;
    return result;
}

TIoResult TSerialDevice::Read(char *Buffer, std::size_t Size)
{
    const ssize_t n = ::read(FFd, Buffer, Size);
    if (n > 0)
        return {TIoStatus::Ok, std::size_t(n)};
    // With VMIN at 1 a terminal reads 0 bytes only once it has hung up.
    if (n == 0)
        return {TIoStatus::Failed, 0};
    return {IoStatusOf(errno), 0};
}

TIoResult TSerialDevice::Write(const char *Buffer, std::size_t Size)
{
    const ssize_t n = ::write(FFd, Buffer, Size);
    if (n > 0)
        return {TIoStatus::Ok, std::size_t(n)};
    if (n == 0)
        return {TIoStatus::WouldBlock, 0};
    return {IoStatusOf(errno), 0};
}

TIoStatus TSerialDevice::ReadLineCounters(TLineCounters &Counters)
{
    if (FHasIcount) {
        serial_icounter_struct icount{};
        if (::ioctl(FFd, TIOCGICOUNT, &icount) == 0) {
            Counters.Frame = std::uint32_t(icount.frame);
            Counters.Overrun = std::uint32_t(icount.overrun);
            Counters.Parity = std::uint32_t(icount.parity);
            Counters.Break = std::uint32_t(icount.brk);
            Counters.BufferOverrun = std::uint32_t(icount.buf_overrun);
            Counters.Carrier = std::uint32_t(icount.dcd);
            Counters.Ring = std::uint32_t(icount.rng);
            Counters.Cts = std::uint32_t(icount.cts);
            Counters.Dsr = std::uint32_t(icount.dsr);
            int bits = 0;
            Counters.ModemLines = -1;
            if (FHasModemBits && ::ioctl(FFd, TIOCMGET, &bits) == 0)
                Counters.ModemLines = LineLevels(bits);
            else if (FHasModemBits && IsUnsupported(errno))
                FHasModemBits = false;
            return TIoStatus::Ok;
        }
        if (!IsUnsupported(errno))
            return IoStatusOf(errno) == TIoStatus::Invalid ? TIoStatus::Invalid : TIoStatus::Failed;
        FHasIcount = false;
    }
    if (!FHasModemBits)
        return TIoStatus::WouldBlock;
    // No counters: count the changes of the modem bits seen between two looks.
    int bits = 0;
    if (::ioctl(FFd, TIOCMGET, &bits) != 0) {
        if (IsUnsupported(errno)) {
            FHasModemBits = false;
            return TIoStatus::WouldBlock;
        }
        return IoStatusOf(errno) == TIoStatus::Invalid ? TIoStatus::Invalid : TIoStatus::Failed;
    }
    if (FLastModemBits >= 0) {
        const int changed = bits ^ FLastModemBits;
        if (changed & TIOCM_CD)
            ++FModemCounters.Carrier;
        if ((changed & TIOCM_RI) && (bits & TIOCM_RI))
            ++FModemCounters.Ring;
        if (changed & TIOCM_CTS)
            ++FModemCounters.Cts;
        if (changed & TIOCM_DSR)
            ++FModemCounters.Dsr;
    }
    FLastModemBits = bits;
    Counters = FModemCounters;
    Counters.ModemLines = LineLevels(bits);
    return TIoStatus::Ok;
}

void TSerialDevice::PurgeInput()
{
    ::tcflush(FFd, TCIFLUSH);
}

void TSerialDevice::PurgeOutput()
{
    ::tcflush(FFd, TCOFLUSH);
}

std::size_t TSerialDevice::PendingOutput() const
{
    int pending = 0;
    return ::ioctl(FFd, TIOCOUTQ, &pending) == 0 && pending > 0 ? std::size_t(pending) : 0;
}

void TSerialDevice::SetBreak(bool On)
{
    ::ioctl(FFd, On ? TIOCSBRK : TIOCCBRK);
}

void TSerialDevice::SetTimeouts(const TCommTimeouts &Timeouts)
{
    std::lock_guard lock(FTimeoutsLock);
    FTimeouts = Timeouts;
}

TCommTimeouts TSerialDevice::Timeouts() const
{
    std::lock_guard lock(FTimeoutsLock);
    return FTimeouts;
}

} // namespace kestrune
