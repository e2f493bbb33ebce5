#include "session/Session.h"

#include <algorithm>
#include <utility>

namespace kestrune {

TSession::TSession(TDefer defer) : FDefer(std::move(defer)) {}

TSession::~TSession()
{
    // Nothing can be inside one of their events now: they go at once.
    const auto close = [](TSlot &slot) {
        if (slot.Transport)
            slot.Transport->Close();
        slot.Transport.reset();
    };
    close(FMain);
    for (auto &relay : FRelays)
        close(*relay);
}

void TSession::AddRelay(bool checked)
{
    auto slot = std::make_shared<TSlot>();
    slot->Relay = true;
    slot->Checked = checked;
    FRelays.push_back(std::move(slot));
}

void TSession::RemoveRelay(std::size_t index)
{
    if (index >= FRelays.size())
        return;
    if (FRelays[index]->Transport)
        FDroppedBefore += FRelays[index]->Transport->DroppedBytes();
    Retire(std::move(FRelays[index]->Transport));
    FRelays.erase(FRelays.begin() + static_cast<std::ptrdiff_t>(index));
    UpdatePauses();
}

void TSession::SetRelayChecked(std::size_t index, bool checked)
{
    if (index >= FRelays.size() || FRelays[index]->Checked == checked)
        return;
    FRelays[index]->Checked = checked;
    UpdatePauses();
}

bool TSession::RelayChecked(std::size_t index) const
{
    return index < FRelays.size() && FRelays[index]->Checked;
}

bool TSession::RelayOpen(std::size_t index) const
{
    return index < FRelays.size() && FRelays[index]->Transport != nullptr;
}

bool TSession::RelayPaused(std::size_t index) const
{
    return index < FRelays.size() && FRelays[index]->Paused;
}

void TSession::OpenMain(std::unique_ptr<TTransport> transport)
{
    Retire(std::move(FMain.Transport));
    FMain.Transport = std::move(transport);
    FMainState = FMain.Transport ? FMain.Transport->State() : TLinkState::Closed;
    FMainWaitingFor.clear();
    Wire(FMainSlot);
}

void TSession::OpenRelay(std::size_t index, std::unique_ptr<TTransport> transport)
{
    if (index >= FRelays.size())
        return;
    Retire(std::move(FRelays[index]->Transport));
    FRelays[index]->Transport = std::move(transport);
    Wire(FRelays[index]);
    UpdatePauses();
}

void TSession::CloseAll()
{
    const auto reset = [this](TSlot &slot) {
        Retire(std::move(slot.Transport));
        slot.Full = false;
        slot.Paused = false;
        slot.Joined.clear();
        slot.LastWarning.clear();
        slot.Overflow = 0;
        slot.Dropping = false;
    };
    reset(FMain);
    for (auto &relay : FRelays)
        reset(*relay);
    FMainState = TLinkState::Closed;
    FMainWaitingFor.clear();
    FDroppedBefore = 0;
}

TLinkState TSession::MainState() const
{
    return FMainState;
}

bool TSession::MainCanSend() const
{
    return FMainState == TLinkState::Open || FMainState == TLinkState::Connected;
}

std::uint64_t TSession::DroppedBytes() const
{
    std::uint64_t total = FDroppedBefore;
    if (FMain.Transport)
        total += FMain.Transport->DroppedBytes();
    for (const auto &relay : FRelays) {
        if (relay->Transport)
            total += relay->Transport->DroppedBytes();
    }
    return total;
}

TLineControl *TSession::MainLineControl() const
{
    return FMain.Transport ? FMain.Transport->LineControl() : nullptr;
}

int TSession::MainPeerCount() const
{
    return FMain.Transport ? FMain.Transport->PeerCount() : 0;
}

std::string TSession::DeliveringPeer() const
{
    return FDelivering.From ? FDelivering.From->DataPeer() : std::string();
}

void TSession::SetMainPromptReads(bool on)
{
    if (FMain.Transport)
        FMain.Transport->SetPromptReads(on);
}

std::size_t TSession::MainQueuedBytes() const
{
    return Waiting(FMain);
}

std::size_t TSession::MainUnsentBytes() const
{
    return Waiting(FMain) + (FMain.Transport ? FMain.Transport->DeviceQueuedBytes() : 0);
}

std::size_t TSession::RelayQueuedBytes(std::size_t index) const
{
    return index < FRelays.size() ? Waiting(*FRelays[index]) : 0;
}

std::uint64_t TSession::OverflowBytes(int channel) const
{
    if (channel < 0)
        return FMain.Overflow;
    const auto index = static_cast<std::size_t>(channel);
    return index < FRelays.size() ? FRelays[index]->Overflow : 0;
}

std::size_t TSession::Waiting(const TSlot &slot) const
{
    return slot.Joined.size() + (slot.Transport ? slot.Transport->QueuedBytes() : 0);
}

void TSession::Wire(const TSlotPtr &slotPtr)
{
    TSlot &slot = *slotPtr;
    if (!slot.Transport)
        return;
    TTransport &t = *slot.Transport;
    const bool relay = slot.Relay;
    // Events hold the slot weakly: a slot removed while an event is on its
    // way is simply gone.
    const std::weak_ptr<TSlot> weak = slotPtr;
    t.OnData = [this, relay, weak, &t](std::string_view bytes) {
        if (!OnData)
            return;
        TDelivery delivery{-1, t.BlockQuiet(), &t};
        if (relay) {
            const auto s = weak.lock();
            delivery.Relay = s ? IndexOf(*s) : -1;
        }
        const TDelivery outer = std::exchange(FDelivering, delivery);
        const TSource outerSource =
            std::exchange(FSource, TSource{true, relay, t.PausesWithoutLoss()});
        OnData(relay, bytes);
        FDelivering = outer;
        FSource = outerSource;
    };
    t.OnDrained = [this, weak] {
        if (const auto s = weak.lock())
            DestinationDrained(*s);
    };
    // Only the main channel's own link changes the main channel's state; a
    // relay server whose client comes or goes just listens on.
    t.OnPeerConnected = [this, relay] {
        if (relay)
            return;
        FMainState = TLinkState::Connected;
        if (OnMainStateChanged)
            OnMainStateChanged(FMainState);
    };
    t.OnPeerClosed = [this, relay, weak] {
        // What waited for the peer that left goes with it, and so does the
        // hold it put on the sources.
        if (const auto s = weak.lock()) {
            s->Joined.clear();
            Relieve(*s);
        }
        if (relay)
            return;
        FMainState = TLinkState::Listening;
        if (OnMainStateChanged)
            OnMainStateChanged(FMainState);
    };
    t.OnPeersChanged = [this, relay] {
        if (!relay && OnMainStateChanged)
            OnMainStateChanged(FMainState);
    };
    t.OnHangup = [this, relay, weak](const std::string &message) {
        // Only a TCP client hangs up without a reason: its server closed.
        if (message.empty() && OnServerClosed) {
            const auto s = weak.lock();
            OnServerClosed(relay && s ? IndexOf(*s) : -1);
        }
        Stop(message);
    };
    t.OnWarning = [this, weak](const std::string &message) {
        if (const auto s = weak.lock())
            Warn(*s, message);
    };
    t.OnLineError = [this, relay](std::uint32_t errors) {
        if (OnLineError)
            OnLineError(relay, errors);
    };
    t.OnModemChange = [this, relay](std::uint32_t modemEvent) {
        if (OnModemChange)
            OnModemChange(relay, modemEvent);
    };
    t.OnModemLines = [this, relay](std::uint32_t lines) {
        if (OnModemLines)
            OnModemLines(relay, lines);
    };
    t.OnWaiting = [this, relay, weak](const std::string &port) {
        // What waited for the vanished device is gone with it, and so is the
        // hold it put on the sources.
        if (const auto s = weak.lock()) {
            s->Joined.clear();
            s->LastWarning.clear();
            Relieve(*s);
        }
        if (!relay) {
            FMainState = TLinkState::Waiting;
            FMainWaitingFor = port;
            if (OnMainStateChanged)
                OnMainStateChanged(FMainState);
        }
        if (OnPortWaiting)
            OnPortWaiting(relay, port);
    };
    t.OnReturned = [this, relay, weak](const std::string &port) {
        if (const auto s = weak.lock())
            s->LastWarning.clear();
        if (!relay) {
            FMainState = TLinkState::Open;
            FMainWaitingFor.clear();
            if (OnMainStateChanged)
                OnMainStateChanged(FMainState);
        }
        if (OnPortReturned)
            OnPortReturned(relay, port);
    };
}

TWriteResult TSession::SendToMain(std::string_view frame)
{
    if (!FMain.Transport)
        return TWriteResult::Refused("The channel is closed.");
    Flush(FMain);
    TWriteResult result = FMain.Transport->Write(frame);
    if (result.Ok) {
        Written(FMain, frame);
        CheckFull(FMain);
    } else if (FMain.Transport->State() == TLinkState::Waiting && OnDropped)
        OnDropped(DroppedBytes());
    return result;
}

void TSession::Route(bool fromRelay, std::string_view block)
{
    const bool sourceWaits = SourceWaits(fromRelay);
    if (fromRelay) {
        if (FMain.Transport)
            Deliver(FMain, block, sourceWaits);
        return;
    }
    for (const auto &relay : FRelays) {
        if (relay->Checked && relay->Transport)
            Deliver(*relay, block, sourceWaits);
    }
}

bool TSession::SourceWaits(bool fromRelay) const
{
    if (FSource.Known && FSource.Relay == fromRelay)
        return FSource.Waits;
    if (!fromRelay)
        return FMain.Transport && FMain.Transport->PausesWithoutLoss();
    // Routed outside its delivery, a relay's block has no known source: it
    // is kept, as one from a source that can wait.
    return true;
}

void TSession::Deliver(TSlot &slot, std::string_view bytes, bool sourceWaits)
{
    // A source that can wait is held back by CheckFull long before this
    // matters; one that cannot must not fill the memory.
    if (!sourceWaits && !Admit(slot, bytes.size()))
        return;
    if (slot.Transport->KeepsWriteBoundaries()) {
        const TWriteResult result = slot.Transport->Write(bytes);
        if (result.Ok)
            Written(slot, bytes);
        else
            Refused(slot, result);
        CheckFull(slot);
        return;
    }
    // An empty block means nothing on a stream.
    if (bytes.empty())
        return;
    slot.Joined.append(bytes);
    if (!slot.FlushArmed) {
        slot.FlushArmed = true;
        const int index = IndexOf(slot);
        const std::weak_ptr<TSlot> weak =
            index < 0 ? FMainSlot : FRelays[static_cast<std::size_t>(index)];
        FDefer([this, weak] {
            if (const auto s = weak.lock()) {
                s->FlushArmed = false;
                Flush(*s);
            }
        });
    }
    CheckFull(slot);
}

void TSession::Flush(TSlot &slot)
{
    if (slot.Joined.empty() || !slot.Transport)
        return;
    // Written from the buffer itself, which keeps its capacity for the next
    // pass: a transport's Write raises no event, so nothing appends meanwhile.
    const TWriteResult result = slot.Transport->Write(slot.Joined);
    if (result.Ok)
        Written(slot, slot.Joined);
    slot.Joined.clear();
    if (!result.Ok)
        Refused(slot, result);
    // The kernel may take it all at once, with no drained event to follow.
    Relieve(slot);
}

void TSession::Written(const TSlot &slot, std::string_view bytes)
{
    if (OnWritten)
        OnWritten(IndexOf(slot), bytes);
}

const TTransport *TSession::TransportOf(int channel) const
{
    if (channel < 0)
        return FMain.Transport.get();
    const auto index = static_cast<std::size_t>(channel);
    return index < FRelays.size() ? FRelays[index]->Transport.get() : nullptr;
}

void TSession::CheckFull(TSlot &slot)
{
    if (slot.Full || Waiting(slot) < HighWater)
        return;
    slot.Full = true;
    UpdatePauses();
}

void TSession::Relieve(TSlot &slot)
{
    EndOverflow(slot);
    if (slot.Full && Waiting(slot) <= LowWater) {
        slot.Full = false;
        UpdatePauses();
    }
}

bool TSession::Admit(TSlot &slot, std::size_t size)
{
    EndOverflow(slot);
    const std::size_t waiting = Waiting(slot);
    if (size == 0 || waiting == 0 || (waiting <= FQueueLimit && size <= FQueueLimit - waiting))
        return true;
    slot.Overflow += size;
    if (!slot.Dropping) {
        slot.Dropping = true;
        if (OnRelayDropping)
            OnRelayDropping(IndexOf(slot), slot.Overflow);
    }
    return false;
}

void TSession::EndOverflow(TSlot &slot)
{
    // Half the limit, not the limit itself: a peer that reads slowly would
    // otherwise start a new episode, and a new report, with every block.
    if (slot.Dropping && Waiting(slot) <= FQueueLimit / 2)
        slot.Dropping = false;
}

int TSession::IndexOf(const TSlot &slot) const
{
    for (std::size_t i = 0; i < FRelays.size(); ++i) {
        if (FRelays[i].get() == &slot)
            return static_cast<int>(i);
    }
    return -1;
}

void TSession::DestinationDrained(TSlot &slot)
{
    Relieve(slot);
    if (&slot == &FMain && OnMainDrained)
        OnMainDrained();
}

void TSession::UpdatePauses()
{
    // Main-channel data goes only to checked relays, so only they hold it back.
    const bool relayFull = std::any_of(FRelays.begin(), FRelays.end(), [](const TSlotPtr &r) {
        return r->Checked && r->Transport && r->Full;
    });
    SetPaused(FMain, relayFull);
    for (auto &relay : FRelays)
        SetPaused(*relay, FMain.Full);
}

void TSession::SetPaused(TSlot &slot, bool paused)
{
    // A source that would lose bytes while not read (UDP, a serial line
    // without flow control) is never held back: its bytes wait in the
    // destination's queue instead.
    if (!slot.Transport || !slot.Transport->PausesWithoutLoss())
        paused = false;
    if (slot.Paused == paused)
        return;
    slot.Paused = paused;
    if (slot.Transport)
        slot.Transport->PauseReading(paused);
}

void TSession::Warn(TSlot &slot, const std::string &message)
{
    // A destination that refuses block after block says so once.
    if (message.empty() || message == slot.LastWarning)
        return;
    slot.LastWarning = message;
    if (OnWarning)
        OnWarning(message);
}

void TSession::Refused(TSlot &slot, const TWriteResult &result)
{
    Warn(slot, result.Error);
    if (slot.Transport && slot.Transport->State() == TLinkState::Waiting && OnDropped)
        OnDropped(DroppedBytes());
}

void TSession::Stop(const std::string &message)
{
    if (OnStopped)
        OnStopped(message);
}

void TSession::Retire(std::unique_ptr<TTransport> transport)
{
    if (!transport)
        return;
    transport->Close();
    std::shared_ptr<TTransport> dying(std::move(transport));
    FDefer([dying] {});
}

} // namespace kestrune
