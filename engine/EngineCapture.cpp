// The engine's pcapng capture: every block of every channel, both ways.
#include "capture/CaptureFile.h"
#include "engine/Engine.h"

#include <chrono>

namespace kestrune {

namespace {

std::uint64_t NowNs()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count());
}

std::string ChannelName(int channel)
{
    return channel < 0 ? std::string("main") : "R" + std::to_string(channel + 1);
}

} // namespace

std::string TEngine::SetCapture(const std::string &path)
{
    FCapture.reset();
    if (path.empty())
        return {};
    auto capture = std::make_unique<TCaptureFile>();
    if (std::string error = capture->Open(path); !error.empty())
        return "Cannot write the capture \"" + path + "\": " + error;
    FCapture = std::move(capture);
    return {};
}

bool TEngine::Capturing() const
{
    return FCapture != nullptr;
}

void TEngine::CaptureReceived(int channel, std::string_view block)
{
    // One packet per frame as the receive view cuts them; a block that goes
    // on with the frame before starts with a piece of its own.
    std::size_t from = 0;
    for (const std::size_t cut : FCaptureCuts) {
        if (cut > from && cut < block.size()) {
            CapturePacket(channel, TPacketDir::Inbound, block.substr(from, cut - from));
            from = cut;
        }
        if (!FCapture)
            return;
    }
    CapturePacket(channel, TPacketDir::Inbound, block.substr(from));
}

void TEngine::CapturePacket(int channel, TPacketDir dir, std::string_view bytes)
{
    if (!FCapture)
        return;
    const TChannel *settings = &FSettings.Main;
    if (channel >= 0 && static_cast<std::size_t>(channel) < FSettings.Relays.size())
        settings = &FSettings.Relays[static_cast<std::size_t>(channel)].Channel;
    std::string error;
    if (settings->Method == cmSerial) {
        error = FCapture->WriteSerial(ChannelName(channel), NowNs(), dir, bytes);
    } else {
        TLinkAddresses link;
        TSocketEnds ends;
        if (const TTransport *t = FSession.TransportOf(channel); t && t->Addresses(link)) {
            ends.Tcp = link.Tcp;
            ends.Local = {link.LocalAddr, link.LocalPort};
            ends.Peer = {link.PeerAddr, link.PeerPort};
        } else {
            ends.Tcp = settings->Method != cmUDP;
        }
        error = FCapture->WriteSocket(ChannelName(channel), NowNs(), dir, ends, bytes);
    }
    if (!error.empty()) {
        CaptureFailed(error);
        return;
    }
    // Written once this turn's packets are in: one write for a flood's many
    // reads, and at once for a single packet on a quiet link.
    if (FCapture->Pending() && !FCaptureFlushQueued) {
        FCaptureFlushQueued = true;
        QTimer::singleShot(0, &FLife, [this] {
            FCaptureFlushQueued = false;
            if (!FCapture)
                return;
            if (const std::string failure = FCapture->Flush(); !failure.empty())
                CaptureFailed(failure);
        });
    }
}

void TEngine::CaptureFailed(const std::string &reason)
{
    const std::string message = "Cannot write the capture \"" + FCapture->Path() + "\": " + reason;
    // Ended at once, so no later packet tries again; told later, since this
    // may run inside a transport's write.
    FCapture.reset();
    QTimer::singleShot(0, &FLife, [this, message] {
        if (OnCaptureStopped)
            OnCaptureStopped(message);
    });
}

} // namespace kestrune
