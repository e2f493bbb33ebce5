// The engine as the device on the other end: received frames judged by the
// chosen check and answered by rules, on fake links.
#include "codec/Checks.h"
#include "engine/Engine.h"
#include "support/FakeTransport.h"
#include "tests/codec/ByteHelpers.h"

#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>

using namespace kestrune;
using namespace kestrune::testing;
using test::Bytes;

namespace {

// 01 03 00 00 00 01 with its Modbus CRC: read holding register 0.
const ByteString Request = Bytes({1, 3, 0, 0, 0, 1, 0x84, 0x0A});

class AnswerTest : public ::testing::Test
{
protected:
    // The main channel (a fake link, serial by its settings) and one relay;
    // Modbus CRC checks (or the check given), verified, and the rules given.
    void Open(const std::string &rules, TCheckKind check = ckModbusCRC16)
    {
        engine.SetTransportFactory([this](const TChannel &channel) {
            return std::make_unique<TFakeTransport>(channel.LocalPort == 0 ? main : relay);
        });
        TSettings settings;
        TChannel relayChannel;
        relayChannel.LocalPort = 1;
        settings.Relays.push_back({relayChannel, true});
        settings.General.Check = check;
        settings.General.VerifyChecks = true;
        engine.SetSettings(settings);
        const std::string path = dir.filePath(QStringLiteral("rules.txt")).toStdString();
        std::ofstream(path, std::ios::binary) << rules;
        ASSERT_EQ(engine.SetAnswerRules(path), std::nullopt);
        ASSERT_TRUE(engine.Start());
    }

    TFakeTransport &Main() { return *main->Transport; }

    QTemporaryDir dir;
    TEngine engine;
    std::shared_ptr<TFakeLink> main = std::make_shared<TFakeLink>();
    std::shared_ptr<TFakeLink> relay = std::make_shared<TFakeLink>();
};

} // namespace

// Each message of a socket is a frame: a good one is answered at once, framed
// as the Send button frames (its check appended); a delayed rule answers after
// its time; a bad check, or bytes from a relay, are never answered.
TEST_F(AnswerTest, MessagesAreJudgedAndAnsweredFramedAsSend)
{
    Open("# stand-in\nA:H:01 03 00 00 00 01:H:01 03 02 00 2A\nA:T40:S:late:S:ok\n");
    Main().Receive(Request);
    ByteString answer = Bytes({1, 3, 2, 0, 0x2A});
    AppendCheck(answer, ckModbusCRC16);
    EXPECT_EQ(main->Written(), answer);

    ByteString broken = Request;
    broken.back() = 0x0B;
    Main().Receive(broken);
    relay->Transport->Receive(Request);
    // Only the relay's block, forwarded when the pass ends.
    ASSERT_TRUE(QTest::qWaitFor([&] { return main->Written() == answer + Request; }, 2000));
    EXPECT_EQ(engine.BadFrames(), 1u);
    ASSERT_EQ(engine.BadFramePositions().size(), 1u);
    EXPECT_EQ(engine.BadFramePositions()[0], Request.size());

    ByteString late = "late";
    AppendCheck(late, ckModbusCRC16);
    Main().Receive(late);
    EXPECT_EQ(main->Written(), answer + Request) << "not before its delay";
    ByteString ok = "ok";
    AppendCheck(ok, ckModbusCRC16);
    ASSERT_TRUE(QTest::qWaitFor([&] { return main->Written() == answer + Request + ok; }, 2000));
    EXPECT_EQ(engine.AnsweredFrames(), 2u);
    EXPECT_EQ(engine.AnswerRules().Hits(), (std::vector<std::uint64_t>{1, 1}));

    // A delayed answer not yet due is dropped with the link.
    Main().Receive(late);
    engine.Stop();
    QTest::qWait(80);
    EXPECT_EQ(main->Written(), answer + Request + ok);
}

const std::vector<TReadQuiet> Parted = {{0, 0, ReadQuietForever}};

// On a serial line a frame ends with a silence of the frame gap, or as soon
// as a check of 16 bits verifies: a device answers a whole request at once,
// and the master's next request, within the gap, is a frame of its own. A
// frame whose front the history dropped is not judged: no answer, and not
// counted bad.
TEST_F(AnswerTest, SerialFramesEndAtAVerifiedCheckAndAFrameCutByTheTrimIsNotJudged)
{
    Open("A:H:01 03:H:06\n");
    ByteString six = "\x06";
    AppendCheck(six, ckModbusCRC16);
    Main().ReceiveTimed(Request.substr(0, 3), Parted);
    EXPECT_EQ(main->Written(), "") << "the frame goes on";
    Main().ReceiveTimed(Request.substr(3), {});
    EXPECT_EQ(main->Written(), six) << "whole: answered without waiting for the gap";
    Main().ReceiveTimed(Request, {});
    EXPECT_EQ(main->Written(), six + six) << "the next request is a frame of its own";
    QTest::qWait(30);
    EXPECT_EQ(main->Written(), six + six) << "each answered once";
    EXPECT_EQ(engine.BadFrames(), 0u);
    EXPECT_EQ(engine.RecvFrames().Size(), 2u);

    ASSERT_TRUE(engine.SetBufSizeText("6"));
    Main().ReceiveTimed(Request.substr(0, 4), Parted);
    Main().ReceiveTimed(Request.substr(4), {});
    ByteString junk = "junk";
    Main().ReceiveTimed(junk, Parted);
    QTest::qWait(40);
    EXPECT_EQ(main->Written(), six + six);
    EXPECT_EQ(engine.AnsweredFrames(), 2u);
    EXPECT_EQ(engine.BadFrames(), 1u) << "only the junk, which the history holds whole";
}

// An 8-bit check matches by chance once in 256 bytes: such a frame ends only
// with its gap, and its pieces are answered once.
TEST_F(AnswerTest, FramesWithAnEightBitCheckEndAtTheGap)
{
    Open("A:H:01 03:H:06\n", ckSumMod);
    ByteString request = Request.substr(0, 6);
    AppendCheck(request, ckSumMod);
    Main().ReceiveTimed(request.substr(0, 3), Parted);
    Main().ReceiveTimed(request.substr(3), {});
    EXPECT_EQ(main->Written(), "") << "the frame may go on";
    ByteString six = "\x06";
    AppendCheck(six, ckSumMod);
    ASSERT_TRUE(QTest::qWaitFor([&] { return main->Written() == six; }, 2000));
    QTest::qWait(30);
    EXPECT_EQ(main->Written(), six) << "answered once";
}
