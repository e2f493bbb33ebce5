// The session with fake transports: routing by origin and mark, joined writes,
// the main link's state, loss of a link, and flow control.
#include "session/Session.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

using namespace kestrune;

namespace {

struct TFakeLink
{
    std::vector<std::string> Writes;
    std::size_t Queued = 0;
    bool Paused = false;
    bool Closed = false;
    bool Destroyed = false;
    std::string Refuse;   // a non-empty reason refuses every write
    bool Waiting = false; // a serial port whose device is away: writes are dropped
    std::uint64_t Dropped = 0;
};

class TFakeTransport final : public TTransport
{
public:
    TFakeTransport(std::shared_ptr<TFakeLink> link, bool lossless, bool datagrams, TLinkState state)
        : FLink(std::move(link)), FLossless(lossless), FDatagrams(datagrams), FState(state)
    {
    }
    ~TFakeTransport() override { FLink->Destroyed = true; }

    TWriteResult Write(std::string_view bytes) override
    {
        if (FLink->Waiting) {
            FLink->Dropped += bytes.size();
            return TWriteResult::Refused("Waiting for the port.");
        }
        if (!FLink->Refuse.empty())
            return TWriteResult::Refused(FLink->Refuse);
        FLink->Writes.emplace_back(bytes);
        return {};
    }
    std::size_t QueuedBytes() const override { return FLink->Queued; }
    void PauseReading(bool paused) override { FLink->Paused = paused; }
    bool PausesWithoutLoss() const override { return FLossless; }
    bool KeepsWriteBoundaries() const override { return FDatagrams; }
    TLinkState State() const override { return FLink->Waiting ? TLinkState::Waiting : FState; }
    void Close() override { FLink->Closed = true; }
    std::uint64_t DroppedBytes() const override { return FLink->Dropped; }

private:
    std::shared_ptr<TFakeLink> FLink;
    bool FLossless;
    bool FDatagrams;
    TLinkState FState;
};

enum class TKind
{
    Tcp,       // stream, paused without loss
    Udp,       // datagrams, never paused
    Serial,    // stream without flow control: never paused
    FlowSerial // stream with flow control
};

// Every kind of source, and whether it can be held back without loss.
struct TSourceRow
{
    TKind Source;
    bool Waits;
};
constexpr TSourceRow SourceKinds[] = {
    {TKind::Tcp, true}, {TKind::FlowSerial, true}, {TKind::Serial, false}, {TKind::Udp, false}};

class SessionTest : public ::testing::Test
{
protected:
    SessionTest()
        : session([this](std::function<void()> action) { deferred.push_back(std::move(action)); })
    {
        session.OnData = [this](bool fromRelay, std::string_view block) {
            received.push_back((fromRelay ? "R:" : "M:") + std::string(block));
        };
        session.OnMainStateChanged = [this](TLinkState state) { states.push_back(state); };
        session.OnStopped = [this](const std::string &message) { stops.push_back(message); };
        session.OnWarning = [this](const std::string &message) { warnings.push_back(message); };
    }

    // Runs what the session left for a later turn, as the event loop would.
    void RunDeferred()
    {
        while (!deferred.empty()) {
            auto action = std::move(deferred.front());
            deferred.pop_front();
            action();
        }
    }

    std::unique_ptr<TFakeTransport> Make(const std::shared_ptr<TFakeLink> &link, TKind kind,
                                         TLinkState state = TLinkState::Open)
    {
        const bool lossless = kind == TKind::Tcp || kind == TKind::FlowSerial;
        return std::make_unique<TFakeTransport>(link, lossless, kind == TKind::Udp, state);
    }

    TFakeTransport *OpenMain(const std::shared_ptr<TFakeLink> &link, TKind kind,
                             TLinkState state = TLinkState::Open)
    {
        auto t = Make(link, kind, state);
        TFakeTransport *raw = t.get();
        session.OpenMain(std::move(t));
        return raw;
    }

    TFakeTransport *AddOpenRelay(const std::shared_ptr<TFakeLink> &link, TKind kind,
                                 bool checked = true)
    {
        session.AddRelay(checked);
        auto t = Make(link, kind);
        TFakeTransport *raw = t.get();
        session.OpenRelay(session.RelayCount() - 1, std::move(t));
        return raw;
    }

    std::deque<std::function<void()>> deferred;
    TSession session;
    std::vector<std::string> received;
    std::vector<TLinkState> states;
    std::vector<std::string> stops;
    std::vector<std::string> warnings;
};

std::shared_ptr<TFakeLink> Link()
{
    return std::make_shared<TFakeLink>();
}

} // namespace

