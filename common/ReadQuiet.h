#pragma once

#include <cstdint>

namespace kestrune {

// A read that followed a quiet line: where its bytes begin in the block they
// were handed on in, when they were read, and how long before that nothing
// had been read (steady clock, nanoseconds). Readers note only silences of at
// least ReadQuietFloorNs: shorter ones are too short to part two frames.
struct TReadQuiet
{
    std::uint32_t Offset = 0;
    std::int64_t ReadNs = 0;
    std::int64_t QuietNs = 0;
};

inline constexpr std::int64_t ReadQuietFloorNs = 1'000'000;
// The quiet before the first read of a port: longer than any gap.
inline constexpr std::int64_t ReadQuietForever = INT64_MAX;

} // namespace kestrune
