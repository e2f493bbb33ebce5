#include "serial/CommNotifier.h"

#include "serial/Comm.h"

namespace kestrune {

namespace {

QEvent::Type TypeOf(TCommMessage Message)
{
    return QEvent::Type(TCommNotifyEvent::TypeBase + int(Message));
}

} // namespace

TCommNotifyEvent::TCommNotifyEvent(TCommMessage Message, std::uint32_t Value)
    : QEvent(TypeOf(Message)), FValue(Value)
{
}

TCommNotifyEvent::TCommNotifyEvent(std::unique_ptr<char[]> Block, std::uint16_t Count)
    : QEvent(TypeOf(TCommMessage::Data)), FBlock(std::move(Block)), FCount(Count)
{
}

TCommMessage TCommNotifyEvent::Message() const
{
    return TCommMessage(int(type()) - TypeBase);
}

bool TCommNotifyEvent::IsCommEvent(const QEvent *Event)
{
    const int message = int(Event->type()) - TypeBase;
    return message >= int(TCommMessage::Data) && message <= int(TCommMessage::Sent);
}

bool TCommNotifier::event(QEvent *Event)
{
    if (!TCommNotifyEvent::IsCommEvent(Event))
        return QObject::event(Event);
    if (FOwner) {
        ++FDispatching;
        Dispatch(FOwner, *static_cast<TCommNotifyEvent *>(Event));
        --FDispatching;
    }
    // Qt deletes the event, and with it a data block, once this returns.
    return true;
}

void TCommNotifier::Dispatch(TComm *Comm, const TCommNotifyEvent &Event)
{
    // Each handler is copied before the call: the handler may destroy the
    // component, and with it the stored function it is running from.
    switch (Event.Message()) {
    case TCommMessage::Data:
        if (auto handler = Comm->OnReceiveData)
            handler(Comm, Event.Block(), Event.Count());
        break;
    case TCommMessage::Error:
        if (auto handler = Comm->OnReceiveError)
            handler(Comm, Event.Value());
        break;
    case TCommMessage::Hangup:
        if (auto handler = Comm->OnRequestHangup)
            handler(Comm);
        break;
    case TCommMessage::Modem:
        if (auto handler = Comm->OnModemStateChange)
            handler(Comm, Event.Value());
        break;
    case TCommMessage::Sent:
        if (auto handler = Comm->OnSendDataEmpty)
            handler(Comm);
        break;
    }
}

} // namespace kestrune