TEST_F(SessionTest, RoutesByOriginAndMarkAndJoinsOnePassIntoOneWritePerStream)
{
    auto main = Link(), tcp = Link(), udp = Link(), unchecked = Link();
    TFakeTransport *m = OpenMain(main, TKind::Serial);
    TFakeTransport *r0 = AddOpenRelay(tcp, TKind::Tcp);
    AddOpenRelay(udp, TKind::Udp);
    AddOpenRelay(unchecked, TKind::Tcp, false);
    session.AddRelay(true); // checked but never opened

    // One pass of the main channel's reader: three blocks, routed as the
    // window does after showing each.
    for (const char *block : {"ab", "cd", "ef"}) {
        m->OnData(block);
        session.Route(false, block);
    }
    EXPECT_EQ(received, (std::vector<std::string>{"M:ab", "M:cd", "M:ef"}));
    EXPECT_EQ(udp->Writes, (std::vector<std::string>{"ab", "cd", "ef"})) << "datagrams stay apart";
    EXPECT_TRUE(tcp->Writes.empty()) << "a stream waits for the end of the pass";
    RunDeferred();
    EXPECT_EQ(tcp->Writes, (std::vector<std::string>{"abcdef"}));
    EXPECT_TRUE(unchecked->Writes.empty());
    EXPECT_TRUE(main->Writes.empty()) << "a main block never goes back to the main channel";

    // From a relay: to the main channel only, and a frame sent meanwhile
    // goes after what was routed before it.
    r0->OnData("xy");
    session.Route(true, "xy");
    ASSERT_TRUE(session.SendToMain("SEND").Ok);
    EXPECT_EQ(received.back(), "R:xy");
    EXPECT_EQ(main->Writes, (std::vector<std::string>{"xy", "SEND"}));
    RunDeferred();
    EXPECT_EQ(main->Writes.size(), 2u);
    EXPECT_EQ(tcp->Writes.size(), 1u);

    // A mark changed while open counts from the next block.
    session.SetRelayChecked(0, false);
    session.SetRelayChecked(2, true);
    session.Route(false, "gh");
    RunDeferred();
    EXPECT_EQ(tcp->Writes.size(), 1u);
    EXPECT_EQ(unchecked->Writes, (std::vector<std::string>{"gh"}));
}

TEST_F(SessionTest, RefusedWritesAreReportedOnceAndTheSendResultCarriesTheReason)
{
    auto main = Link(), relay = Link();
    OpenMain(main, TKind::Udp);
    AddOpenRelay(relay, TKind::Udp);
    relay->Refuse = "Send failed: Connection refused";
    for (int i = 0; i < 5; ++i)
        session.Route(false, "x");
    EXPECT_EQ(warnings, (std::vector<std::string>{"Send failed: Connection refused"}));

    main->Refuse = "No client is connected.";
    const TWriteResult result = session.SendToMain("frame");
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.Error, "No client is connected.");
    session.CloseAll();
    EXPECT_FALSE(session.SendToMain("frame").Ok);
}

TEST_F(SessionTest, OnlyTheMainLinksOwnEventsChangeItsState)
{
    auto main = Link(), relayServer = Link();
    TFakeTransport *m = OpenMain(main, TKind::Tcp, TLinkState::Listening);
    TFakeTransport *r = AddOpenRelay(relayServer, TKind::Tcp);
    EXPECT_EQ(session.MainState(), TLinkState::Listening);
    EXPECT_FALSE(session.MainCanSend());

    r->OnPeerConnected();
    r->OnPeerClosed();
    EXPECT_TRUE(states.empty()) << "a relay server's client changes nothing of the main channel";
    EXPECT_EQ(session.MainState(), TLinkState::Listening);

    m->OnPeerConnected();
    EXPECT_TRUE(session.MainCanSend());
    m->OnPeerClosed();
    EXPECT_EQ(states, (std::vector<TLinkState>{TLinkState::Connected, TLinkState::Listening}));
    EXPECT_TRUE(stops.empty());
}

TEST_F(SessionTest, ALostLinkStopsEverythingAndMayBeClosedFromInsideItsOwnEvent)
{
    auto main = Link(), relay = Link();
    OpenMain(main, TKind::Tcp);
    TFakeTransport *r = AddOpenRelay(relay, TKind::Tcp);
    // The window closes everything from inside the event, as it does.
    session.OnStopped = [this](const std::string &message) {
        stops.push_back(message);
        session.CloseAll();
    };
    r->OnHangup(""); // a relay client whose server left
    EXPECT_EQ(stops, (std::vector<std::string>{""}));
    EXPECT_FALSE(session.IsOpen());
    EXPECT_TRUE(main->Closed && relay->Closed);
    EXPECT_FALSE(relay->Destroyed) << "deleted on a later turn, not inside its own event";
    RunDeferred();
    EXPECT_TRUE(main->Destroyed && relay->Destroyed);
}

