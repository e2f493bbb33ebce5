#pragma once

#include <string_view>

namespace kestrune {

// How long one record may wait for room in the debug window's queue. The window
// reads as fast as it can show, so only a hung window ever makes a send wait;
// the bound keeps such a window from freezing the program's own event loop.
inline constexpr int DebugSendTimeoutMs = 2000;

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

    // Hands one record to the window as one datagram; false when it was not taken.
    bool Send(std::string_view record) const;

private:
    int FSocket = -1;
};

// Looks for a debug window: a listener bound at DebugSocketPath().
[[nodiscard]] TDebugWindow FindDebugWindow();

} // namespace kestrune
