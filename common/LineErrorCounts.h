#pragma once

#include <cstdint>

namespace kestrune {

// Line errors a serial line has seen since some moment (its open, its Start).
struct TLineErrorCounts
{
    std::uint64_t Framing = 0;
    std::uint64_t Parity = 0;
    std::uint64_t Overrun = 0;
    std::uint64_t Break = 0;

    TLineErrorCounts &operator+=(const TLineErrorCounts &More)
    {
        Framing += More.Framing;
        Parity += More.Parity;
        Overrun += More.Overrun;
        Break += More.Break;
        return *this;
    }
    bool operator==(const TLineErrorCounts &) const = default;
};

} // namespace kestrune
