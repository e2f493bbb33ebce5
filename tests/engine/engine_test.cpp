// The engine without a window, on fake links: the command list's states and
// transitions, auto send, counters and histories, the relay list and the log.
#include "engine/Engine.h"
#include "support/FakeTransport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace kestrune;
using namespace kestrune::testing;

namespace {

class EngineTest : public ::testing::Test
{
protected:
    EngineTest()
    {
        // Channels are told apart by their local port: 0 the main one, n relay n.
        engine.SetTransportFactory([this](const TChannel &channel) -> std::unique_ptr<TTransport> {
            const auto index = static_cast<std::size_t>(channel.LocalPort);
            if (index >= links.size() || links[index] == nullptr)
                throw std::runtime_error("no such link");
            if (OnOpening)
                OnOpening(index);
            return std::make_unique<TFakeTransport>(links[index]);
        });
        engine.OnListStateChanged = [this](TListState state) { listStates.push_back(state); };
        engine.OnStatusMessage = [this](const std::string &text) { statuses.push_back(text); };
        engine.OnError = [this](TEngineError, const std::string &text) { errors.push_back(text); };
        engine.OnLogStopped = [this](const std::string &text) { errors.push_back(text); };
    }

    // The main link and `relays` relay links, each checked.
    void Configure(TLinkState mainState, std::size_t relays = 0)
    {
        TSettings settings;
        settings.Main.LocalPort = 0;
        links.assign(relays + 1, nullptr);
        links[0] = std::make_shared<TFakeLink>();
        links[0]->State = mainState;
        for (std::size_t i = 1; i <= relays; ++i) {
            links[i] = std::make_shared<TFakeLink>();
            TChannel relay;
            relay.LocalPort = static_cast<std::int32_t>(i);
            settings.Relays.push_back({relay, true});
        }
        engine.SetSettings(settings);
    }

    std::string File(const std::string &content)
    {
        const std::string path = dir.filePath(QStringLiteral("list.txt")).toStdString();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    TFakeTransport &Main() { return *links[0]->Transport; }

    QTemporaryDir dir;
    TEngine engine;
    std::vector<std::shared_ptr<TFakeLink>> links;
    std::function<void(std::size_t)> OnOpening;
    std::vector<TListState> listStates;
    std::vector<std::string> statuses;
    std::vector<std::string> errors;
};

using enum TListState;

} // namespace

// --- The command list ------------------------------------------------------------

TEST_F(EngineTest, ListStepsThroughSendReplyAndPauseStatesAndEndsIdle)
{
    Configure(TLinkState::Open);
    ASSERT_TRUE(engine.Start());
    std::vector<std::string> progress;
    engine.OnListProgress = [&](const std::string &text) { progress.push_back(text); };

    // A pause of nothing is no pause: "b" follows "a" at once.
    ASSERT_FALSE(engine.StartList(File("S:S:a\nT0\nT-5\nS:S:b\nR:T2000:S:OK\nT20\nS:S:c\n")));
    EXPECT_EQ(links[0]->Written(), "ab");
    EXPECT_EQ(engine.ListState(), WaitingReply);
    EXPECT_FALSE(engine.CanSendTyped()) << "a running list keeps typed frames back";

    // The reply may come in pieces; relay data or earlier data never count.
    Main().Receive("xO");
    EXPECT_EQ(engine.ListState(), WaitingReply);
    Main().Receive("K!");
    EXPECT_EQ(engine.ListState(), Pausing);
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.ListState() == Idle; }, 2000));
    EXPECT_EQ(links[0]->Written(), "abc");
    EXPECT_EQ(listStates,
              (std::vector<TListState>{Sending, WaitingReply, Sending, Pausing, Sending, Idle}));
    EXPECT_EQ(progress,
              (std::vector<std::string>{"Wait data, Timeout=2000ms.", "Wait 20ms.", "Ready"}));
    EXPECT_TRUE(engine.CanSendTyped());
}

TEST_F(EngineTest, ReplyTimeOutGoesOnAndCancelOrStopEndsAnyWait)
{
    Configure(TLinkState::Open);
    ASSERT_TRUE(engine.Start());
    ASSERT_FALSE(engine.StartList(File("R:T30:S:never\nS:S:after\nR:S:forever\nS:S:no\n")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return links[0]->Written() == "after"; }, 2000));
    // Without a time-out the wait lasts until cancelled.
    QTest::qWait(50);
    EXPECT_EQ(engine.ListState(), WaitingReply);
    engine.CancelList();
    EXPECT_EQ(engine.ListState(), Idle);
    EXPECT_EQ(listStates.back(), Idle);
    EXPECT_EQ(listStates[listStates.size() - 2], Cancelling);
    Main().Receive("forever");
    EXPECT_EQ(links[0]->Written(), "after") << "nothing after the cancel";

    ASSERT_FALSE(engine.StartList(File("T5000\nS:S:no\n")));
    EXPECT_EQ(engine.ListState(), Pausing);
    engine.Stop();
    EXPECT_EQ(engine.ListState(), Idle);
    QTest::qWait(20);
    EXPECT_EQ(links[0]->Written(), "after");
}

