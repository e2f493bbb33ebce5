#include "serial/CommLink.h"

#include <QCoreApplication>

namespace kestrune {

void TCommLink::Post(TCommMessage Message, std::uint32_t Value)
{
    QCoreApplication::postEvent(FNotifyTarget, new TCommNotifyEvent(Message, Value));
}

void TCommLink::PostData(std::unique_ptr<char[]> Block, std::uint16_t Count)
{
    QCoreApplication::postEvent(FNotifyTarget, new TCommNotifyEvent(std::move(Block), Count));
}

void TCommLink::SignalHangup()
{
    if (!FHangupSent.exchange(true))
        Post(TCommMessage::Hangup);
}

} // namespace kestrune
