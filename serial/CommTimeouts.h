#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace kestrune {

// The five time-outs of a serial port, in milliseconds, with the meaning the
// port's users know from other serial tools: an interval between two bytes and
// a total of multiplier * requested bytes + constant.
struct TCommTimeouts
{
    std::uint32_t ReadIntervalTimeout = 100;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;

    bool operator==(const TCommTimeouts &) const = default;
};

inline constexpr std::uint32_t MaxTimeout = 0xFFFFFFFFu;
inline constexpr std::size_t ReadBlockSize = 4096;

// Decides when one read of up to ReadBlockSize bytes is complete. The reader
// keeps bytes in its buffer until this says the read is done, then hands them
// over as one block.
class TReadCompletion
{
public:
    using Clock = std::chrono::steady_clock;

    void Start(const TCommTimeouts &Timeouts, Clock::time_point Now);
    void ByteArrived(Clock::time_point Now) { FLastByte = Now; }

    // True when a read holding Filled bytes is complete at Now.
    [[nodiscard]] bool IsComplete(Clock::time_point Now, std::size_t Filled) const;

    // Milliseconds until the read completes by time alone (rounded up, so a
    // wait never wakes early and spins); -1 when only data can complete it.
    [[nodiscard]] int MsUntilDue(Clock::time_point Now, std::size_t Filled) const;

private:
    enum class TMode
    {
        Timed,       // interval and/or total time-out, or none at all
        Immediate,   // deliver whatever has arrived as soon as anything has
        FirstOrTotal // deliver on the first bytes, or give up after the constant
    };

    [[nodiscard]] std::chrono::milliseconds Remaining(Clock::time_point Now,
                                                      std::size_t Filled) const;

    TMode FMode = TMode::Timed;
    std::chrono::milliseconds FInterval{0}; // 0: no interval time-out
    std::chrono::milliseconds FTotal{0};    // 0: no total time-out
    Clock::time_point FStart{};
    Clock::time_point FLastByte{};
};

} // namespace kestrune
