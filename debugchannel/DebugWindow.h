#pragma once

#include <string_view>

namespace kestrune {

// What became of one record handed to the debug window.
enum class TDebugSend
{
    Sent,
    Full, // not taken (the window's queue is full): the record is dropped
    Gone, // the window closed its socket (or there is none): look for it again
};

// A found debug window: a datagram socket connected to the window's socket.
// Empty when no window was found. Owns the socket.
class TDebugWindow
{
public:
    TDebugWindow() = default;
    explicit TDebugWindow(int socket) : FSocket(socket) {}
    TDebugWindow(TDebugWindow &&other) noexcept;
    TDebugWindow &operator=(TDebugWindow &&other) noexcept;
    TDebugWindow(const TDebugWindow &) = delete;
    TDebugWindow &operator=(const TDebugWindow &) = delete;
    ~TDebugWindow();

    [[nodiscard]] explicit operator bool() const { return FSocket >= 0; }
    [[nodiscard]] int Handle() const { return FSocket; }

    // Hands one record to the window as one datagram without waiting: a
    // window that does not keep up loses the record rather than stall us.
    TDebugSend Send(std::string_view record) const;

private:
    int FSocket = -1;
};

// Looks for a debug window: a listener bound at DebugSocketPath().
[[nodiscard]] TDebugWindow FindDebugWindow();

} // namespace kestrune
