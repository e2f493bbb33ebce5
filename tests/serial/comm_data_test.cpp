// Bytes through an open component, both ways, over a pty pair.

#include "comm_test_pty.h"

#include <cstring>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

using namespace kestrune::testing;

class CommData : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Pty.IsValid());
        Log.Attach(Comm);
        Comm.SetCommName(Pty.SlavePath());
    }

    void Open()
    {
        Comm.OpenPort();
        // The drained-queue notice right after start.
        ASSERT_TRUE(WaitUntil([&] { return Log.Sent == 1; }));
    }

    TPtyPair Pty;
    TComm Comm;
    TEventLog Log;
};

TEST_F(CommData, BurstArrivesInBlocksOfAtMost4096InOrder)
{
    Open();
    const std::string burst = AllByteValues(10000);
    ASSERT_TRUE(Pty.Send(burst));
    ASSERT_TRUE(WaitUntil([&] { return Log.Received().size() >= burst.size(); }));
    Settle(150ms);
    EXPECT_EQ(Log.Received(), burst) << "bytes lost, repeated or reordered";
    EXPECT_GE(Log.Blocks.size(), 3u);
    for (const auto &block : Log.Blocks) {
        EXPECT_GE(block.size(), 1u);
        EXPECT_LE(block.size(), 4096u);
    }
    EXPECT_TRUE(Log.BlocksEndWithZero);
}

TEST_F(CommData, StreamWithoutTimeoutsArrivesAsWholeBlocksInOrder)
{
    // Many blocks ready at once go to the GUI thread together; each must
    // still be a block of its own, whole, once and in place.
    Comm.SetReadIntervalTimeout(0);
    Open();
    const std::string stream = AllByteValues(40 * 4096);
    ASSERT_TRUE(Pty.Send(stream));
    ASSERT_TRUE(WaitUntil([&] { return Log.Received().size() >= stream.size(); }));
    Settle(50ms);
    ASSERT_EQ(Log.Blocks.size(), 40u);
    for (const auto &block : Log.Blocks)
        EXPECT_EQ(block.size(), 4096u);
    EXPECT_EQ(Log.Received(), stream) << "bytes lost, repeated or reordered";
    EXPECT_TRUE(Log.BlocksEndWithZero);
}

TEST_F(CommData, PauseBetweenBytesEndsABlock)
{
    Open();
    ASSERT_TRUE(Pty.Send("AB"));
    ASSERT_TRUE(WaitUntil([&] { return !Log.Blocks.empty(); }));
    QThread::msleep(250);
    ASSERT_TRUE(Pty.Send("CD"));
    ASSERT_TRUE(WaitUntil([&] { return Log.Blocks.size() == 2; }));
    EXPECT_EQ(Log.Blocks[0], "AB");
    EXPECT_EQ(Log.Blocks[1], "CD");
}

TEST_F(CommData, WithoutTimeoutsAReadWaitsForAFullBlock)
{
    Comm.SetReadIntervalTimeout(0);
    Open();
    ASSERT_TRUE(Pty.Send(std::string(100, 'a')));
    Settle(300ms);
    EXPECT_TRUE(Log.Blocks.empty());
    ASSERT_TRUE(Pty.Send(std::string(4000, 'b')));
    ASSERT_TRUE(WaitUntil([&] { return !Log.Blocks.empty(); }));
    EXPECT_EQ(Log.Blocks[0].size(), 4096u);
    EXPECT_EQ(Log.Blocks[0].substr(0, 101), std::string(100, 'a') + 'b');
}

TEST_F(CommData, TotalTimeoutSetWhileOpenEndsAReadEarly)
{
    Open();
    Comm.SetReadIntervalTimeout(0);
    Comm.SetReadTotalTimeoutConstant(50);
    // The new time-outs apply from the next read on; let the current one end.
    Settle(120ms);
    ASSERT_TRUE(Pty.Send("xyz"));
    ASSERT_TRUE(WaitUntil([&] { return !Log.Blocks.empty(); }, 2s));
    EXPECT_EQ(Log.Received(), "xyz");
}

TEST_F(CommData, ZeroBytesPassBothWays)
{
    Open();
    const std::string bytes("\0\x01\0\xff\0\x11\x13\0", 8);
    ASSERT_TRUE(Comm.WriteData(bytes.data(), std::uint16_t(bytes.size())));
    EXPECT_EQ(Pty.Receive(bytes.size()), bytes);
    ASSERT_TRUE(Pty.Send(bytes));
    ASSERT_TRUE(WaitUntil([&] { return Log.Received().size() == bytes.size(); }));
    EXPECT_EQ(Log.Received(), bytes);
}

TEST_F(CommData, LargestRequestIsWrittenWhole)
{
    Open();
    const std::string bytes = AllByteValues(65535);
    ASSERT_TRUE(Comm.WriteData(bytes.data(), 65535));
    const std::string out = Pty.Receive(bytes.size(), 10s);
    EXPECT_EQ(out.size(), bytes.size());
    EXPECT_TRUE(out == bytes);
    EXPECT_TRUE(WaitUntil([&] { return Comm.QueuedBytes() == 0; }));
}

TEST_F(CommData, DrainedQueueNoticeOnceAfterOpenAndAfterABurst)
{
    Open();
    Settle(100ms);
    EXPECT_EQ(Log.Sent, 1);
    // The master reads nothing yet, so the first request stalls the writer and
    // the three quick ones behind it drain as one burst.
    const std::string first(65535, 'f');
    ASSERT_TRUE(Comm.WriteData(first.data(), 65535));
    for (const char *text : {"one", "two", "three"})
        ASSERT_TRUE(Comm.WriteData(text, std::uint16_t(std::strlen(text))));
    Settle(100ms);
    EXPECT_EQ(Log.Sent, 1);
    const std::string out = Pty.Receive(65535 + 11, 10s);
    EXPECT_EQ(out.substr(out.size() >= 11 ? out.size() - 11 : 0), "onetwothree");
    ASSERT_TRUE(WaitUntil([&] { return Log.Sent >= 2; }));
    Settle(100ms);
    EXPECT_EQ(Log.Sent, 2);
}

