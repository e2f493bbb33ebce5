// XMODEM, XMODEM-1K and YMODEM sender and receiver against each other and
// against scripted peers, on a virtual clock.
#include "TransferHarness.h"

#include "transfer/XmodemBlock.h"
#include "transfer/XmodemReceiver.h"
#include "transfer/XmodemSender.h"

#include <gtest/gtest.h>

namespace kestrune::testing {
namespace {

using namespace xmodem;

TEST(XmodemBlockTest, FramingAndChecksKnownAnswers)
{
    // CRC-16/XMODEM's check value.
    EXPECT_EQ(Crc16("123456789"), 0x31C3);
    EXPECT_EQ(Checksum(std::string("\x01\x02\xFF", 3)), 0x02);

    struct TCase
    {
        std::string Data;
        bool Crc;
        std::size_t Length;
        char Header;
    };
    for (const TCase &c : {TCase{"A", true, 133, SOH}, TCase{"A", false, 132, SOH},
                           TCase{std::string(128, 'x'), true, 133, SOH},
                           TCase{std::string(129, 'x'), true, 1029, STX},
                           TCase{std::string(1024, 'x'), false, 1028, STX}}) {
        const ByteString b = Block(7, c.Data, c.Crc);
        ASSERT_EQ(b.size(), c.Length);
        EXPECT_EQ(b[0], c.Header);
        EXPECT_EQ(static_cast<std::uint8_t>(b[1]), 7);
        EXPECT_EQ(static_cast<std::uint8_t>(b[2]), 248);
        // Padded with SUB after the data.
        EXPECT_EQ(b[3 + c.Data.size()], c.Data.size() % 128 ? SUB : b[3 + c.Data.size()]);
        const TBlock parsed = ParseBlock(b, c.Crc);
        EXPECT_TRUE(parsed.Valid);
        EXPECT_EQ(parsed.Data.substr(0, c.Data.size()), c.Data);
        // Every single-bit flip after the header byte is caught.
        for (std::size_t i = 1; i < b.size(); i += 37) {
            ByteString bad = b;
            bad[i] = static_cast<char>(bad[i] ^ 0x10);
            EXPECT_FALSE(ParseBlock(bad, c.Crc).Valid) << "byte " << i;
        }
        EXPECT_FALSE(ParseBlock(b.substr(1), c.Crc).Valid);
    }
}

TEST(XmodemBlockTest, HeaderRoundTripAndUnsafeNames)
{
    const THeader h = ParseHeader(HeaderData({"fw.bin", 70000, 01234567}));
    EXPECT_EQ(h.Name, "fw.bin");
    EXPECT_EQ(h.Size, 70000u);
    EXPECT_EQ(h.ModTime, 01234567);
    EXPECT_TRUE(ParseHeader(std::string(128, '\0')).Name.empty());
    EXPECT_FALSE(ParseHeader(std::string("x\0\0", 3)).Size);

    const std::pair<std::string, std::string> names[] = {
        {"../../etc/passwd", "passwd"}, {"/abs/name", "name"},
        {"C:\\dos\\f.txt", "f.txt"},    {"..", "received"},
        {"dir/", "received"},           {"a\nb", "a_b"},
        {"plain.txt", "plain.txt"}};
    for (const auto &[in, out] : names)
        EXPECT_EQ(SafeFileName(in), out) << in;
}

struct TRoundTrip
{
    TTransferProtocol Protocol;
    std::vector<std::size_t> Sizes;
};

class XmodemRoundTripTest : public ::testing::TestWithParam<TRoundTrip>
{
};

// The receiver stores what the sender read: exactly for YMODEM, up to the
// block's padding for XMODEM, which carries no size.
TEST_P(XmodemRoundTripTest, ReceiverStoresTheFiles)
{
    const TRoundTrip &p = GetParam();
    std::vector<TSendFile> files;
    std::vector<std::string> contents;
    for (std::size_t i = 0; i < p.Sizes.size(); ++i) {
        contents.push_back(RandomBytes(p.Sizes[i], static_cast<unsigned>(i + 1)));
        files.push_back(MemoryFile("f" + std::to_string(i), contents.back()));
    }
    TMemoryFiles stored;
    TXmodemSender sender(p.Protocol, files);
    TXmodemReceiver receiver(p.Protocol, std::make_unique<TMemoryTarget>(stored));
    RunPair(&sender, &receiver);
    ASSERT_EQ(sender.State(), TTransferState::Done) << sender.Message();
    ASSERT_EQ(receiver.State(), TTransferState::Done) << receiver.Message();
    ASSERT_EQ(stored.Files.size(), contents.size());
    for (std::size_t i = 0; i < contents.size(); ++i) {
        const std::string &got = stored.Files[i].second;
        if (p.Protocol == TTransferProtocol::Ymodem) {
            EXPECT_EQ(stored.Files[i].first, "f" + std::to_string(i));
            EXPECT_EQ(got, contents[i]);
        } else {
            ASSERT_GE(got.size(), contents[i].size());
            EXPECT_EQ(got.substr(0, contents[i].size()), contents[i]);
            EXPECT_EQ(got.size() % 128, 0u);
            EXPECT_LT(got.size() - contents[i].size(),
                      p.Protocol == TTransferProtocol::Xmodem ? 128u : 1024u);
            EXPECT_EQ(got.find_first_not_of(SUB, contents[i].size()), std::string::npos);
        }
    }
    EXPECT_EQ(sender.DoneBytes(), sender.TotalBytes());
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, XmodemRoundTripTest,
    ::testing::Values(TRoundTrip{TTransferProtocol::Xmodem, {0}},
                      TRoundTrip{TTransferProtocol::Xmodem, {1}},
                      TRoundTrip{TTransferProtocol::Xmodem, {128 * 300 + 5}}, // block numbers wrap
                      TRoundTrip{TTransferProtocol::Xmodem1K, {1025}},
                      TRoundTrip{TTransferProtocol::Xmodem1K, {1024 * 3 + 100}},
                      TRoundTrip{TTransferProtocol::Ymodem, {0}},
                      TRoundTrip{TTransferProtocol::Ymodem, {100 * 1024 + 7, 129, 0, 1024}}));

// Damage on the line is mended by the protocol: each fault hits once.
struct TFault
{
    const char *Name;
    bool ToReceiver;
    std::function<std::string(const std::string &)> Damage;
};

class XmodemFaultTest : public ::testing::TestWithParam<TFault>
{
};

TEST_P(XmodemFaultTest, TransferSurvives)
{
    const TFault &f = GetParam();
    for (const TTransferProtocol protocol :
         {TTransferProtocol::Xmodem1K, TTransferProtocol::Ymodem}) {
        const std::string content = RandomBytes(8 * 1024, 9);
        TMemoryFiles stored;
        TXmodemSender sender(protocol, {MemoryFile("f", content)});
        TXmodemReceiver receiver(protocol, std::make_unique<TMemoryTarget>(stored));
        int chunks = 0;
        const auto run =
            RunPair(&sender, &receiver, [&](bool toReceiver, const std::string &bytes) {
                // The third exchange in the fault's direction is the one damaged.
                if (toReceiver == f.ToReceiver && ++chunks == 3)
                    return f.Damage(bytes);
                return bytes;
            });
        ASSERT_EQ(receiver.State(), TTransferState::Done) << f.Name << ": " << receiver.Message();
        ASSERT_EQ(sender.State(), TTransferState::Done) << f.Name << ": " << sender.Message();
        ASSERT_EQ(stored.Files.size(), 1u);
        EXPECT_EQ(stored.Files[0].second.substr(0, content.size()), content) << f.Name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Line, XmodemFaultTest,
    ::testing::Values(
        TFault{"BitFlip", true,
               [](const std::string &b) {
                   std::string d = b;
                   d[d.size() / 2] ^= 1;
                   return d;
               }},
        TFault{"Truncated", true, [](const std::string &b) { return b.substr(0, b.size() - 10); }},
        TFault{"Lost", true, [](const std::string &) { return std::string(); }},
        TFault{"NoiseBefore", true, [](const std::string &b) { return "\x7f\x55" + b; }},
        TFault{"AnswerLost", false, [](const std::string &) { return std::string(); }},
        TFault{"AnswerNoise", false,
               [](const std::string &b) {
                   return "\x18"
                          "z" +
                          b;
               }}),
    [](const ::testing::TestParamInfo<TFault> &p) { return std::string(p.param.Name); });

// Every way a transfer fails ends it on both sides with one message, after
// the protocol's waits (on the virtual clock) and with the unfinished file gone.
TEST(XmodemFailureTest, EndsWithOneMessage)
{
    const TTransferTimeouts t;
    const std::string content = RandomBytes(4096, 3);
    {
        SCOPED_TRACE("receiver never answers");
        TXmodemSender sender(TTransferProtocol::Xmodem, {MemoryFile("f", content)});
        const auto run = RunPair(&sender, nullptr);
        EXPECT_EQ(sender.Message(), "The receiver did not start the transfer within 60 s.");
        EXPECT_EQ(run.EndMs, t.StartMs);
    }
    {
        SCOPED_TRACE("receiver goes quiet after block 1");
        TMemoryFiles stored;
        TXmodemSender sender(TTransferProtocol::Xmodem, {MemoryFile("f", content)});
        TXmodemReceiver receiver(TTransferProtocol::Xmodem,
                                 std::make_unique<TMemoryTarget>(stored));
        bool quiet = false;
        int blocks = 0;
        const auto run = RunPair(&sender, &receiver, [&](bool toReceiver, const std::string &b) {
            if (toReceiver) {
                blocks += b[0] == SOH;
                return b;
            }
            const bool drop = quiet;
            quiet = quiet || b.find(ACK) != std::string::npos;
            return drop ? std::string() : b;
        });
        EXPECT_EQ(sender.Message(), "The receiver did not answer after 10 tries.");
        // Block 1 once, block 2 ten times, then the cancel.
        EXPECT_EQ(blocks, 11);
        EXPECT_EQ(run.EndMs, 10 * t.TryMs);
        EXPECT_EQ(run.SenderWrote.substr(run.SenderWrote.size() - CancelLength), CancelBytes());
        // The receiver, as patient as the sender, gave up as well.
        EXPECT_EQ(receiver.State(), TTransferState::Failed);
        EXPECT_TRUE(stored.Files.empty());
        EXPECT_EQ(stored.Abandoned, 1);
    }
    {
        SCOPED_TRACE("sender never starts");
        TMemoryFiles stored;
        TXmodemReceiver receiver(TTransferProtocol::Xmodem,
                                 std::make_unique<TMemoryTarget>(stored));
        const auto run = RunPair(nullptr, &receiver);
        EXPECT_EQ(receiver.Message(), "The sender did not start within 60 s.");
        // Three requests for CRCs, then checksums.
        EXPECT_EQ(run.ReceiverWrote.substr(0, 4), std::string("CCC") + NAK);
    }
    for (const bool receiverCancels : {false, true}) {
        SCOPED_TRACE(receiverCancels ? "user cancels the receive" : "user cancels the send");
        TMemoryFiles stored;
        TXmodemSender sender(TTransferProtocol::Ymodem, {MemoryFile("f", content)});
        TXmodemReceiver receiver(TTransferProtocol::Ymodem,
                                 std::make_unique<TMemoryTarget>(stored));
        int blocks = 0;
        RunPair(&sender, &receiver, [&](bool toReceiver, const std::string &b) {
            if (toReceiver && ++blocks == 3)
                (receiverCancels ? static_cast<TTransferMachine &>(receiver) : sender).Cancel();
            return b;
        });
        TTransferMachine &canceller =
            receiverCancels ? static_cast<TTransferMachine &>(receiver) : sender;
        TTransferMachine &peer =
            receiverCancels ? static_cast<TTransferMachine &>(sender) : receiver;
        EXPECT_EQ(canceller.Message(), "The transfer was cancelled.");
        EXPECT_EQ(peer.Message(), receiverCancels ? "The receiver cancelled the transfer."
                                                  : "The sender cancelled the transfer.");
        EXPECT_TRUE(stored.Files.empty());
    }
}

// Scripted senders: a block number out of step is fatal, a repeat is not.
TEST(XmodemReceiverTest, BlockNumbers)
{
    TMemoryFiles stored;
    TXmodemReceiver receiver(TTransferProtocol::Xmodem1K, std::make_unique<TMemoryTarget>(stored));
    receiver.Start(0);
    EXPECT_EQ(receiver.TakeOutput(), "C");
    const std::string a(128, 'a');
    receiver.Feed(Block(1, a, true), 1);
    receiver.Feed(Block(1, a, true), 2); // repeated: answered, not stored twice
    receiver.Feed(Block(2, a, true), 3);
    EXPECT_EQ(receiver.TakeOutput(), std::string(3, ACK));
    EXPECT_EQ(stored.Current, a + a);
    receiver.Feed(Block(4, a, true), 4);
    EXPECT_EQ(receiver.State(), TTransferState::Failed);
    EXPECT_EQ(receiver.Message(), "Blocks out of step: block 4 came where 3 was due.");
    EXPECT_EQ(receiver.TakeOutput(), CancelBytes());
    EXPECT_EQ(stored.Abandoned, 1);
}

} // namespace
} // namespace kestrune::testing
