#pragma once

#include "common/Component.h"
#include "common/LineErrorCounts.h"
#include "common/ReadQuiet.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class QTimer;

namespace kestrune {

class TComm;
class TCommEventFd;
class TCommLink;
class TCommNotifier;
class TCommWriteQueue;
class TReadThread;
class TSerialDevice;
class TWriteThread;

// Raised by OpenPort for every failure; carries only its message.
class ECommsError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Ordinals equal the positions in the settings dialogs' lists.
enum class TByteSize : std::uint8_t
{
    _5,
    _6,
    _7,
    _8
};

enum class TParity : std::uint8_t
{
    None,
    Odd,
    Even,
    Mark,
    Space
};

// Linux has no 1.5 stop bits: _1_5 sends two.
enum class TStopBits : std::uint8_t
{
    _1,
    _1_5,
    _2
};

enum class TDtrControl : std::uint8_t
{
    DtrEnable,
    DtrDisable,
    DtrHandshake
};

enum class TRtsControl : std::uint8_t
{
    RtsEnable,
    RtsDisable,
    RtsHandshake,
    RtsTransmissionAvailable
};

// Bits of TModemStateChangeEvent's ModemEvent.
inline constexpr std::uint32_t ModemRingBit = 4;
inline constexpr std::uint32_t ModemCarrierBit = 8;

// Buffer is valid only during the call and has one zero byte after
// BufferLength (1..4096) bytes.
using TReceiveDataEvent =
    std::function<void(TComm *Sender, const char *Buffer, std::uint16_t BufferLength)>;
// EventMask: line-error flags, 0x01 receive buffer overrun, 0x02 overrun,
// 0x04 parity, 0x08 framing, 0x10 break.
using TReceiveErrorEvent = std::function<void(TComm *Sender, std::uint32_t EventMask)>;
using TModemStateChangeEvent = std::function<void(TComm *Sender, std::uint32_t ModemEvent)>;
using TSendDataEmptyEvent = std::function<void(TComm *Sender)>;
// Lines: the levels of CTS, DSR, RI and DCD as ModemLine* bits (ModemLines.h).
using TModemLinesEvent = std::function<void(TComm *Sender, std::uint32_t Lines)>;
using TNotifyEvent = std::function<void(TComm *Sender)>;

// Maps a port name to its device: "/dev/..." as given, "COMn" (n >= 1, any
// case) to /dev/ttyS(n-1), any other name to /dev/<name>. A name beginning
// with "rfc2217://" (any case) is no device: OpenPort reaches that port over
// the network instead.
[[nodiscard]] std::string CommDevicePath(const std::string &CommName);

// One serial port with a reader and a writer thread. Belongs to the thread
// that created it (the GUI thread): its calls, setters and events all happen
// there. Events are raised from the event loop, one at a time, in the order
// the threads reported them; unassigned events are skipped. A handler may
// call ClosePort and delete the component.
class TComm : public TComponent
{
public:
    TComm();
    ~TComm() override;

    // Opens CommName for exclusive use, applies time-outs and line settings
    // and starts both threads. Throws ECommsError and stays closed on failure
    // (or untouched when already open). A remote port ("rfc2217://host:port")
    // takes up to 10 seconds to connect, during which the event loop runs
    // for painting and timers only.
    void OpenPort();
    // Stops both threads, drops unsent and unread bytes, closes the device.
    // Does nothing when closed.
    void ClosePort();
    [[nodiscard]] bool IsOpen() const;

    // Queues a copy of the bytes for the writer; never blocks. False, with
    // nothing queued, when closed, when BufferLength is 0, or when the writer
    // has already stopped on a failure. True means queued, not yet sent.
    bool WriteData(const char *Buffer, std::uint16_t BufferLength);

    // Bytes accepted by WriteData and not yet handed to the device.
    [[nodiscard]] std::size_t QueuedBytes() const;
    // Bytes the device has taken and not yet sent on the line. ClosePort
    // discards them: a program that ends after its last write waits for 0.
    [[nodiscard]] std::size_t DeviceQueuedBytes() const;
    // Stops or resumes reading the device without losing bytes: they wait in
    // the driver meanwhile. Holds across ClosePort and OpenPort.
    void PauseReading(bool Paused);
    [[nodiscard]] bool ReadingPaused() const { return FReadingPaused; }
    // Whether OpenPort discards what the port received before it was opened
    // (the default). A program that opens the port to answer a waiting peer
    // keeps it: the peer's request may be there already.
    void SetPurgeInputAtOpen(bool Purge) { FPurgeInputAtOpen = Purge; }

    // Holds the transmit line in the break state, or ends the break. Does
    // nothing when closed; a device that cannot is not reported.
    void SetBreak(bool On);
    // A break of Ms milliseconds, timed on the event loop; closing the port
    // ends it early.
    void SendBreak(int Ms);

