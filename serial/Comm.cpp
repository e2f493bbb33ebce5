#include "serial/Comm.h"

#include "common/CaseInsensitive.h"
#include "serial/CommEventFd.h"
#include "serial/CommLink.h"
#include "serial/CommNotifier.h"
#include "serial/CommWriteQueue.h"
#include "serial/PortNames.h"
#include "serial/ReadThread.h"
#include "serial/Rfc2217Connect.h"
#include "serial/Rfc2217Device.h"
#include "serial/SerialDevice.h"
#include "serial/WriteThread.h"

#include <QTimer>

#include <cctype>
#include <cerrno>
#include <new>

namespace kestrune {

std::string CommDevicePath(const std::string &CommName)
{
    if (!CommName.empty() && CommName.front() == '/')
        return CommName;
    const auto isCom = [](const std::string &name) {
        if (name.size() < 4 || name.size() > 12 || !StartsWithText(name, "COM"))
            return false;
        for (std::size_t i = 3; i < name.size(); ++i) {
            if (!std::isdigit(static_cast<unsigned char>(name[i])))
                return false;
        }
        return true;
    };
    if (isCom(CommName)) {
        const unsigned long number = std::stoul(CommName.substr(3));
        if (number >= 1)
            return "/dev/ttyS" + std::to_string(number - 1);
    }
    return "/dev/" + CommName;
}

TComm::TComm() : FNotifyWindow(new TCommNotifier(this)) {}

const std::vector<TReadQuiet> &TComm::ReceiveQuiet() const
{
    return FNotifyWindow->DeliveringQuiet();
}

TComm::~TComm()
{
    FBreakTimer.reset();
    ClosePort();
    FNotifyWindow->Detach();
    // Destroyed from inside one of our own events: the notifier is still on
    // the call stack, so it goes once control is back in the event loop.
    if (FNotifyWindow->IsDispatching())
        FNotifyWindow->deleteLater();
    else
        delete FNotifyWindow; // pending notifications go with it, blocks freed
}

bool TComm::IsOpen() const
{
    return FPortHandle != nullptr;
}

std::string TComm::HangupReason() const
{
    return FPortHandle ? FPortHandle->FailureReason() : std::string();
}

void TComm::OpenPort()
{
    if (IsOpen())
        throw ECommsError("This serial port already opened");

    FPortHandle = IsRemotePortName(FCommName) ? OpenRemoteDevice() : OpenLocalDevice();
    FModemLines = -1;
    FLineErrors = {};
    if (FPurgeInputAtOpen)
        FPortHandle->PurgeInput();
    FPortHandle->PurgeOutput();
    ApplyTimeouts();
    ApplyLineSettings();

    FStopEvent = std::make_unique<TCommEventFd>();
    if (!FStopEvent->IsValid()) {
        ReleasePort();
        throw ECommsError("Unable to create event");
    }
    FLink = std::make_unique<TCommLink>(*FPortHandle, *FStopEvent, FNotifyWindow);
    FWriteQueue = std::make_unique<TCommWriteQueue>();

    try {
        FReader = std::make_unique<TReadThread>(*FLink);
        FReader->SetPaused(FReadingPaused);
        FReader->Start();
    } catch (const std::exception &) {
        FReader.reset();
        ReleasePort();
        throw ECommsError("Unable to create read thread");
    }
    try {
        FWriter = std::make_unique<TWriteThread>(*FLink, *FWriteQueue);
        FWriter->Start();
    } catch (const std::exception &) {
        StopReader();
        FWriter.reset();
        ReleasePort();
        throw ECommsError("Unable to create write thread");
    }
}

std::unique_ptr<TSerialDevice> TComm::OpenLocalDevice()
{
    const std::string path = ResolvePortPath(FCommName);
    const TOpenResult opened = TSerialDevice::OpenExclusive(path);
    if (opened.Fd < 0) {
        std::string message = "Error opening serial port (" + opened.Reason + ")";
        if (opened.Error == EACCES || opened.Error == EPERM) {
            const std::string advice = GroupAdvice(path, CurrentUserGroups());
            if (!advice.empty())
                message += " " + advice;
        }
        throw ECommsError(message);
    }
    std::unique_ptr<TSerialDevice> device =
        FDeviceFactory ? FDeviceFactory(opened.Fd) : std::make_unique<TSerialDevice>(opened.Fd);
    if (!device->HasTerminalSettings())
        throw ECommsError("Cannot setup comm buffer");
    return device;
}

std::unique_ptr<TSerialDevice> TComm::OpenRemoteDevice()
{
    const std::optional<TRemotePortAddress> address = ParseRemotePortName(FCommName);
    if (!address)
        throw ECommsError("Error opening serial port (expected rfc2217://host:port)");
    TRemoteConnection connection = OpenRemotePort(*address);
    if (connection.Socket < 0)
        throw ECommsError("Error opening serial port (" + connection.Reason + ")");
    return std::make_unique<TRfc2217Device>(connection.Socket, std::move(*connection.Codec));
}

void TComm::SetBreak(bool On)
{
    if (IsOpen())
        FPortHandle->SetBreak(On);
}

void TComm::SendBreak(int Ms)
{
    if (!IsOpen())
        return;
    if (!FBreakTimer) {
        FBreakTimer = std::make_unique<QTimer>();
        FBreakTimer->setSingleShot(true);
        // A coarse timer may end the break up to 5 % early.
        FBreakTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(FBreakTimer.get(), &QTimer::timeout, [this] { SetBreak(false); });
    }
    SetBreak(true);
    FBreakTimer->start(Ms);
}

void TComm::CountLineErrors(const std::array<std::uint32_t, 4> &Counts)
{
    FLineErrors += {Counts[0], Counts[1], Counts[2], Counts[3]};
}

void TComm::ClosePort()
{
    if (FBreakTimer && FBreakTimer->isActive()) {
        FBreakTimer->stop();
        SetBreak(false);
    }
    if (!IsOpen())
        return;
    StopReader();
    StopWriter();
    ReleasePort();
}

void TComm::StopReader()
{
    if (!FReader)
        return;
    FStopEvent->Set();
    FPortHandle->PurgeInput();
    // The thread waits on the stop signal beside every operation, so the join
    // is prompt; a thread cannot be killed safely anyway.
    FReader->Join();
    FReader.reset();
}

void TComm::StopWriter()
{
    if (!FWriter)
        return;
    FStopEvent->Set();
    FPortHandle->PurgeOutput();
    FWriter->Join();
    FWriter.reset();
}

void TComm::ReleasePort()
{
    FWriteQueue.reset();
    FLink.reset();
    FStopEvent.reset();
    FPortHandle.reset();
}

bool TComm::WriteData(const char *Buffer, std::uint16_t BufferLength)
{
    if (!FWriter || !FWriteQueue || BufferLength == 0 || Buffer == nullptr)
        return false;
    try {
        return FWriteQueue->Push(std::string(Buffer, BufferLength));
    } catch (const std::bad_alloc &) {
        return false;
    }
}

std::size_t TComm::QueuedBytes() const
{
    return FWriteQueue ? FWriteQueue->PendingBytes() : 0;
}

std::size_t TComm::DeviceQueuedBytes() const
{
    return FPortHandle ? FPortHandle->PendingOutput() : 0;
}

void TComm::PauseReading(bool Paused)
{
    FReadingPaused = Paused;
    if (FReader)
        FReader->SetPaused(Paused);
}

void TComm::ApplyLineSettings()
{
    TLineSettings settings;
    settings.BaudRate = FBaudRate;
    settings.DataBits = int(FByteSize) + 5;
    settings.Parity = TLineSettings::TParityKind(FParity);
    settings.TwoStopBits = FStopBits != TStopBits::_1;
    settings.OneAndHalfStopBits = FStopBits == TStopBits::_1_5;
    settings.ParityCheck = FParityCheck;
    settings.HardwareFlow = FOutx_CtsFlow || FRtsControl == TRtsControl::RtsHandshake;
    settings.XonXoffOut = FOutx_XonXoffFlow;
    settings.XonXoffIn = FInx_XonXoffFlow;
    settings.XonChar = FXonChar;
    settings.XoffChar = FXoffChar;
    settings.DtrOn = FDtrControl != TDtrControl::DtrDisable;
    settings.RtsOn = FRtsControl != TRtsControl::RtsDisable;
    FPortHandle->ApplyLineSettings(settings);
}

void TComm::ApplyTimeouts()
{
    TCommTimeouts timeouts;
    timeouts.ReadIntervalTimeout = FReadIntervalTimeout;
    timeouts.ReadTotalTimeoutMultiplier = FReadTotalTimeoutMultiplier;
    timeouts.ReadTotalTimeoutConstant = FReadTotalTimeoutConstant;
    timeouts.WriteTotalTimeoutMultiplier = FWriteTotalTimeoutMultiplier;
    timeouts.WriteTotalTimeoutConstant = FWriteTotalTimeoutConstant;
    FPortHandle->SetTimeouts(timeouts);
}

} // namespace kestrune
