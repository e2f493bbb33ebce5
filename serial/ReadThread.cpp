#include "serial/ReadThread.h"

#include "serial/CommLink.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <poll.h>
#include <system_error>

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;

// How often line errors and modem lines are looked at while the reader waits.
constexpr std::chrono::milliseconds LineCheckPeriod{50};

// The platform's line-error flags, which the event reports unchanged.
constexpr std::uint32_t CE_RXOVER = 0x0001;
constexpr std::uint32_t CE_OVERRUN = 0x0002;
constexpr std::uint32_t CE_RXPARITY = 0x0004;
constexpr std::uint32_t CE_FRAME = 0x0008;
constexpr std::uint32_t CE_BREAK = 0x0010;

// Finished blocks gathered while the device has more bytes ready at once,
// before the GUI thread is woken for them: 64 KB, a few reads' delay at most.
constexpr std::size_t MaxBlocksPerHandOver = 16;

constexpr std::uint32_t ModemRingBit = 4;
constexpr std::uint32_t ModemCarrierBit = 8;

int MsUntil(Clock::time_point Due, Clock::time_point Now)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(Due - Now).count();
    return int(std::clamp<decltype(left)>(left, 0, LineCheckPeriod.count()));
}

} // namespace

void TReadThread::Start()
{
    if (!FWake.IsValid())
        throw std::system_error(errno, std::system_category());
    FThread = std::thread([this] { Run(); });
}

void TReadThread::Join()
{
    if (FThread.joinable())
        FThread.join();
}

void TReadThread::SetPaused(bool Paused)
{
    if (FPaused.exchange(Paused) != Paused)
        FWake.Set();
}

bool TReadThread::Keep(const char *Bytes, std::size_t Count)
{
    if (Count == 0)
        return true;
    // One spare zero byte after the data, so a handler may treat it as text.
    TCommNotice notice;
    notice.Block.reset(new (std::nothrow) char[Count + 1]);
    if (!notice.Block) {
        HandOver();
        FLink.SignalHangup();
        return false;
    }
    std::memcpy(notice.Block.get(), Bytes, Count);
    notice.Block[Count] = 0;
    notice.Count = std::uint16_t(Count);
    try {
        // The block takes the silences among its bytes; the rest move up with
        // the bytes left in the buffer.
        auto split = FQuiet.begin();
        while (split != FQuiet.end() && split->Offset < Count)
            ++split;
        notice.Quiet.assign(FQuiet.begin(), split);
        FQuiet.erase(FQuiet.begin(), split);
        for (TReadQuiet &quiet : FQuiet)
            quiet.Offset -= std::uint32_t(Count);
        FFinished.push_back(std::move(notice));
    } catch (const std::bad_alloc &) {
        HandOver();
        FLink.SignalHangup();
        return false;
    }
    return true;
}

void TReadThread::NoteRead(std::size_t Offset, Clock::time_point Now)
{
    const std::int64_t ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Now.time_since_epoch()).count();
    const std::int64_t quiet = FHasRead ? ns - FLastReadNs : ReadQuietForever;
    if (quiet >= ReadQuietFloorNs)
        FQuiet.push_back({std::uint32_t(Offset), ns, quiet});
    FLastReadNs = ns;
    FHasRead = true;
}

void TReadThread::HandOver()
{
    if (!FFinished.empty())
        FLink.PostData(FFinished);
}

bool TReadThread::HandOverData(const char *Bytes, std::size_t Count)
{
    if (!Keep(Bytes, Count))
        return false;
    HandOver();
    return true;
}

bool TReadThread::CheckLine(TLineCounters &Last)
{
    TLineCounters now;
    switch (FLink.Device().ReadLineCounters(now)) {
    case TIoStatus::Ok:
        break;
    case TIoStatus::WouldBlock:
        return true;
    case TIoStatus::Invalid:
        return false;
    case TIoStatus::Failed:
        FLink.SignalHangup();
        return false;
    }
    std::uint32_t errors = 0;
    if (now.Frame != Last.Frame)
        errors |= CE_FRAME;
    if (now.Overrun != Last.Overrun)
        errors |= CE_OVERRUN;
    if (now.Parity != Last.Parity)
        errors |= CE_RXPARITY;
    if (now.Break != Last.Break)
        errors |= CE_BREAK;
    if (now.BufferOverrun != Last.BufferOverrun)
        errors |= CE_RXOVER;
    std::uint32_t modem = 0;
    if (now.Carrier != Last.Carrier)
        modem |= ModemCarrierBit;
    if (now.Ring != Last.Ring)
        modem |= ModemRingBit;
    // CTS and DSR changes raise no modem event; their levels travel below.
    const bool linesChanged = now.ModemLines >= 0 && now.ModemLines != Last.ModemLines;
    // Counters wrap; the difference is still the number that arrived.
    const std::array<std::uint32_t, 4> counts = {now.Frame - Last.Frame, now.Parity - Last.Parity,
                                                 now.Overrun - Last.Overrun,
                                                 now.Break - Last.Break};
    Last = now;
    if (errors != 0)
        FLink.PostErrors(errors, counts);
    if (modem != 0)
        FLink.Post(TCommMessage::Modem, modem);
    if (linesChanged)
        FLink.Post(TCommMessage::Lines, std::uint32_t(now.ModemLines));
    return true;
}