TEST_F(EngineTest, ListWaitingForAFullQueueEndsWhenTheClientLeavesAndSendFollowsTheNext)
{
    Configure(TLinkState::Connected);
    ASSERT_TRUE(engine.Start());
    links[0]->Queued = TEngine::SendQueueLimit + 1;
    ASSERT_FALSE(engine.StartList(File("S:S:a\nS:S:b\n")));
    EXPECT_EQ(engine.ListState(), WaitingDrain);

    // The queue goes with the client, and no drained event will come.
    Main().PeerLeaves();
    EXPECT_EQ(engine.ListState(), Idle);
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_NE(statuses[0].find("command list ended"), std::string::npos) << statuses[0];
    EXPECT_FALSE(engine.CanSendTyped());
    Main().PeerArrives();
    EXPECT_TRUE(engine.CanSendTyped());
    EXPECT_EQ(links[0]->Written(), "");
}

TEST_F(EngineTest, ListThatWaitedForTheQueueGoesOnWhenItDrains)
{
    Configure(TLinkState::Open);
    ASSERT_TRUE(engine.Start());
    links[0]->Queued = TEngine::SendQueueLimit + 1;
    ASSERT_FALSE(engine.StartList(File("S:S:a\nS:S:b\n")));
    EXPECT_EQ(engine.ListState(), WaitingDrain);
    links[0]->Queued = 0;
    Main().OnDrained();
    EXPECT_EQ(engine.ListState(), Idle);
    EXPECT_EQ(links[0]->Written(), "ab");
}

TEST_F(EngineTest, ARefusedOrUnparsableLineEndsTheList)
{
    Configure(TLinkState::Open);
    ASSERT_TRUE(engine.Start());
    links[0]->Refuse = "The frame is too long.";
    ASSERT_FALSE(engine.StartList(File("S:S:a\nS:S:b\n")));
    EXPECT_EQ(engine.ListState(), Idle);
    EXPECT_EQ(statuses, std::vector<std::string>{"The frame is too long."});

    links[0]->Refuse.clear();
    // A line over 1 MiB cannot be read.
    ASSERT_FALSE(engine.StartList(File("S:S:" + std::string(1100 * 1024, 'x') + "\nS:S:b\n")));
    EXPECT_EQ(engine.ListState(), Idle) << "no half-running list is left behind";
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(links[0]->Written(), "");
}

// --- Auto send -------------------------------------------------------------------

TEST_F(EngineTest, AutoSendWaitsWhileTheMainQueueIsFullAndSaysSoOnce)
{
    Configure(TLinkState::Open);
    engine.General().DataMode = 1;
    engine.General().SendText = "x";
    engine.General().AutoSendPeriod = 1;
    ASSERT_TRUE(engine.Start());
    links[0]->Queued = TEngine::SendQueueLimit + 1;
    engine.SetAutoSend(true);
    QTest::qWait(40);
    EXPECT_TRUE(links[0]->Writes.empty());
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_NE(statuses[0].find("Auto send waits"), std::string::npos);

    links[0]->Queued = 0;
    ASSERT_TRUE(QTest::qWaitFor([&] { return links[0]->Writes.size() >= 3; }, 2000));
    engine.SetAutoSend(false);
    const std::size_t sent = links[0]->Writes.size();
    QTest::qWait(20);
    EXPECT_EQ(links[0]->Writes.size(), sent);
    EXPECT_EQ(engine.Counters().SendPackets, static_cast<std::int64_t>(sent));
}

// --- Start, counters, log, relays ---------------------------------------------------

TEST_F(EngineTest, WhatArrivesWhileTheRelaysOpenIsKeptAndCountedAlike)
{
    Configure(TLinkState::Open, 1);
    // The relay's connect runs the event loop; the main channel receives meanwhile.
    OnOpening = [this](std::size_t index) {
        if (index == 1)
            Main().Receive("early");
    };
    ASSERT_TRUE(engine.Start());
    EXPECT_EQ(engine.Counters().RecvBytes, 5);
    EXPECT_EQ(engine.RecvHistory().Size(), 5u);

    // A relay that does not open closes everything and keeps what was received.
    engine.Stop();
    links[1] = nullptr;
    EXPECT_FALSE(engine.Start());
    EXPECT_FALSE(engine.IsOpen());
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(engine.Counters().RecvBytes, 5) << "counters run until reset";
}

