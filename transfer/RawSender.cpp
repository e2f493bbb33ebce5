#include "transfer/RawSender.h"

#include <algorithm>
#include <stdexcept>

namespace kestrune {

namespace {

// A rate is kept in steps this long: smooth enough for a device, few enough
// wake-ups for the event loop.
constexpr std::int64_t RateStepMs = 10;

} // namespace

TRawSender::TRawSender(std::vector<TSendFile> files, TRawPacing pacing)
    : FFiles(std::move(files)), FPacing(pacing)
{
    NoteFiles(FFiles);
}

void TRawSender::Start(std::int64_t nowMs)
{
    FStartMs = nowMs;
    SetDeadline(nowMs);
}

bool TRawSender::Take(std::size_t max)
{
    std::string piece(max, '\0');
    std::size_t got = 0;
    try {
        while (got < max && FFile < FFiles.size()) {
            const std::size_t n = FFiles[FFile].Read(piece.data() + got, max - got);
            if (n == 0) {
                if (++FFile < FFiles.size())
                    SetFileName(FFiles[FFile].Name);
                continue;
            }
            got += n;
        }
    } catch (const std::exception &e) {
        Fail(e.what());
        return false;
    }
    piece.resize(got);
    Emit(piece);
    AddDone(got);
    if (FFile >= FFiles.size()) {
        Succeed("Sent " + std::to_string(DoneBytes()) + " bytes.");
        return false;
    }
    return true;
}

void TRawSender::Tick(std::int64_t nowMs)
{
    if (!Running() || !Deadline() || nowMs < *Deadline())
        return;
    if (FPacing.BytesPerSecond > 0) {
        // What the rate allows by now, less what has gone: late ticks catch up.
        const std::uint64_t rate = FPacing.BytesPerSecond;
        const std::uint64_t due = rate * static_cast<std::uint64_t>(nowMs - FStartMs) / 1000;
        const std::uint64_t owed = due > DoneBytes() ? due - DoneBytes() : 0;
        if (owed > 0 && !Take(static_cast<std::size_t>(std::min<std::uint64_t>(owed, MaxPiece))))
            return;
        // The time the next step's bytes are due.
        const std::uint64_t step = std::max<std::uint64_t>(1, rate * RateStepMs / 1000);
        const std::uint64_t next = DoneBytes() + step;
        SetDeadline(FStartMs + static_cast<std::int64_t>((next * 1000 + rate - 1) / rate));
    } else if (FPacing.ChunkSize > 0) {
        if (Take(FPacing.ChunkSize))
            SetDeadline(nowMs + FPacing.ChunkDelayMs);
    } else if (Take(MaxPiece)) {
        SetDeadline(nowMs);
    }
}

void TRawSender::Cancel()
{
    // Raw bytes have no way to tell the peer.
    Fail("The transfer was cancelled.");
}

} // namespace kestrune