void TReadThread::Run()
{
    TSerialDevice &device = FLink.Device();
    TLineCounters counters;
    // A device that cannot tell (a pty) is not asked again.
    const bool watchLine = device.ReadLineCounters(counters) == TIoStatus::Ok;
    // Where the lines stand at open, for lamps that show levels.
    if (watchLine && counters.ModemLines >= 0)
        FLink.Post(TCommMessage::Lines, std::uint32_t(counters.ModemLines));
    Clock::time_point nextLineCheck = Clock::now() + LineCheckPeriod;

    TReadCompletion completion;
    bool reading = false;
    std::size_t filled = 0;
    // Bytes already read still reach the owner before the hang-up notice.
    const auto hangUp = [&] {
        if (HandOverData(FBuffer.data(), filled))
            FLink.SignalHangup();
    };

    for (;;) {
        const bool paused = FPaused.load();
        Clock::time_point now = Clock::now();
        if (paused && filled > 0) {
            if (!HandOverData(FBuffer.data(), filled))
                break;
            filled = 0;
            reading = false;
        }
        if (!paused && !reading) {
            completion.Start(device.Timeouts(), now);
            reading = true;
        }

        int timeoutMs = reading ? completion.MsUntilDue(now, filled) : -1;
        if (watchLine) {
            const int lineMs = MsUntil(nextLineCheck, now);
            timeoutMs = timeoutMs < 0 ? lineMs : std::min(timeoutMs, lineMs);
        }

        // Polled with no events while paused, the device still reports a hang-up.
        pollfd fds[3] = {{FLink.StopEvent().Fd(), POLLIN, 0},
                         {FWake.Fd(), POLLIN, 0},
                         {device.Fd(), short(paused ? 0 : POLLIN), 0}};
        const int ready = ::poll(fds, 3, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            FLink.SignalHangup();
            break;
        }
        if (fds[0].revents != 0)
            break;
        if (fds[1].revents != 0)
            FWake.Clear();

        now = Clock::now();
        if (watchLine && now >= nextLineCheck) {
            if (!CheckLine(counters))
                break;
            nextLineCheck = now + LineCheckPeriod;
        }

        const short deviceEvents = fds[2].revents;
        if (deviceEvents & POLLNVAL)
            break; // the handle is gone: end without a notice
        // Looked at again: a pause asked for during the wait holds from now on.
        if (!FPaused.load() && (deviceEvents & POLLIN)) {
            // Read on while bytes are there (the descriptor does not block), so
            // a stream costs one wait and one wake of the GUI thread per
            // several blocks rather than per piece the driver hands out.
            bool ended = false;
            while (!FPaused.load()) {
                const TIoResult result =
                    device.Read(FBuffer.data() + filled, FBuffer.size() - filled);
                if (result.Status == TIoStatus::WouldBlock)
                    break;
                if (result.Status == TIoStatus::Invalid) {
                    HandOver();
                    ended = true;
                    break;
                }
                if (result.Status == TIoStatus::Failed) {
                    // Device is likely unplugged, or the other end of a pty closed.
                    hangUp();
                    ended = true;
                    break;
                }
                if (result.Count > 0)
                    NoteRead(filled, now);
                filled += result.Count;
                completion.ByteArrived(now);
                // Bytes past a full block begin the next one.
                while (filled > 0 && completion.IsComplete(now, filled)) {
                    const std::size_t block = std::min(filled, ReadBlockSize);
                    if (!Keep(FBuffer.data(), block)) {
                        ended = true;
                        break;
                    }
                    filled -= block;
                    std::memmove(FBuffer.data(), FBuffer.data() + block, filled);
                    completion.Start(device.Timeouts(), now);
                    if (filled > 0)
                        completion.ByteArrived(now);
                }
                if (ended || FFinished.size() >= MaxBlocksPerHandOver)
                    break;
            }
            if (ended)
                break;
            HandOver();
        } else if (deviceEvents & (POLLHUP | POLLERR)) {
            hangUp();
            break;
        }

        if (reading && completion.IsComplete(now, filled)) {
            // A read that timed out with nothing is not delivered; the next starts.
            if (!HandOverData(FBuffer.data(), filled))
                break;
            filled = 0;
            reading = false;
        }
    }
    device.PurgeInput();
}

} // namespace kestrune