// Which sources a full destination holds back: only those that wait without
// loss. Others keep being read and their bytes wait in the queue.
TEST_F(SessionTest, AFullDestinationPausesOnlySourcesThatLoseNothingWhilePaused)
{
    for (const TSourceRow row : SourceKinds) {
        SCOPED_TRACE(static_cast<int>(row.Source));
        auto main = Link(), slow = Link();
        OpenMain(main, row.Source);
        TFakeTransport *relay = AddOpenRelay(slow, TKind::Tcp);
        slow->Queued = TSession::HighWater;
        session.Route(false, "block");
        EXPECT_EQ(main->Paused, row.Waits);
        EXPECT_EQ(session.MainPaused(), row.Waits);
        RunDeferred();
        EXPECT_EQ(slow->Writes, (std::vector<std::string>{"block"})) << "nothing is dropped";

        // Above the low mark a drained report changes nothing; at it, reading resumes.
        slow->Queued = TSession::LowWater + 1;
        relay->OnDrained();
        EXPECT_EQ(main->Paused, row.Waits);
        slow->Queued = TSession::LowWater;
        relay->OnDrained();
        EXPECT_FALSE(main->Paused);
        session.CloseAll();
        while (session.RelayCount())
            session.RemoveRelay(0);
        RunDeferred();
    }
}

TEST_F(SessionTest, HoldsAreLiftedByDrainUncheckRemovalAndThePeerLeaving)
{
    auto main = Link(), r0 = Link(), r1 = Link();
    OpenMain(main, TKind::Tcp);
    TFakeTransport *t0 = AddOpenRelay(r0, TKind::Tcp);
    TFakeTransport *t1 = AddOpenRelay(r1, TKind::Tcp);
    r0->Queued = r1->Queued = TSession::HighWater;
    session.Route(false, "x");
    ASSERT_TRUE(main->Paused);

    r0->Queued = 0;
    t0->OnDrained();
    EXPECT_TRUE(main->Paused) << "the other relay is still full";
    session.SetRelayChecked(1, false);
    EXPECT_FALSE(main->Paused) << "an unchecked relay gets no main data, so it holds nothing back";
    session.SetRelayChecked(1, true);
    EXPECT_TRUE(main->Paused);
    r1->Queued = 0;
    t1->OnPeerClosed(); // its queue went with its client
    EXPECT_FALSE(main->Paused);

    // The main channel as the full destination holds back every relay that can wait.
    main->Queued = TSession::HighWater;
    t0->OnData("y");
    session.Route(true, "y");
    EXPECT_TRUE(r0->Paused && r1->Paused);
    session.RemoveRelay(0);
    EXPECT_TRUE(r0->Closed);
    main->Queued = 0;
    RunDeferred();
    EXPECT_FALSE(r1->Paused);
}

// A serial port whose device went away: the main channel waits while the
// relays stay open, what is meant for it is dropped and counted, and its
// return makes it Open again; a relay port waiting changes nothing of the main.
TEST_F(SessionTest, APortAwayWaitsWithTheOthersOpenAndCountsWhatWasDroppedForIt)
{
    auto main = Link(), tcp = Link(), serialRelay = Link();
    TFakeTransport *m = OpenMain(main, TKind::Serial);
    TFakeTransport *r0 = AddOpenRelay(tcp, TKind::Tcp);
    TFakeTransport *r1 = AddOpenRelay(serialRelay, TKind::Serial);
    std::vector<std::string> waits;
    std::vector<std::uint64_t> dropped;
    session.OnPortWaiting = [&](bool fromRelay, const std::string &port) {
        waits.push_back((fromRelay ? "R:wait:" : "M:wait:") + port);
    };
    session.OnPortReturned = [&](bool fromRelay, const std::string &port) {
        waits.push_back((fromRelay ? "R:back:" : "M:back:") + port);
    };
    session.OnDropped = [&](std::uint64_t total) { dropped.push_back(total); };

    session.Route(true, "before");
    main->Waiting = true;
    m->OnWaiting("ttyUSB0");
    EXPECT_EQ(session.MainState(), TLinkState::Waiting);
    EXPECT_EQ(session.MainWaitingFor(), "ttyUSB0");
    EXPECT_FALSE(session.MainCanSend());
    EXPECT_TRUE(session.IsOpen());
    RunDeferred();
    EXPECT_TRUE(main->Writes.empty()) << "what was joined for the vanished device went with it";

    // The flood from the relay goes on and is dropped, counted once per write.
    for (const char *block : {"12345", "678"}) {
        r0->OnData(block);
        session.Route(true, block);
        RunDeferred();
    }
    EXPECT_FALSE(session.SendToMain("typed").Ok);
    EXPECT_EQ(dropped, (std::vector<std::uint64_t>{5, 8, 13}));
    EXPECT_EQ(warnings, (std::vector<std::string>{"Waiting for the port."})) << "said once";
    EXPECT_TRUE(stops.empty());

    main->Waiting = false;
    m->OnReturned("ttyUSB0");
    EXPECT_EQ(session.MainState(), TLinkState::Open);
    EXPECT_TRUE(session.MainWaitingFor().empty());
    session.Route(true, "after");
    RunDeferred();
    EXPECT_EQ(main->Writes, (std::vector<std::string>{"after"}));
    EXPECT_EQ(states, (std::vector<TLinkState>{TLinkState::Waiting, TLinkState::Open}));

    // A relay port away: the main channel keeps its state; its count adds up.
    serialRelay->Waiting = true;
    r1->OnWaiting("ttyACM0");
    session.Route(false, "xy");
    RunDeferred();
    EXPECT_EQ(session.MainState(), TLinkState::Open);
    EXPECT_EQ(tcp->Writes.back(), "xy");
    EXPECT_EQ(session.DroppedBytes(), 15u);
    EXPECT_EQ(waits,
              (std::vector<std::string>{"M:wait:ttyUSB0", "M:back:ttyUSB0", "R:wait:ttyACM0"}));
    session.CloseAll();
    EXPECT_EQ(session.DroppedBytes(), 0u);
}

