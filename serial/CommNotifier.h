#pragma once

#include <QEvent>
#include <QObject>

#include <cstdint>
#include <memory>

namespace kestrune {

class TComm;

// What the reader and writer threads report to the component. The values
// follow the port's historical message numbers, so logs and traces of both
// line up.
enum class TCommMessage : int
{
    Data = 0x401,
    Error = 0x402,
    Hangup = 0x403,
    Modem = 0x404,
    Sent = 0x405
};

// One notification on its way to the GUI thread. A data notification owns
// its block, so an event Qt discards (its receiver destroyed) frees it.
class TCommNotifyEvent : public QEvent
{
public:
    static constexpr int TypeBase = QEvent::User;

    TCommNotifyEvent(TCommMessage Message, std::uint32_t Value);
    TCommNotifyEvent(std::unique_ptr<char[]> Block, std::uint16_t Count);

    [[nodiscard]] TCommMessage Message() const;
    [[nodiscard]] std::uint32_t Value() const { return FValue; }
    [[nodiscard]] const char *Block() const { return FBlock.get(); }
    [[nodiscard]] std::uint16_t Count() const { return FCount; }

    [[nodiscard]] static bool IsCommEvent(const QEvent *Event);

private:
    std::uint32_t FValue = 0;
    std::unique_ptr<char[]> FBlock;
    std::uint16_t FCount = 0;
};

// The component's receiver on the GUI thread: turns posted notifications into
// the component's events, one at a time, in posting order. It may outlive
// its component by a moment when a handler destroys the component from
// inside an event; it then drops whatever still arrives.
class TCommNotifier : public QObject
{
public:
    explicit TCommNotifier(TComm *Owner) : FOwner(Owner) {}

    void Detach() { FOwner = nullptr; }
    [[nodiscard]] bool IsDispatching() const { return FDispatching > 0; }

protected:
    bool event(QEvent *Event) override;

private:
    void Dispatch(TComm *Comm, const TCommNotifyEvent &Event);

    TComm *FOwner;
    int FDispatching = 0;
};

} // namespace kestrune
