#include "serial/CommTimeouts.h"

#include <algorithm>
#include <limits>

namespace kestrune {

using std::chrono::milliseconds;

void TReadCompletion::Start(const TCommTimeouts &Timeouts, Clock::time_point Now)
{
    FStart = Now;
    FLastByte = Now;
    FInterval = milliseconds(0);
    FTotal = milliseconds(0);
    const auto interval = Timeouts.ReadIntervalTimeout;
    const auto multiplier = Timeouts.ReadTotalTimeoutMultiplier;
    const auto constant = Timeouts.ReadTotalTimeoutConstant;
    if (interval == MaxTimeout && multiplier == 0 && constant == 0) {
        // Taken literally this returns at once with nothing and the reader would
        // spin; waiting for the first bytes keeps the "return what is there" intent.
        FMode = TMode::Immediate;
        return;
    }
    if (interval == MaxTimeout && multiplier == MaxTimeout && constant != 0 &&
        constant != MaxTimeout) {
        FMode = TMode::FirstOrTotal;
        FTotal = milliseconds(constant);
        return;
    }
    FMode = TMode::Timed;
    // An interval of MaxTimeout outside the two cases above is about 49 days: none.
    if (interval != MaxTimeout)
        FInterval = milliseconds(interval);
    const std::uint64_t total = std::uint64_t(multiplier) * ReadBlockSize + constant;
    FTotal = milliseconds(std::min<std::uint64_t>(total, std::numeric_limits<std::int32_t>::max()));
}

milliseconds TReadCompletion::Remaining(Clock::time_point Now, std::size_t Filled) const
{
    constexpr milliseconds none = milliseconds::max();
    milliseconds best = none;
    const auto until = [&](Clock::time_point due) {
        return std::chrono::ceil<milliseconds>(due - Now);
    };
    switch (FMode) {
    case TMode::Immediate:
        return Filled > 0 ? milliseconds(0) : none;
    case TMode::FirstOrTotal:
        return Filled > 0 ? milliseconds(0) : until(FStart + FTotal);
    case TMode::Timed:
        if (FInterval.count() > 0 && Filled > 0)
            best = std::min(best, until(FLastByte + FInterval));
        if (FTotal.count() > 0)
            best = std::min(best, until(FStart + FTotal));
        return best;
    }
    return best;
}

bool TReadCompletion::IsComplete(Clock::time_point Now, std::size_t Filled) const
{
    if (Filled >= ReadBlockSize)
        return true;
    const milliseconds left = Remaining(Now, Filled);
    return left != milliseconds::max() && left.count() <= 0;
}

int TReadCompletion::MsUntilDue(Clock::time_point Now, std::size_t Filled) const
{
    const milliseconds left = Remaining(Now, Filled);
    if (left == milliseconds::max())
        return -1;
    return int(std::clamp<milliseconds::rep>(left.count(), 0, std::numeric_limits<int>::max()));
}

} // namespace kestrune
