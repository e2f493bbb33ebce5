#include "serial/CommLink.h"

namespace kestrune {

void TCommLink::Post(TCommMessage Message, std::uint32_t Value)
{
    TCommNotice notice;
    notice.Message = Message;
    notice.Value = Value;
    FNotifier->Enqueue(std::move(notice));
}

void TCommLink::PostErrors(std::uint32_t Flags, const std::array<std::uint32_t, 4> &Counts)
{
    TCommNotice notice;
    notice.Message = TCommMessage::Error;
    notice.Value = Flags;
    notice.Errors = Counts;
    FNotifier->Enqueue(std::move(notice));
}

void TCommLink::PostData(std::vector<TCommNotice> &Blocks)
{
    FNotifier->Enqueue(Blocks);
}

void TCommLink::SignalHangup()
{
    if (!FHangupSent.exchange(true))
        Post(TCommMessage::Hangup);
}

} // namespace kestrune
