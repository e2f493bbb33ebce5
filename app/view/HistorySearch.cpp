#include "app/view/HistorySearch.h"

#include <algorithm>
#include <cstring>

namespace kestrune {

void THistorySearch::Start(const THistoryBytes &bytes, ByteString pattern)
{
    FPattern = std::move(pattern);
    FMatches.clear();
    FBytes.Follow(bytes);
    FScanned = FBytes.Begin();
    FNextStart = FScanned;
    FCapped = false;
}

void THistorySearch::Stop()
{
    FPattern.clear();
    FMatches.clear();
    FBytes.Reset();
    FCapped = false;
}

void THistorySearch::Follow(const THistoryBytes &bytes)
{
    if (!Active())
        return;
    // A history cleared or started again: what was found means nothing now.
    if (bytes.Begin() >= FBytes.End() || bytes.End() < FBytes.End()) {
        Start(bytes, std::move(FPattern));
        return;
    }
    FBytes.Follow(bytes);
    while (!FMatches.empty() && FMatches.front() < FBytes.Begin())
        FMatches.pop_front();
    FCapped = FCapped && FMatches.size() >= MaxMatches;
}

std::uint64_t THistorySearch::From() const
{
    return std::max({FScanned, FNextStart, FBytes.Begin()});
}

bool THistorySearch::Done() const
{
    return !Active() || FCapped || FBytes.Size() < FPattern.size() ||
           From() + FPattern.size() > FBytes.End();
}

bool THistorySearch::Step(std::size_t budget)
{
    if (Done())
        return true;
    const std::size_t m = FPattern.size();
    const std::uint64_t from = From();
    // Starts whose match would run past the end wait for more bytes.
    const std::uint64_t lastStart = FBytes.End() - m;
    const std::uint64_t to =
        std::min<std::uint64_t>(lastStart + 1, from + std::max<std::size_t>(budget, 1));
    FScratch.clear();
    FBytes.ForEachPiece(from, to + m - 1,
                        [&](const char *data, std::size_t n) { FScratch.append(data, n); });
    const char *base = FScratch.data();
    std::size_t offset = 0;
    while (offset + m <= FScratch.size()) {
        const void *hit = ::memmem(base + offset, FScratch.size() - offset, FPattern.data(), m);
        if (!hit)
            break;
        const auto at = static_cast<std::size_t>(static_cast<const char *>(hit) - base);
        if (from + at >= to)
            break;
        if (FMatches.size() >= MaxMatches) {
            // One more than is kept: it is looked at again once there is room.
            FCapped = true;
            FScanned = from + at;
            return true;
        }
        FMatches.push_back(from + at);
        FNextStart = from + at + m;
        offset = at + m;
    }
    FScanned = to;
    return Done();
}

std::uint64_t THistorySearch::NextAfter(std::uint64_t after, bool orAt) const
{
    if (FMatches.empty())
        return UINT64_MAX;
    const auto it = orAt ? std::lower_bound(FMatches.begin(), FMatches.end(), after)
                         : std::upper_bound(FMatches.begin(), FMatches.end(), after);
    return it == FMatches.end() ? FMatches.front() : *it;
}

std::uint64_t THistorySearch::PrevBefore(std::uint64_t before) const
{
    if (FMatches.empty())
        return UINT64_MAX;
    const auto it = std::lower_bound(FMatches.begin(), FMatches.end(), before);
    return it == FMatches.begin() ? FMatches.back() : *std::prev(it);
}

} // namespace kestrune
