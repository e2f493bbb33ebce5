#pragma once

#include "serial/CommTimeouts.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

struct termios;

namespace kestrune {

// Outcome of one device call, with errno already sorted into what the
// threads act on.
enum class TIoStatus
{
    Ok,
    WouldBlock, // nothing to read, or no room to write: wait for readiness
    Invalid,    // the handle is not valid (EBADF): end quietly
    Failed      // anything else, a vanished device among them: hang up
};

// Sorts errno into what the threads act on; every device call, local or
// remote, goes through it.
[[nodiscard]] TIoStatus IoStatusOf(int Error);
// The system's words for errno, as the reasons of failed opens give them.
[[nodiscard]] std::string IoErrorText(int Error);

struct TIoResult
{
    TIoStatus Status = TIoStatus::Ok;
    std::size_t Count = 0;
};

// Running totals of line errors and modem-line changes since some fixed
// moment; the reader reports what grew between two looks.
struct TLineCounters
{
    std::uint32_t Frame = 0;
    std::uint32_t Overrun = 0;
    std::uint32_t Parity = 0;
    std::uint32_t Break = 0;
    std::uint32_t BufferOverrun = 0;
    std::uint32_t Carrier = 0; // carrier-detect changes
    std::uint32_t Ring = 0;    // ring indications
    std::uint32_t Cts = 0;
    std::uint32_t Dsr = 0;
    // Current levels of the input lines (ModemLine* bits), -1 when the device
    // cannot tell.
    std::int32_t ModemLines = -1;
};

// Line settings in the terms the component's properties use; the device turns
// them into termios fields and modem-line ioctls.
struct TLineSettings
{
    enum class TParityKind : std::uint8_t
    {
        None,
        Odd,
        Even,
        Mark,
        Space
    };

    std::uint32_t BaudRate = 9600;
    int DataBits = 8; // 5..8
    TParityKind Parity = TParityKind::None;
    bool TwoStopBits = false;        // also used for 1.5, which Linux lacks
    bool OneAndHalfStopBits = false; // kept apart for devices that have it
    bool ParityCheck = false;
    bool HardwareFlow = false; // CTS output flow or RTS handshake
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    char XonChar = 0x11;
    char XoffChar = 0x13;
    bool DtrOn = true;
    bool RtsOn = true;
};

// Result of opening a device: a file descriptor, or the system's reason.
struct TOpenResult
{
    int Fd = -1;
    std::string Reason;
    int Error = 0; // errno of the failure
};

// One open serial device. Every call the reader and writer make on the port
// goes through the virtual functions here, so a test can stand in for
// events a pseudo terminal cannot produce (line errors, modem changes, a
// failed read). It also keeps the port's time-outs, as a driver would.
class TSerialDevice
{
public:
    // Takes ownership of Fd. The terminal's settings at this moment are put
    // back when the device is closed.
    explicit TSerialDevice(int Fd);
    TSerialDevice(const TSerialDevice &) = delete;
    TSerialDevice &operator=(const TSerialDevice &) = delete;
    virtual ~TSerialDevice();

    // Opens Path for exclusive use, non-blocking; no settings are changed.
    [[nodiscard]] static TOpenResult OpenExclusive(const std::string &Path);

    [[nodiscard]] int Fd() const { return FFd; }
    // False when the terminal's settings could not be read at open.
    [[nodiscard]] bool HasTerminalSettings() const { return FSavedValid; }

    virtual TIoResult Read(char *Buffer, std::size_t Size);
    virtual TIoResult Write(const char *Buffer, std::size_t Size);

    // Current counters; WouldBlock when the device cannot tell (a pty), which
    // the reader takes as "this device has no line events".
    virtual TIoStatus ReadLineCounters(TLineCounters &Counters);

    virtual void PurgeInput();
    virtual void PurgeOutput();
    // Bytes the driver has taken and not yet put on the line (0 when it
    // cannot tell). Safe from any thread.
    [[nodiscard]] virtual std::size_t PendingOutput() const;

    // Starts or ends a break on the transmit line; not reported when refused.
    virtual void SetBreak(bool On);

    // Failures are not reported: the port keeps what the driver accepted.
    virtual void ApplyLineSettings(const TLineSettings &Settings);

    // Why the device failed, when it knows more than its calls' errors can
    // say; empty otherwise. Safe from any thread.
    [[nodiscard]] virtual std::string FailureReason() const { return {}; }

    void SetTimeouts(const TCommTimeouts &Timeouts);
    [[nodiscard]] TCommTimeouts Timeouts() const;

private:
    int FFd = -1;
    bool FSavedValid = false;
    std::unique_ptr<::termios> FSaved;
    bool FHasIcount = true;
    bool FHasModemBits = true;
    int FLastModemBits = -1;
    TLineCounters FModemCounters;
    mutable std::mutex FTimeoutsLock;
    TCommTimeouts FTimeouts;
};

// Turns Settings into raw-mode termios fields, keeping the fields they do
// not cover. A rate without a Bxxx constant leaves the speed alone: it goes
// through SetCustomBaudRate after the termios is written.
void ComposeTermios(::termios &Tio, const TLineSettings &Settings);
[[nodiscard]] bool IsStandardBaudRate(std::uint32_t BaudRate);

// Sets a baud rate that has no Bxxx constant through termios2; false when
// the driver refuses it.
bool SetCustomBaudRate(int Fd, std::uint32_t BaudRate);

// Reads the output speed back through termios2 (0 when it cannot).
std::uint32_t ReadBaudRate(int Fd);

} // namespace kestrune