    // The input lines' levels last reported (ModemLine* bits), or -1 while the
    // device has not told (a pty never does). Reset by OpenPort.
    [[nodiscard]] std::int32_t ModemLines() const { return FModemLines; }
    // Why the port hung up, when the device can tell more than that it failed
    // (a remote port whose server stopped reading); empty otherwise, and once
    // the port is closed.
    [[nodiscard]] std::string HangupReason() const;
    // Line errors reported since OpenPort.
    [[nodiscard]] const TLineErrorCounts &LineErrors() const { return FLineErrors; }

    // Properties. Setting a line property or a time-out to a new value while
    // open re-applies its whole group; the same value changes nothing.
    [[nodiscard]] const std::string &CommName() const { return FCommName; }
    void SetCommName(const std::string &Value) { FCommName = Value; }
    [[nodiscard]] std::uint32_t BaudRate() const { return FBaudRate; }
    void SetBaudRate(std::uint32_t Value) { SetLine(FBaudRate, Value); }
    [[nodiscard]] bool ParityCheck() const { return FParityCheck; }
    void SetParityCheck(bool Value) { SetLine(FParityCheck, Value); }
    [[nodiscard]] bool Outx_CtsFlow() const { return FOutx_CtsFlow; }
    void SetOutx_CtsFlow(bool Value) { SetLine(FOutx_CtsFlow, Value); }
    [[nodiscard]] bool Outx_DsrFlow() const { return FOutx_DsrFlow; }
    void SetOutx_DsrFlow(bool Value) { SetLine(FOutx_DsrFlow, Value); }
    [[nodiscard]] TDtrControl DtrControl() const { return FDtrControl; }
    void SetDtrControl(TDtrControl Value) { SetLine(FDtrControl, Value); }
    [[nodiscard]] bool DsrSensitivity() const { return FDsrSensitivity; }
    void SetDsrSensitivity(bool Value) { SetLine(FDsrSensitivity, Value); }
    [[nodiscard]] bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    void SetTxContinueOnXoff(bool Value) { SetLine(FTxContinueOnXoff, Value); }
    [[nodiscard]] bool Outx_XonXoffFlow() const { return FOutx_XonXoffFlow; }
    void SetOutx_XonXoffFlow(bool Value) { SetLine(FOutx_XonXoffFlow, Value); }
    [[nodiscard]] bool Inx_XonXoffFlow() const { return FInx_XonXoffFlow; }
    void SetInx_XonXoffFlow(bool Value) { SetLine(FInx_XonXoffFlow, Value); }
    [[nodiscard]] bool ReplaceParityError() const { return FReplaceParityError; }
    void SetReplaceParityError(bool Value) { SetLine(FReplaceParityError, Value); }
    [[nodiscard]] bool IgnoreNullChar() const { return FIgnoreNullChar; }
    void SetIgnoreNullChar(bool Value) { SetLine(FIgnoreNullChar, Value); }
    [[nodiscard]] TRtsControl RtsControl() const { return FRtsControl; }
    void SetRtsControl(TRtsControl Value) { SetLine(FRtsControl, Value); }
    [[nodiscard]] std::uint16_t XonLimit() const { return FXonLimit; }
    void SetXonLimit(std::uint16_t Value) { SetLine(FXonLimit, Value); }
    [[nodiscard]] std::uint16_t XoffLimit() const { return FXoffLimit; }
    void SetXoffLimit(std::uint16_t Value) { SetLine(FXoffLimit, Value); }
    [[nodiscard]] TByteSize ByteSize() const { return FByteSize; }
    void SetByteSize(TByteSize Value) { SetLine(FByteSize, Value); }
    [[nodiscard]] TParity Parity() const { return FParity; }
    void SetParity(TParity Value) { SetLine(FParity, Value); }
    [[nodiscard]] TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits Value) { SetLine(FStopBits, Value); }
    [[nodiscard]] char XonChar() const { return FXonChar; }
    void SetXonChar(char Value) { SetLine(FXonChar, Value); }
    [[nodiscard]] char XoffChar() const { return FXoffChar; }
    void SetXoffChar(char Value) { SetLine(FXoffChar, Value); }
    [[nodiscard]] char ReplacedChar() const { return FReplacedChar; }
    void SetReplacedChar(char Value) { SetLine(FReplacedChar, Value); }
    [[nodiscard]] std::uint32_t ReadIntervalTimeout() const { return FReadIntervalTimeout; }
    void SetReadIntervalTimeout(std::uint32_t Value) { SetTimeout(FReadIntervalTimeout, Value); }
    [[nodiscard]] std::uint32_t ReadTotalTimeoutMultiplier() const
    {
        return FReadTotalTimeoutMultiplier;
    }
    void SetReadTotalTimeoutMultiplier(std::uint32_t Value)
    {
        SetTimeout(FReadTotalTimeoutMultiplier, Value);
    }
    [[nodiscard]] std::uint32_t ReadTotalTimeoutConstant() const
    {
        return FReadTotalTimeoutConstant;
    }
    void SetReadTotalTimeoutConstant(std::uint32_t Value)
    {
        SetTimeout(FReadTotalTimeoutConstant, Value);
    }
    [[nodiscard]] std::uint32_t WriteTotalTimeoutMultiplier() const
    {
        return FWriteTotalTimeoutMultiplier;
    }
    void SetWriteTotalTimeoutMultiplier(std::uint32_t Value)
    {
        SetTimeout(FWriteTotalTimeoutMultiplier, Value);
    }
    [[nodiscard]] std::uint32_t WriteTotalTimeoutConstant() const
    {
        return FWriteTotalTimeoutConstant;
    }
    void SetWriteTotalTimeoutConstant(std::uint32_t Value)
    {
        SetTimeout(FWriteTotalTimeoutConstant, Value);
    }

