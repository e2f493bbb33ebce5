#include "serial/CommNotifier.h"

#include "serial/Comm.h"

#include <QCoreApplication>

#include <utility>

namespace kestrune {

bool TCommNotifier::NeedsWake()
{
    if (FWakePosted)
        return false;
    FWakePosted = true;
    return true;
}

void TCommNotifier::PostWake()
{
    QCoreApplication::postEvent(this, new QEvent(WakeType));
}

void TCommNotifier::Enqueue(TCommNotice Notice)
{
    bool wake = false;
    {
        std::lock_guard lock(FLock);
        FQueue.push_back(std::move(Notice));
        wake = NeedsWake();
    }
    if (wake)
        PostWake();
}

void TCommNotifier::Enqueue(std::vector<TCommNotice> &Notices)
{
    if (Notices.empty())
        return;
    bool wake = false;
    {
        std::lock_guard lock(FLock);
        for (auto &notice : Notices)
            FQueue.push_back(std::move(notice));
        wake = NeedsWake();
    }
    Notices.clear();
    if (wake)
        PostWake();
}

bool TCommNotifier::event(QEvent *Event)
{
    if (Event->type() != WakeType)
        return QObject::event(Event);
    // Only what was queued before this wake: later notices have a wake of
    // their own, so a flood cannot keep the GUI thread here for good.
    std::size_t due = 0;
    {
        std::lock_guard lock(FLock);
        FWakePosted = false;
        due = FQueue.size();
    }
    // Taken one at a time: a handler that runs a nested event loop sees the
    // following notices delivered from there, still in order.
    for (; due > 0 && FOwner; --due) {
        TCommNotice notice;
        {
            std::lock_guard lock(FLock);
            if (FQueue.empty())
                break;
            notice = std::move(FQueue.front());
            FQueue.pop_front();
        }
        ++FDispatching;
        Dispatch(FOwner, notice);
        --FDispatching;
    }
    return true;
}

const std::vector<TReadQuiet> &TCommNotifier::DeliveringQuiet() const
{
    static const std::vector<TReadQuiet> none;
    return FDelivering ? FDelivering->Quiet : none;
}

void TCommNotifier::Dispatch(TComm *Comm, const TCommNotice &Notice)
{
    // Each handler is copied before the call: the handler may destroy the
    // component, and with it the stored function it is running from.
    switch (Notice.Message) {
    case TCommMessage::Data:
        if (auto handler = Comm->OnReceiveData) {
            const TCommNotice *outer = std::exchange(FDelivering, &Notice);
            handler(Comm, Notice.Block.get(), Notice.Count);
            FDelivering = outer;
        }
        break;
    case TCommMessage::Error:
        Comm->CountLineErrors(Notice.Errors);
        if (auto handler = Comm->OnReceiveError)
            handler(Comm, Notice.Value);
        break;
    case TCommMessage::Lines:
        Comm->NoteModemLines(Notice.Value);
        if (auto handler = Comm->OnModemLines)
            handler(Comm, Notice.Value);
        break;
    case TCommMessage::Hangup:
        if (auto handler = Comm->OnRequestHangup)
            handler(Comm);
        break;
    case TCommMessage::Modem:
        if (auto handler = Comm->OnModemStateChange)
            handler(Comm, Notice.Value);
        break;
    case TCommMessage::Sent:
        if (auto handler = Comm->OnSendDataEmpty)
            handler(Comm);
        break;
    }
}

} // namespace kestrune
