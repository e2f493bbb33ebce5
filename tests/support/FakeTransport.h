#pragma once

// A transport the test drives by hand: it records what is written, reports
// the queue and state the test sets, and raises the events the test asks for.
#include "session/Transport.h"

#include <memory>
#include <string>
#include <vector>

namespace kestrune::testing {

// What a test sees of a fake link; it outlives the transport.
struct TFakeLink
{
    std::vector<std::string> Writes;
    std::size_t Queued = 0;
    TLinkState State = TLinkState::Open;
    std::string Refuse; // a non-empty reason refuses every write
    bool Closed = false;
    bool Paused = false;
    class TFakeTransport *Transport = nullptr; // while it exists

    [[nodiscard]] std::string Written() const
    {
        std::string all;
        for (const std::string &w : Writes)
            all += w;
        return all;
    }
};

class TFakeTransport final : public TTransport
{
public:
    explicit TFakeTransport(std::shared_ptr<TFakeLink> link, bool lossless = true)
        : FLink(std::move(link)), FLossless(lossless)
    {
        FLink->Transport = this;
    }
    ~TFakeTransport() override { FLink->Transport = nullptr; }

    TWriteResult Write(std::string_view bytes) override
    {
        if (!FLink->Refuse.empty())
            return TWriteResult::Refused(FLink->Refuse);
        FLink->Writes.emplace_back(bytes);
        return {};
    }
    std::size_t QueuedBytes() const override { return FLink->Queued; }
    void PauseReading(bool paused) override { FLink->Paused = paused; }
    bool PausesWithoutLoss() const override { return FLossless; }
    bool KeepsWriteBoundaries() const override { return false; }
    TLinkState State() const override { return FLink->State; }
    void Close() override { FLink->Closed = true; }

    // A TCP server's client leaves: its queue goes with it.
    void PeerLeaves()
    {
        FLink->State = TLinkState::Listening;
        FLink->Queued = 0;
        if (OnPeerClosed)
            OnPeerClosed();
    }
    void PeerArrives()
    {
        FLink->State = TLinkState::Connected;
        if (OnPeerConnected)
            OnPeerConnected();
    }
    void Receive(std::string_view bytes)
    {
        if (OnData)
            OnData(bytes);
    }
    // A block of a link that times its reads, as a serial line does: `quiet`
    // lists the silences before reads within it.
    void ReceiveTimed(std::string_view bytes, std::vector<TReadQuiet> quiet)
    {
        FQuiet = std::move(quiet);
        FTimed = true;
        Receive(bytes);
        FTimed = false;
    }
    const std::vector<TReadQuiet> *BlockQuiet() const override
    {
        return FTimed ? &FQuiet : nullptr;
    }

private:
    std::shared_ptr<TFakeLink> FLink;
    bool FLossless;
    bool FTimed = false;
    std::vector<TReadQuiet> FQuiet;
};

} // namespace kestrune::testing