TEST_F(CommData, WriteDataRefusesEmptyAndClosed)
{
    EXPECT_FALSE(Comm.WriteData("x", 1)) << "closed";
    Open();
    EXPECT_FALSE(Comm.WriteData("x", 0));
    EXPECT_FALSE(Comm.WriteData(nullptr, 3));
    Comm.ClosePort();
    EXPECT_FALSE(Comm.WriteData("x", 1));
    EXPECT_EQ(Comm.QueuedBytes(), 0u);
}

TEST_F(CommData, QueuedBytesCountsWhatTheDeviceHasNotTaken)
{
    Open();
    // The master reads nothing, so the pty fills and the rest stays queued.
    const std::string chunk(60000, 'q');
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(Comm.WriteData(chunk.data(), std::uint16_t(chunk.size())));
    ASSERT_TRUE(WaitUntil([&] { return Comm.QueuedBytes() < 240000; }));
    Settle(50ms);
    const std::size_t queued = Comm.QueuedBytes();
    EXPECT_GT(queued, 0u);
    const std::string out = Pty.Receive(240000, 10s);
    EXPECT_EQ(out.size(), 240000u);
    EXPECT_TRUE(WaitUntil([&] { return Comm.QueuedBytes() == 0; }));
}

TEST_F(CommData, ClosePortDuringALongWriteReturnsPromptly)
{
    Open();
    const std::string chunk(65535, 'w');
    for (int i = 0; i < 8; ++i)
        ASSERT_TRUE(Comm.WriteData(chunk.data(), 65535));
    ASSERT_TRUE(WaitUntil([&] { return Comm.QueuedBytes() < 8u * 65535; }));
    const auto start = std::chrono::steady_clock::now();
    Comm.ClosePort();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(Comm.IsOpen());
    EXPECT_EQ(Comm.QueuedBytes(), 0u);
}

TEST_F(CommData, PausedReadingLosesNothing)
{
    Open();
    Comm.PauseReading(true);
    EXPECT_TRUE(Comm.ReadingPaused());
    const std::string bytes = AllByteValues(3000);
    ASSERT_TRUE(Pty.Send(bytes));
    Settle(300ms);
    EXPECT_TRUE(Log.Blocks.empty()) << "read while paused";
    Comm.PauseReading(false);
    ASSERT_TRUE(WaitUntil([&] { return Log.Received().size() >= bytes.size(); }));
    EXPECT_EQ(Log.Received(), bytes);
}

TEST_F(CommData, PauseHandsOverBytesAlreadyRead)
{
    Comm.SetReadIntervalTimeout(0); // a read would otherwise wait for 4096 bytes
    Open();
    ASSERT_TRUE(Pty.Send("held"));
    Settle(100ms);
    EXPECT_TRUE(Log.Blocks.empty());
    Comm.PauseReading(true);
    ASSERT_TRUE(WaitUntil([&] { return Log.Received() == "held"; }));
    ASSERT_TRUE(Pty.Send("more"));
    Settle(150ms);
    EXPECT_EQ(Log.Received(), "held");
    Comm.SetReadIntervalTimeout(20);
    Comm.PauseReading(false);
    EXPECT_TRUE(WaitUntil([&] { return Log.Received() == "heldmore"; }));
}

TEST_F(CommData, ReopenedComponentWorksAgain)
{
    Open();
    Comm.ClosePort();
    Comm.OpenPort();
    ASSERT_TRUE(WaitUntil([&] { return Log.Sent == 2; }));
    ASSERT_TRUE(Comm.WriteData("again", 5));
    EXPECT_EQ(Pty.Receive(5), "again");
    ASSERT_TRUE(Pty.Send("back"));
    EXPECT_TRUE(WaitUntil([&] { return Log.Received() == "back"; }));
}

TEST_F(CommData, BytesWaitingBeforeOpenAreDroppedUnlessKept)
{
    // Dropped by default; kept for a program that answers a waiting peer.
    for (const bool keep : {false, true}) {
        Comm.SetPurgeInputAtOpen(!keep);
        ASSERT_TRUE(Pty.Send("early"));
        Settle(50ms);
        Open();
        Log.Sent = 0;
        ASSERT_TRUE(Pty.Send("late"));
        ASSERT_TRUE(WaitUntil([&] { return Log.Received().ends_with("late"); }));
        EXPECT_EQ(Log.Received(), keep ? "earlylate" : "late") << keep;
        Comm.ClosePort();
        Log.Blocks.clear();
    }
}

TEST_F(CommData, DeviceQueuedBytesAreWhatTheDriverStillHolds)
{
    TScriptedDevice::TScript script;
    Comm.SetDeviceFactory(TScriptedDevice::Factory(script));
    EXPECT_EQ(Comm.DeviceQueuedBytes(), 0u) << "closed";
    Open();
    script.PendingOutput = 17;
    EXPECT_EQ(Comm.DeviceQueuedBytes(), 17u);
    EXPECT_EQ(Comm.QueuedBytes(), 0u) << "the queue is apart from the driver";
    Comm.ClosePort();
    EXPECT_EQ(Comm.DeviceQueuedBytes(), 0u);
}

} // namespace
} // namespace kestrune