TEST_F(EngineTest, AFailingLogStopsOnceAndTheBlockIsStillCountedRelayedAndMatched)
{
    Configure(TLinkState::Open, 1);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("log"))); // a folder: no record fits
    engine.SetLogPath(dir.filePath(QStringLiteral("log")).toStdString());
    engine.SetLogToFile(true);
    ASSERT_TRUE(engine.Start());
    ASSERT_FALSE(engine.StartList(File("R:S:hi\nS:S:done\n")));
    Main().Receive("hi");
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_FALSE(engine.LogToFile());
    EXPECT_EQ(engine.Counters().RecvBytes, 2);
    EXPECT_EQ(links[0]->Written(), "done") << "the reply was matched";
    QTest::qWait(10); // joined relay writes go out on a later turn
    EXPECT_EQ(links[1]->Written(), "hi");
    Main().Receive("more");
    EXPECT_EQ(errors.size(), 1u);
}

// The settings name the log's folder and file, and where a new file starts;
// the names are fixed when logging is turned on and at each new file.
TEST_F(EngineTest, LogFollowsTheSettingsFolderPatternAndSize)
{
    Configure(TLinkState::Open);
    TGeneralSettings &g = engine.General();
    g.DataMode = 0; // Hex: two characters and a blank a byte
    g.LogFolder = dir.filePath(QStringLiteral("logs")).toStdString();
    g.LogName = "run-%Y.txt";
    g.LogRotateSize = 40;
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("logs")));
    engine.SetLogToFile(true);
    ASSERT_TRUE(engine.Start());
    const std::string year = QDate::currentDate().toString(QStringLiteral("yyyy")).toStdString();
    EXPECT_EQ(engine.LogPath(), g.LogFolder + "/run-" + year + ".txt");
    Main().Receive("ab"); // a record of 23 + 5 + 2 bytes
    Main().Receive("cd");
    EXPECT_EQ(engine.LogPath(), g.LogFolder + "/run-" + year + "-1.txt");
    EXPECT_EQ(QDir(QString::fromStdString(g.LogFolder)).entryList(QDir::Files).size(), 2);
    EXPECT_TRUE(errors.empty());
}

TEST_F(EngineTest, RelayListKeepsRecordsMarksAndRoutingInStep)
{
    Configure(TLinkState::Open, 3);
    engine.SetRelayChecked(1, false);
    ASSERT_TRUE(engine.Start());
    EXPECT_TRUE(engine.RelayOpen(0));
    EXPECT_FALSE(engine.RelayOpen(1)) << "an unchecked relay stays closed";
    EXPECT_TRUE(engine.RelayOpen(2));

    engine.RemoveRelays({0, 0});
    ASSERT_EQ(engine.Relays().size(), 2u);
    EXPECT_EQ(engine.Relays()[0].Channel.LocalPort, 2);
    EXPECT_FALSE(engine.Relays()[0].Checked);
    EXPECT_TRUE(links[1]->Closed);
    Main().Receive("to3");
    QTest::qWait(10);
    EXPECT_EQ(links[3]->Written(), "to3");
    EXPECT_EQ(links[2]->Written(), "");

    engine.SetRelayChecked(1, false);
    Main().Receive("none");
    QTest::qWait(10);
    EXPECT_EQ(links[3]->Written(), "to3");
    EXPECT_FALSE(engine.Settings().Relays[1].Checked);
}

TEST_F(EngineTest, TypedFrameIsLeadDataCheckTailAndGoesIntoHistoryAndCounters)
{
    Configure(TLinkState::Open);
    TGeneralSettings &g = engine.General();
    g.DataMode = 0;
    g.SendText = "01 02";
    g.Check = 2; // 8-bit sum over the data alone
    g.LeaderText = "AA";
    g.TailText = "55";
    g.LeaderTailEnable = true;
    std::vector<std::string> typed;
    engine.OnTypedSent = [&](const std::string &text) { typed.push_back(text); };
    EXPECT_FALSE(engine.SendTyped()) << "closed";
    ASSERT_TRUE(engine.Start());
    ASSERT_TRUE(engine.SendTyped());
    EXPECT_EQ(links[0]->Written(), "\xAA\x01\x02\x03\x55");
    EXPECT_EQ(typed, std::vector<std::string>{"01 02"});
    EXPECT_EQ(engine.Counters().SendBytes, 5);
    EXPECT_EQ(engine.Counters().SendPackets, 1);
    EXPECT_EQ(engine.SendHistory().Size(), 5u);
    EXPECT_EQ(engine.SendFrames().Size(), 1u);
}
