// The raw sender's pacing on a virtual clock.
#include "TransferHarness.h"

#include "transfer/RawSender.h"

#include <gtest/gtest.h>

namespace kestrune::testing {
namespace {

struct TPace
{
    TRawPacing Pacing;
    std::size_t Size;
    std::int64_t ExpectedMs; // when the last byte goes
};

class RawSenderTest : public ::testing::TestWithParam<TPace>
{
};

TEST_P(RawSenderTest, KeepsThePace)
{
    const TPace &p = GetParam();
    const std::string content = RandomBytes(p.Size, 5);
    // Two files are one stream.
    TRawSender sender({MemoryFile("a", content.substr(0, p.Size / 3)),
                       MemoryFile("b", content.substr(p.Size / 3))},
                      p.Pacing);
    std::string sent;
    std::vector<std::pair<std::int64_t, std::size_t>> pieces;
    sender.Start(0);
    std::int64_t now = 0;
    while (sender.Running() && now < 3'600'000) {
        now = *sender.Deadline();
        sender.Tick(now);
        const std::string out = sender.TakeOutput();
        if (!out.empty())
            pieces.push_back({now, out.size()});
        sent += out;
    }
    ASSERT_EQ(sender.State(), TTransferState::Done) << sender.Message();
    EXPECT_EQ(sent, content);
    EXPECT_EQ(pieces.back().first, p.ExpectedMs);
    if (p.Pacing.BytesPerSecond > 0) {
        // At every moment within one step's bytes of the rate.
        const double rate = p.Pacing.BytesPerSecond;
        std::size_t total = 0;
        for (const auto &[at, n] : pieces) {
            total += n;
            EXPECT_LE(total, rate * at / 1000 + 1);
            EXPECT_GE(total + rate / 100 + 1, rate * at / 1000);
        }
    }
    if (p.Pacing.ChunkSize > 0) {
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_EQ(pieces[i].first, std::int64_t(i) * p.Pacing.ChunkDelayMs);
            if (i + 1 < pieces.size()) {
                EXPECT_EQ(pieces[i].second, p.Pacing.ChunkSize);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paces, RawSenderTest,
    ::testing::Values(TPace{{1000, 0, 0}, 10'000, 10'000}, // 10 s at 1000 B/s
                      TPace{{115200, 0, 0}, 1'152'000, 10'000},
                      TPace{{7, 0, 0}, 21, 3'000},    // below one byte a step
                      TPace{{0, 100, 50}, 1050, 500}, // 11 chunks, the last short
                      TPace{{0, 0, 0}, 3 * TRawSender::MaxPiece + 1, 0}));

} // namespace
} // namespace kestrune::testing
