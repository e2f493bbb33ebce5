// Line errors, modem changes and hang-ups, and handlers that destroy the
// component from inside its own events.

#include "comm_test_pty.h"
#include "serial/ModemLines.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

namespace kestrune {
namespace {

using namespace kestrune::testing;

class CommEvents : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Pty.IsValid());
        Log.Attach(Comm);
        Comm.SetCommName(Pty.SlavePath());
        Comm.SetDeviceFactory(TScriptedDevice::Factory(Script));
        Comm.OpenPort();
        ASSERT_TRUE(WaitUntil([&] { return Log.Sent == 1; }));
        // Changes before the reader's first look are its starting point.
        ASSERT_TRUE(WaitUntil([&] { return Script.CounterReads > 0; }));
    }

    TPtyPair Pty;
    TScriptedDevice::TScript Script;
    TComm Comm;
    TEventLog Log;
};

TEST_F(CommEvents, LineErrorsCarryTheirFlagsAndReadingGoesOn)
{
    const struct
    {
        const char *What;
        void (*Bump)(TLineCounters &);
        std::uint32_t Mask;
    } cases[] = {
        {"receive buffer overrun", [](TLineCounters &c) { ++c.BufferOverrun; }, 0x01},
        {"overrun", [](TLineCounters &c) { ++c.Overrun; }, 0x02},
        {"parity", [](TLineCounters &c) { ++c.Parity; }, 0x04},
        {"framing", [](TLineCounters &c) { c.Frame += 3; }, 0x08},
        {"break", [](TLineCounters &c) { ++c.Break; }, 0x10},
        {"framing and parity together",
         [](TLineCounters &c) {
             ++c.Frame;
             ++c.Parity;
         },
         0x0C},
    };
    for (const auto &c : cases) {
        Log.Errors.clear();
        Script.Change(c.Bump);
        ASSERT_TRUE(WaitUntil([&] { return !Log.Errors.empty(); }, 2s)) << c.What;
        Settle(120ms);
        ASSERT_EQ(Log.Errors.size(), 1u) << c.What;
        EXPECT_EQ(Log.Errors[0], c.Mask) << c.What;
    }
    EXPECT_TRUE(Log.Modem.empty());
    ASSERT_TRUE(Pty.Send("still reading"));
    EXPECT_TRUE(WaitUntil([&] { return Log.Received() == "still reading"; }));
    EXPECT_EQ(Log.Hangups, 0);
}

TEST_F(CommEvents, ModemChangesCarryRingAndCarrierBitsOnly)
{
    const struct
    {
        const char *What;
        void (*Bump)(TLineCounters &);
        std::uint32_t Bits; // 0: nothing reported
    } cases[] = {
        {"carrier", [](TLineCounters &c) { ++c.Carrier; }, ModemCarrierBit},
        {"ring", [](TLineCounters &c) { ++c.Ring; }, ModemRingBit},
        {"both",
         [](TLineCounters &c) {
             ++c.Carrier;
             ++c.Ring;
         },
         12},
        {"cts", [](TLineCounters &c) { ++c.Cts; }, 0},
        {"dsr", [](TLineCounters &c) { ++c.Dsr; }, 0},
    };
    for (const auto &c : cases) {
        Log.Modem.clear();
        Script.Change(c.Bump);
        if (c.Bits == 0) {
            Settle(200ms);
            EXPECT_TRUE(Log.Modem.empty()) << c.What;
            continue;
        }
        ASSERT_TRUE(WaitUntil([&] { return !Log.Modem.empty(); }, 2s)) << c.What;
        Settle(120ms);
        ASSERT_EQ(Log.Modem.size(), 1u) << c.What;
        EXPECT_EQ(Log.Modem[0], c.Bits) << c.What;
    }
    EXPECT_TRUE(Log.Errors.empty());
    EXPECT_EQ(Log.Hangups, 0);
}

// Beside the change events: the input lines' levels whenever they change, and
// the number of each line error, totalled since open.
TEST_F(CommEvents, LineLevelsAndErrorCountsFollowTheDevice)
{
    std::vector<std::uint32_t> levels;
    Comm.OnModemLines = [&](TComm *, std::uint32_t Lines) { levels.push_back(Lines); };
    EXPECT_EQ(Comm.ModemLines(), -1) << "nothing told yet";
    const std::uint32_t steps[] = {ModemLineCts | ModemLineDsr, ModemLineCarrier,
                                   ModemLineCarrier | ModemLineRing, 0};
    for (const std::uint32_t step : steps) {
        Script.Change([&](TLineCounters &c) { c.ModemLines = std::int32_t(step); });
        ASSERT_TRUE(WaitUntil([&] { return !levels.empty() && levels.back() == step; }, 2s))
            << step;
        EXPECT_EQ(Comm.ModemLines(), std::int32_t(step));
    }
    Settle(150ms);
    EXPECT_EQ(levels, std::vector<std::uint32_t>(std::begin(steps), std::end(steps)))
        << "one report per change, none while the levels hold";

    Script.Change([](TLineCounters &c) {
        c.Frame += 3;
        ++c.Parity;
    });
    ASSERT_TRUE(WaitUntil([&] { return Log.Errors.size() == 1; }, 2s));
    Script.Change([](TLineCounters &c) {
        c.Break += 2;
        c.Overrun += 4;
    });
    ASSERT_TRUE(WaitUntil([&] { return Log.Errors.size() == 2; }, 2s));
    EXPECT_EQ(Log.Errors, (std::vector<std::uint32_t>{0x0C, 0x12}))
        << "the flags stay as they were";
    EXPECT_EQ(Comm.LineErrors(), (TLineErrorCounts{3, 1, 4, 2}));

    // A new open counts from nothing and waits to be told the levels again.
    Comm.ClosePort();
    Comm.OpenPort();
    EXPECT_EQ(Comm.LineErrors(), TLineErrorCounts{});
    EXPECT_EQ(Comm.ModemLines(), -1);
    EXPECT_TRUE(WaitUntil([&] { return Comm.ModemLines() == 0; }, 2s));
}

