#pragma once

namespace kestrune {

// An eventfd that threads wait on with poll(). Used two ways: as a stop
// signal that is set once and never cleared, and as a wake-up that the
// waiting side clears with Clear().
class TCommEventFd
{
public:
    TCommEventFd();
    TCommEventFd(const TCommEventFd &) = delete;
    TCommEventFd &operator=(const TCommEventFd &) = delete;
    ~TCommEventFd();

    [[nodiscard]] bool IsValid() const { return FFd >= 0; }
    [[nodiscard]] int Fd() const { return FFd; }

    void Set();
    void Clear();
    // Tested without waiting.
    [[nodiscard]] bool IsSet() const;

private:
    int FFd = -1;
};

} // namespace kestrune
