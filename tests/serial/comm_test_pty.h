#pragma once

// Shared helpers of the serial component tests: a pty pair whose master the
// test holds, bounded waits that keep the event loop running, and a recorder
// of the component's events.

#include "serial/Comm.h"
#include "serial/SerialDevice.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace kestrune::testing {

using namespace std::chrono_literals;

// The test keeps the master; the component opens the slave by its path.
class TPtyPair
{
public:
    TPtyPair()
    {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&FMaster, &slave, name, nullptr, nullptr) != 0)
            return;
        ::close(slave);
        FSlavePath = name;
        ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    }
    ~TPtyPair() { CloseMaster(); }
    TPtyPair(const TPtyPair &) = delete;
    TPtyPair &operator=(const TPtyPair &) = delete;

    [[nodiscard]] bool IsValid() const { return FMaster >= 0; }
    [[nodiscard]] int Master() const { return FMaster; }
    [[nodiscard]] const std::string &SlavePath() const { return FSlavePath; }

    void CloseMaster()
    {
        if (FMaster >= 0)
            ::close(FMaster);
        FMaster = -1;
    }

    // Writes all bytes into the component's receive side; false on time-out.
    bool Send(const std::string &Bytes, std::chrono::milliseconds Limit = 5s)
    {
        const auto deadline = std::chrono::steady_clock::now() + Limit;
        std::size_t done = 0;
        while (done < Bytes.size()) {
            const ssize_t n = ::write(FMaster, Bytes.data() + done, Bytes.size() - done);
            if (n > 0) {
                done += std::size_t(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            pollfd fd{FMaster, POLLOUT, 0};
            ::poll(&fd, 1, 10);
        }
        return true;
    }

    // Reads what the component wrote until Count bytes are in or time runs out.
    std::string Receive(std::size_t Count, std::chrono::milliseconds Limit = 5s)
    {
        std::string out;
        const auto deadline = std::chrono::steady_clock::now() + Limit;
        char buffer[4096];
        while (out.size() < Count && std::chrono::steady_clock::now() < deadline) {
            pollfd fd{FMaster, POLLIN, 0};
            if (::poll(&fd, 1, 10) <= 0)
                continue;
            const ssize_t n = ::read(FMaster, buffer, sizeof buffer);
            if (n > 0)
                out.append(buffer, std::size_t(n));
        }
        return out;
    }

    // The slave's settings, read through the master (a pty pair shares them).
    [[nodiscard]] termios Settings() const
    {
        termios tio{};
        ::tcgetattr(FMaster, &tio);
        return tio;
    }

private:
    int FMaster = -1;
    std::string FSlavePath;
};

// Runs the event loop until Done() holds or Limit passes; returns Done().
inline bool WaitUntil(const std::function<bool()> &Done, std::chrono::milliseconds Limit = 5s)
{
    const auto deadline = std::chrono::steady_clock::now() + Limit;
    while (!Done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// Keeps the event loop running for a while, to see that nothing more comes.
inline void Settle(std::chrono::milliseconds Time)
{
    WaitUntil([] { return false; }, Time);
}

// Records every event a component raises.
struct TEventLog
{
    std::vector<std::string> Blocks;
    bool BlocksEndWithZero = true;
    std::vector<std::uint32_t> Errors;
    std::vector<std::uint32_t> Modem;
    int Sent = 0;
    int Hangups = 0;

    void Attach(TComm &Comm)
    {
        Comm.OnReceiveData = [this](TComm *, const char *Buffer, std::uint16_t Length) {
            Blocks.emplace_back(Buffer, Length);
            BlocksEndWithZero = BlocksEndWithZero && Buffer[Length] == 0;
        };
        Comm.OnReceiveError = [this](TComm *, std::uint32_t Mask) { Errors.push_back(Mask); };
        Comm.OnModemStateChange = [this](TComm *, std::uint32_t Bits) { Modem.push_back(Bits); };
        Comm.OnSendDataEmpty = [this](TComm *) { ++Sent; };
        Comm.OnRequestHangup = [this](TComm *) { ++Hangups; };
    }

    [[nodiscard]] std::string Received() const
    {
        std::string all;
        for (const auto &block : Blocks)
            all += block;
        return all;
    }
};

// A device whose line counters and read failures the test sets; reads and
// writes otherwise go to the real pty.
class TScriptedDevice : public TSerialDevice
{
public:
    explicit TScriptedDevice(int Fd) : TSerialDevice(Fd) {}

    struct TScript
    {
        std::mutex Lock;
        TLineCounters Counters;
        std::atomic<bool> FailReads{false};
        std::atomic<int> ReadCalls{0};
        std::atomic<int> CounterReads{0};
        std::atomic<std::size_t> PendingOutput{0}; // in the "driver", not yet sent
        // Only the GUI thread applies settings and breaks.
        int Applied = 0;
        TLineSettings LastSettings;
        std::vector<std::pair<bool, std::chrono::steady_clock::time_point>> Breaks;

        void Change(const std::function<void(TLineCounters &)> &Edit)
        {
            std::lock_guard lock(Lock);
            Edit(Counters);
        }
    };

    static TComm::TDeviceFactory Factory(TScript &Script)
    {
        return [&Script](int Fd) {
            auto device = std::make_unique<TScriptedDevice>(Fd);
            device->FScript = &Script;
            return device;
        };
    }

    TIoResult Read(char *Buffer, std::size_t Size) override
    {
        ++FScript->ReadCalls;
        if (FScript->FailReads)
            return {TIoStatus::Failed, 0};
        return TSerialDevice::Read(Buffer, Size);
    }

    void ApplyLineSettings(const TLineSettings &Settings) override
    {
        ++FScript->Applied;
        FScript->LastSettings = Settings;
        TSerialDevice::ApplyLineSettings(Settings);
    }

    void SetBreak(bool On) override
    {
        FScript->Breaks.emplace_back(On, std::chrono::steady_clock::now());
        TSerialDevice::SetBreak(On);
    }

    std::size_t PendingOutput() const override { return FScript->PendingOutput; }

    TIoStatus ReadLineCounters(TLineCounters &Counters) override
    {
        std::lock_guard lock(FScript->Lock);
        ++FScript->CounterReads;
        Counters = FScript->Counters;
        return TIoStatus::Ok;
    }

private:
    TScript *FScript = nullptr;
};

inline std::string AllByteValues(std::size_t Length)
{
    std::string bytes(Length, '\0');
    for (std::size_t i = 0; i < Length; ++i)
        bytes[i] = char((i * 7 + i / 256) & 0xFF);
    return bytes;
}

} // namespace kestrune::testing