TEST_F(CommEvents, SendBreakHoldsTheLineForItsTimeAndClosingEndsIt)
{
    const auto start = std::chrono::steady_clock::now();
    Comm.SendBreak(250);
    ASSERT_EQ(Script.Breaks.size(), 1u);
    EXPECT_TRUE(Script.Breaks[0].first);
    ASSERT_TRUE(WaitUntil([&] { return Script.Breaks.size() == 2; }, 2s));
    EXPECT_FALSE(Script.Breaks[1].first);
    EXPECT_GE(Script.Breaks[1].second - start, 250ms);

    Comm.SendBreak(5000);
    Comm.ClosePort();
    ASSERT_EQ(Script.Breaks.size(), 4u);
    EXPECT_FALSE(Script.Breaks[3].first) << "a port is never left in a break";
    Settle(100ms);
    EXPECT_EQ(Script.Breaks.size(), 4u);
}

TEST_F(CommEvents, FailedReadHangsUpOnce)
{
    Script.FailReads = true;
    ASSERT_TRUE(Pty.Send("x"));
    ASSERT_TRUE(WaitUntil([&] { return Log.Hangups > 0; }));
    // The reader has stopped: further data is not read, nothing more is said.
    const int reads = Script.ReadCalls;
    ASSERT_TRUE(Pty.Send("y"));
    Settle(200ms);
    EXPECT_EQ(Log.Hangups, 1);
    EXPECT_EQ(Script.ReadCalls, reads);
    EXPECT_TRUE(Log.Blocks.empty());
    Comm.ClosePort();
    EXPECT_FALSE(Comm.IsOpen());
}

TEST_F(CommEvents, BytesReadBeforeAFailureStillArrive)
{
    Comm.SetReadIntervalTimeout(0); // keep the first bytes in the reader's buffer
    Settle(150ms);
    ASSERT_TRUE(Pty.Send("kept"));
    ASSERT_TRUE(WaitUntil([&] { return Script.ReadCalls > 0; }));
    Settle(50ms);
    Script.FailReads = true;
    ASSERT_TRUE(Pty.Send("!"));
    ASSERT_TRUE(WaitUntil([&] { return Log.Hangups > 0; }));
    EXPECT_EQ(Log.Received(), "kept");
}

double ProcessCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST(CommHangup, VanishedDeviceHangsUpOnceWithoutSpinning)
{
    TPtyPair pty;
    ASSERT_TRUE(pty.IsValid());
    TComm comm;
    TEventLog log;
    log.Attach(comm);
    comm.SetCommName(pty.SlavePath());
    comm.OpenPort();
    ASSERT_TRUE(WaitUntil([&] { return log.Sent == 1; }));

    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return log.Hangups > 0; }));
    // A write after the loss fails in the writer; the owner still hears once.
    comm.WriteData("late", 4);
    const double cpuBefore = ProcessCpuSeconds();
    Settle(300ms);
    EXPECT_EQ(log.Hangups, 1);
    // Spinning threads would burn most of the 300 ms.
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.15);

    const auto start = std::chrono::steady_clock::now();
    comm.ClosePort();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(CommHandlers, HandlerMayCloseAndDestroyTheComponent)
{
    enum class TWhere
    {
        ReceiveData,
        RequestHangup,
        SendDataEmpty
    };
    for (TWhere where : {TWhere::ReceiveData, TWhere::RequestHangup, TWhere::SendDataEmpty}) {
        TPtyPair pty;
        ASSERT_TRUE(pty.IsValid());
        auto *comm = new TComm;
        bool destroyed = false;
        int callsAfter = 0;
        const auto destroy = [&](TComm *sender) {
            if (destroyed) {
                ++callsAfter;
                return;
            }
            destroyed = true;
            sender->ClosePort();
            delete sender;
        };
        comm->SetCommName(pty.SlavePath());
        if (where == TWhere::ReceiveData)
            comm->OnReceiveData = [&](TComm *sender, const char *, std::uint16_t) {
                destroy(sender);
            };
        if (where == TWhere::RequestHangup)
            comm->OnRequestHangup = destroy;
        if (where == TWhere::SendDataEmpty)
            comm->OnSendDataEmpty = destroy;
        comm->OpenPort();
        // Several blocks queued behind the one whose handler destroys.
        comm->SetReadIntervalTimeout(MaxTimeout);
        ASSERT_TRUE(pty.Send(std::string(9000, 'z')));
        if (where == TWhere::RequestHangup)
            pty.CloseMaster();
        EXPECT_TRUE(WaitUntil([&] { return destroyed; })) << int(where);
        Settle(100ms);
        EXPECT_EQ(callsAfter, 0) << int(where);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST(CommHandlers, DestroyingWithUndeliveredBlocksFreesThem)
{
    TPtyPair pty;
    ASSERT_TRUE(pty.IsValid());
    auto comm = std::make_unique<TComm>();
    int delivered = 0;
    comm->OnReceiveData = [&](TComm *, const char *, std::uint16_t) { ++delivered; };
    comm->SetCommName(pty.SlavePath());
    comm->OpenPort();
    ASSERT_TRUE(pty.Send(std::string(20000, 'u')));
    // No event loop runs: the blocks pile up as posted notifications.
    QThread::msleep(300);
    comm->ClosePort();
    comm.reset();
    Settle(50ms);
    EXPECT_EQ(delivered, 0);
    // The sanitizer build reports the blocks if they were not freed.
}

} // namespace
} // namespace kestrune
