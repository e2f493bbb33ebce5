#pragma once

#include "transfer/TransferFiles.h"
#include "transfer/TransferMachine.h"

#include <vector>

namespace kestrune {

// How a raw send is paced: a rate in bytes per second, or chunks with a pause
// after each; neither sends as fast as the line takes it.
struct TRawPacing
{
    std::uint32_t BytesPerSecond = 0;
    std::uint32_t ChunkSize = 0;
    std::uint32_t ChunkDelayMs = 0;
};

// Sends the files' bytes as they are, one after the other, at the pace asked.
// The caller gives it the line only once what it sent before has gone out, so
// the rate is the line's rate and never runs ahead in a queue.
class TRawSender final : public TTransferMachine
{
public:
    TRawSender(std::vector<TSendFile> files, TRawPacing pacing);

    void Start(std::int64_t nowMs) override;
    void Feed(std::string_view, std::int64_t) override {}
    void Tick(std::int64_t nowMs) override;
    void Cancel() override;
    [[nodiscard]] bool WaitsForDrain() const override { return true; }

    // The most one call hands the line when nothing limits the pace.
    static constexpr std::size_t MaxPiece = 64 * 1024;

private:
    // Up to `max` bytes of the files, fewer only at their end.
    [[nodiscard]] bool Take(std::size_t max);

    std::vector<TSendFile> FFiles;
    TRawPacing FPacing;
    std::size_t FFile = 0;
    std::int64_t FStartMs = 0;
};

} // namespace kestrune