    TReceiveDataEvent OnReceiveData;
    // During OnReceiveData: the reads of its block that followed a silence on
    // the line, with their steady-clock times.
    [[nodiscard]] const std::vector<TReadQuiet> &ReceiveQuiet() const;
    TReceiveErrorEvent OnReceiveError;
    TModemStateChangeEvent OnModemStateChange;
    TNotifyEvent OnRequestHangup;
    TSendDataEmptyEvent OnSendDataEmpty;
    // Raised with the levels once the device first tells them, then on every change.
    TModemLinesEvent OnModemLines;

    // Test seam: builds the device object around the opened descriptor, so a
    // test can stand in for device calls. Unset: the plain device.
    using TDeviceFactory = std::function<std::unique_ptr<TSerialDevice>(int Fd)>;
    void SetDeviceFactory(TDeviceFactory Factory) { FDeviceFactory = std::move(Factory); }

private:
    friend class TCommNotifier;
    // Bookkeeping of the notifications, on the GUI thread before their events.
    void CountLineErrors(const std::array<std::uint32_t, 4> &Counts);
    void NoteModemLines(std::uint32_t Lines) { FModemLines = std::int32_t(Lines); }

    template <typename T> void SetLine(T &Field, T Value)
    {
        if (Field == Value)
            return;
        Field = Value;
        if (IsOpen())
            ApplyLineSettings();
    }
    template <typename T> void SetTimeout(T &Field, T Value)
    {
        if (Field == Value)
            return;
        Field = Value;
        if (IsOpen())
            ApplyTimeouts();
    }
    std::unique_ptr<TSerialDevice> OpenLocalDevice();
    std::unique_ptr<TSerialDevice> OpenRemoteDevice();
    void ApplyLineSettings();
    void ApplyTimeouts();
    void StopReader();
    void StopWriter();
    void ReleasePort();

    std::string FCommName = "COM1";
    std::uint32_t FBaudRate = 9600;
    bool FParityCheck = false;
    bool FOutx_CtsFlow = false;
    bool FOutx_DsrFlow = false;
    TDtrControl FDtrControl = TDtrControl::DtrEnable;
    bool FDsrSensitivity = false;
    bool FTxContinueOnXoff = true;
    bool FOutx_XonXoffFlow = false;
    bool FInx_XonXoffFlow = false;
    bool FReplaceParityError = false;
    bool FIgnoreNullChar = false;
    TRtsControl FRtsControl = TRtsControl::RtsEnable;
    std::uint16_t FXonLimit = 500;
    std::uint16_t FXoffLimit = 500;
    TByteSize FByteSize = TByteSize::_8;
    TParity FParity = TParity::None;
    TStopBits FStopBits = TStopBits::_1;
    char FXonChar = 0x11;
    char FXoffChar = 0x13;
    char FReplacedChar = 0x00;
    std::uint32_t FReadIntervalTimeout = 100;
    std::uint32_t FReadTotalTimeoutMultiplier = 0;
    std::uint32_t FReadTotalTimeoutConstant = 0;
    std::uint32_t FWriteTotalTimeoutMultiplier = 0;
    std::uint32_t FWriteTotalTimeoutConstant = 0;

    bool FReadingPaused = false;
    bool FPurgeInputAtOpen = true;
    std::int32_t FModemLines = -1;
    TLineErrorCounts FLineErrors;
    std::unique_ptr<QTimer> FBreakTimer;
    TDeviceFactory FDeviceFactory;
    TCommNotifier *FNotifyWindow;
    // Declared in the order they are built; the threads are stopped
    // explicitly before any of the others go.
    std::unique_ptr<TSerialDevice> FPortHandle;
    std::unique_ptr<TCommEventFd> FStopEvent;
    std::unique_ptr<TCommLink> FLink;
    std::unique_ptr<TCommWriteQueue> FWriteQueue;
    std::unique_ptr<TReadThread> FReader;
    std::unique_ptr<TWriteThread> FWriter;
};

} // namespace kestrune