// Past the queue limit a destination drops what a source that cannot wait
// sends it, counts it per channel and says so once per episode; an episode ends
// when its queue is down to half the limit. A source that can wait loses nothing.
TEST_F(SessionTest, AQueueAtItsLimitDropsOnlyFromSourcesThatCannotWaitAndSaysSoOncePerEpisode)
{
    for (const TSourceRow row : SourceKinds) {
        SCOPED_TRACE(static_cast<int>(row.Source));
        const bool drops = !row.Waits;
        auto main = Link(), near = Link(), full = Link(), back = Link();
        TFakeTransport *m = OpenMain(main, row.Source);
        AddOpenRelay(near, TKind::Tcp);
        TFakeTransport *f = AddOpenRelay(full, TKind::Udp);
        TFakeTransport *b = AddOpenRelay(back, row.Source);
        session.SetQueueLimit(100);
        std::vector<std::pair<int, std::uint64_t>> reports;
        session.OnRelayDropping = [&](int channel, std::uint64_t bytes) {
            reports.emplace_back(channel, bytes);
        };
        // Routed from inside the delivery, as the window does.
        session.OnData = [this](bool fromRelay, std::string_view block) {
            session.Route(fromRelay, block);
        };
        const std::string block(10, 'x');
        const auto flood = [&](int blocks) {
            for (int i = 0; i < blocks; ++i)
                m->OnData(block);
        };

        full->Queued = 95;
        flood(3);
        EXPECT_EQ(session.RelayQueuedBytes(0), 30u) << "a relay with room takes every block";
        full->Queued = 60; // above half the limit: the episode goes on
        flood(1);
        full->Queued = 95;
        flood(2);
        const std::uint64_t firstEpisode = drops ? 50 : 0;
        EXPECT_EQ(session.OverflowBytes(1), firstEpisode);
        EXPECT_EQ(full->Writes.size(), drops ? 1u : 6u);

        full->Queued = 50;
        f->OnDrained();
        full->Queued = 95;
        flood(1);
        EXPECT_EQ(session.OverflowBytes(1), drops ? firstEpisode + 10 : 0u);
        using TReports = std::vector<std::pair<int, std::uint64_t>>;
        EXPECT_EQ(reports, (drops ? TReports{{1, 10}, {1, 60}} : TReports{}));
        EXPECT_EQ(session.OverflowBytes(0), 0u);

        // The main channel as the destination, and a queue that is empty
        // takes a block longer than the limit.
        main->Queued = 100;
        b->OnData(block);
        main->Queued = 0;
        b->OnData(std::string(150, 'y'));
        RunDeferred();
        EXPECT_EQ(session.OverflowBytes(-1), drops ? 10u : 0u);
        EXPECT_EQ(main->Writes.back().size(), drops ? 150u : 160u);
        EXPECT_EQ(reports.size(), drops ? 3u : 0u);
        if (drops) {
            EXPECT_EQ(reports.back(), (std::pair<int, std::uint64_t>{-1, 10}));
        }

        session.CloseAll();
        EXPECT_EQ(session.OverflowBytes(1), 0u) << "counted since the links opened";
        while (session.RelayCount())
            session.RemoveRelay(0);
        RunDeferred();
    }
}
