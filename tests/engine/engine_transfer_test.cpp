// A file transfer on the engine's main channel, on fake links: the channel's
// bytes are the transfer's while it runs, and everything else waits.
#include "engine/Engine.h"
#include "support/FakeTransport.h"
#include "transfer/XmodemBlock.h"

#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>

using namespace kestrune;
using namespace kestrune::testing;
using namespace std::string_literals;

namespace {

std::string Slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class EngineTransferTest : public ::testing::Test
{
protected:
    EngineTransferTest()
    {
        for (auto &link : links)
            link = std::make_shared<TFakeLink>();
        engine.SetTransportFactory([this](const TChannel &c) -> std::unique_ptr<TTransport> {
            return std::make_unique<TFakeTransport>(links[static_cast<std::size_t>(c.LocalPort)]);
        });
        TSettings settings;
        TChannel relay;
        relay.LocalPort = 1;
        settings.Relays.push_back({relay, true});
        settings.General.AutoSendPeriod = 5;
        settings.General.SendText = "AA";
        engine.SetSettings(settings);
        engine.OnTransferEnded = [this](TTransferEnd end, const std::string &message) {
            ended.emplace_back(end, message);
        };
        engine.OnTransferProgress = [this](const TTransferProgress &p) { progress.push_back(p); };
        EXPECT_TRUE(engine.Start());
    }
    TTransferRequest ReceiveInto(TTransferProtocol protocol) const
    {
        TTransferRequest request;
        request.Protocol = protocol;
        request.Receive = true;
        request.Path = dir.filePath("got.bin").toStdString();
        return request;
    }
    TFakeTransport &Main() { return *links[0]->Transport; }
    TFakeTransport &Relay() { return *links[1]->Transport; }
    std::string MainWritten() { return links[0]->Written(); }

    QTemporaryDir dir;
    std::shared_ptr<TFakeLink> links[2];
    TEngine engine;
    std::vector<std::pair<TTransferEnd, std::string>> ended;
    std::vector<TTransferProgress> progress;
};

TEST_F(EngineTransferTest, MainChannelBelongsToTheTransferUntilItEnds)
{
    const TTransferRequest request = ReceiveInto(TTransferProtocol::Xmodem);
    const std::string path = request.Path;
    ASSERT_EQ(engine.StartTransfer(request), std::nullopt);
    engine.SetAutoSend(true);
    QTest::qWait(30);
    // Auto send waited: nothing but the transfer's request went out.
    EXPECT_EQ(MainWritten(), "C");
    EXPECT_FALSE(engine.CanSendTyped());
    EXPECT_EQ(engine.StartList(dir.filePath("none.txt").toStdString()),
              "a file transfer is running");
    EXPECT_EQ(engine.StartTransfer(request), "A file transfer is already running.");

    // A relay's bytes do not enter the main channel, the main channel's do
    // not reach the relay, and the views still see both.
    Relay().Receive("from relay");
    const std::string data(128, 'd');
    Main().Receive(xmodem::Block(1, data, true));
    QTest::qWait(30);
    EXPECT_EQ(MainWritten(), std::string("C") + xmodem::ACK);
    EXPECT_TRUE(links[1]->Writes.empty());
    EXPECT_EQ(engine.Counters().RecvBytes, 10 + 133);

    Main().Receive(std::string(1, xmodem::EOT));
    QTest::qWait(30);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0], std::make_pair(TTransferEnd::Done, std::string("Received the file.")));
    EXPECT_EQ(Slurp(path), data);
    EXPECT_EQ(progress.back().Done, 128u);
    EXPECT_FALSE(engine.TransferRunning());

    // Afterwards: relaying and auto send as before.
    const std::size_t written = MainWritten().size();
    Main().Receive("to relay");
    QTest::qWait(30);
    EXPECT_EQ(links[1]->Written(), "to relay");
    EXPECT_GT(MainWritten().size(), written);
}

// A receiver that asked before the send began is answered at once, as a
// sender started after it reads the request off the line; a request that is
// not the last thing received is not one.
TEST_F(EngineTransferTest, StartRequestThatCameBeforeTheSendIsAnswered)
{
    const std::string file = dir.filePath("send.bin").toStdString();
    std::ofstream(file, std::ios::binary) << std::string(200, 's');
    for (const std::string &before : {"C"s, "\x15"s, "C then text"s}) {
        Main().Receive(before);
        QTest::qWait(10);
        links[0]->Writes.clear();
        TTransferRequest request;
        request.Protocol = TTransferProtocol::Xmodem;
        request.Files = {file};
        ASSERT_EQ(engine.StartTransfer(request), std::nullopt);
        QTest::qWait(30);
        const bool asked = before.size() == 1;
        const std::string written = MainWritten();
        EXPECT_EQ(!written.empty() && written[0] == xmodem::SOH, asked) << before;
        if (asked) {
            EXPECT_EQ(written, xmodem::Block(1, std::string(128, 's'), before == "C"));
        }
        engine.CancelTransfer();
        QTest::qWait(30);
    }
}

TEST_F(EngineTransferTest, ClosingTheChannelsTellsThePeerAndLeavesNoFile)
{
    const TTransferRequest request = ReceiveInto(TTransferProtocol::Xmodem1K);
    const std::string path = request.Path;
    ASSERT_EQ(engine.StartTransfer(request), std::nullopt);
    Main().Receive(xmodem::Block(1, std::string(1024, 'x'), true));
    QTest::qWait(30);
    engine.Stop();
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].first, TTransferEnd::ChannelClosed);
    EXPECT_NE(MainWritten().find(xmodem::CancelBytes()), std::string::npos);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path + ".part")));
}

} // namespace
