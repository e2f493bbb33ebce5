// A file transfer on the main channel: while it runs the channel's bytes are
// the transfer's. The views, the log and the counters still see them; relays,
// the command list, auto send and answer rules do not.
#include "engine/Engine.h"

#include "transfer/RawSender.h"
#include "transfer/TransferFiles.h"
#include "transfer/XmodemReceiver.h"
#include "transfer/XmodemSender.h"

#include <chrono>
#include <sys/stat.h>

namespace kestrune {

namespace {

std::int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Progress is told at most this often; the end always.
constexpr std::int64_t ProgressEveryMs = 100;

// A receiver asks again for the start within this time (XMODEM's 10 s), so an
// older request is not taken as a waiting one.
constexpr std::int64_t StartRequestFreshMs = 10000;

bool IsFolder(const std::string &path)
{
    struct stat info
    {
    };
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

const char *ProtocolWord(TTransferProtocol protocol)
{
    switch (protocol) {
    case TTransferProtocol::Raw:
        return "raw";
    case TTransferProtocol::Xmodem:
        return "xmodem";
    case TTransferProtocol::Xmodem1K:
        return "xmodem-1k";
    case TTransferProtocol::Ymodem:
        return "ymodem";
    }
    return "raw";
}

std::optional<TTransferProtocol> ProtocolFromWord(const std::string &word)
{
    for (const auto p : {TTransferProtocol::Raw, TTransferProtocol::Xmodem,
                         TTransferProtocol::Xmodem1K, TTransferProtocol::Ymodem}) {
        if (word == ProtocolWord(p))
            return p;
    }
    return std::nullopt;
}

std::optional<std::string> TEngine::StartTransfer(const TTransferRequest &request)
{
    if (TransferRunning())
        return "A file transfer is already running.";
    if (ListRunning())
        return "A command list is running: cancel it before a file transfer.";
    if (!FSession.MainCanSend())
        return "The main channel is not open or has no peer.";
    std::unique_ptr<TTransferMachine> machine;
    if (request.Receive) {
        if (request.Protocol == TTransferProtocol::Raw)
            return "Raw bytes cannot be received as a file; use the communication log.";
        const bool batch = request.Protocol == TTransferProtocol::Ymodem;
        if (batch && !IsFolder(request.Path))
            return "\"" + request.Path + "\" is not a folder to receive into.";
        if (!batch && (request.Path.empty() || IsFolder(request.Path)))
            return "\"" + request.Path + "\" is a folder: name the file to receive into.";
        machine = std::make_unique<TXmodemReceiver>(
            request.Protocol, MakeFileTarget(request.Path, batch), request.Timeouts);
    } else {
        if (request.Files.empty())
            return "No file to send.";
        if (request.Files.size() > 1 && (request.Protocol == TTransferProtocol::Xmodem ||
                                         request.Protocol == TTransferProtocol::Xmodem1K))
            return "XMODEM sends one file; YMODEM sends several.";
        std::vector<TSendFile> files;
        try {
            for (const std::string &path : request.Files)
                files.push_back(OpenSendFile(path));
        } catch (const std::exception &e) {
            return std::string(e.what());
        }
        if (request.Protocol == TTransferProtocol::Raw)
            machine = std::make_unique<TRawSender>(std::move(files), request.Pacing);
        else
            machine = std::make_unique<TXmodemSender>(request.Protocol, std::move(files),
                                                      request.Timeouts);
    }
    FTransfer = std::make_unique<TTransferRun>();
    FTransfer->Machine = std::move(machine);
    FTransfer->StartMs = NowMs();
    // Answers of one byte must not wait for a serial read's time-outs.
    FSession.SetMainPromptReads(true);
    // Auto send keeps its choice and sends again once the transfer is over.
    FTransfer->Machine->Start(FTransfer->StartMs);
    // A receiver started before the send asked once and now waits out its
    // time-out: its request is taken as if it came now, as it would be read
    // from the line by a sender started after it.
    const bool protocolSend = !request.Receive && request.Protocol != TTransferProtocol::Raw;
    if (protocolSend && (FLastMainByte == 'C' || FLastMainByte == 0x15) && FLastMainByteMs >= 0 &&
        FTransfer->StartMs - FLastMainByteMs <= StartRequestFreshMs)
        FTransfer->Machine->Feed(std::string_view(&FLastMainByte, 1), FTransfer->StartMs);
    FLastMainByteMs = -1;
    TransferProgress(true);
    TransferStep();
    return std::nullopt;
}

void TEngine::NoteLastMainByte(char byte)
{
    FLastMainByte = byte;
    FLastMainByteMs = NowMs();
}

bool TEngine::TransferRunning() const
{
    return FTransfer != nullptr;
}

void TEngine::CancelTransfer()
{
    if (!FTransfer || FTransfer->Ending)
        return;
    FTransfer->Machine->Cancel();
    TransferStep();
}

void TEngine::TransferReceived(std::string_view block)
{
    if (FTransfer->Ending)
        return;
    FTransfer->Machine->Feed(block, NowMs());
    TransferStep();
}

void TEngine::TransferTimeUp()
{
    if (!FTransfer || FTransfer->Ending)
        return;
    TTransferMachine &m = *FTransfer->Machine;
    // A paced send goes on once the line has sent what it holds.
    if (m.WaitsForDrain() && FSession.MainQueuedBytes() > 0)
        return;
    m.Tick(NowMs());
    TransferStep();
}

void TEngine::TransferDrained()
{
    if (!FTransfer)
        return;
    if (FTransfer->Ending) {
        EndTransfer();
        return;
    }
    const auto deadline = FTransfer->Machine->Deadline();
    if (FTransfer->Machine->WaitsForDrain() && deadline && *deadline <= NowMs())
        TransferTimeUp();
}

void TEngine::TransferStep()
{
    TTransferMachine &m = *FTransfer->Machine;
    const ByteString out = m.TakeOutput();
    if (!out.empty() && !Transmit(out)) {
        // The status line has said why.
        FailTransfer("The main channel did not take the transfer's bytes.", TTransferEnd::Failed);
        return;
    }
    TransferProgress(!m.Running());
    if (!m.Running()) {
        FTransferTimer->stop();
        FTransfer->Ending = true;
        // The last answer (an ACK, the CANs) leaves before the end is told.
        if (FSession.MainQueuedBytes() == 0 || !FSession.MainCanSend())
            EndTransfer();
        return;
    }
    const auto deadline = m.Deadline();
    if (!deadline) {
        FTransferTimer->stop();
        return;
    }
    const std::int64_t wait = std::max<std::int64_t>(0, *deadline - NowMs());
    FTransferTimer->start(static_cast<int>(std::min<std::int64_t>(wait, INT32_MAX)));
}

void TEngine::TransferProgress(bool force)
{
    const std::int64_t now = NowMs();
    if (!OnTransferProgress || (!force && now - FTransfer->LastProgressMs < ProgressEveryMs))
        return;
    FTransfer->LastProgressMs = now;
    const TTransferMachine &m = *FTransfer->Machine;
    TTransferProgress p;
    p.Done = m.DoneBytes();
    p.Total = m.TotalBytes();
    p.File = m.FileName();
    const double seconds = double(now - FTransfer->StartMs) / 1000.0;
    if (seconds > 0)
        p.BytesPerSecond = double(p.Done) / seconds;
    if (p.Total && p.BytesPerSecond > 0 && *p.Total >= p.Done)
        p.SecondsLeft = double(*p.Total - p.Done) / p.BytesPerSecond;
    OnTransferProgress(p);
}

void TEngine::EndTransfer()
{
    if (!FTransfer)
        return;
    FTransferTimer->stop();
    FSession.SetMainPromptReads(false);
    const std::unique_ptr<TTransferRun> run = std::move(FTransfer);
    if (run->Machine->Running())
        run->Machine->Cancel();
    if (OnTransferEnded)
        OnTransferEnded(run->Machine->State() == TTransferState::Done ? TTransferEnd::Done
                                                                      : TTransferEnd::Failed,
                        run->Machine->Message());
}

void TEngine::TransferLinkChanged()
{
    if (!FTransfer || FSession.MainCanSend())
        return;
    if (FTransfer->Machine->Running())
        FailTransfer("The main channel lost its peer during the transfer.",
                     TTransferEnd::ChannelClosed);
    else
        EndTransfer();
}

void TEngine::FailTransfer(const std::string &message, TTransferEnd end)
{
    if (!FTransfer)
        return;
    FTransferTimer->stop();
    FSession.SetMainPromptReads(false);
    const std::unique_ptr<TTransferRun> run = std::move(FTransfer);
    // Without a channel the peer cannot be told; the file is left as unfinished.
    run->Machine->Cancel();
    static_cast<void>(run->Machine->TakeOutput());
    if (OnTransferEnded)
        OnTransferEnded(end, message);
}

void TEngine::TransferClosing()
{
    if (!FTransfer)
        return;
    if (FTransfer->Ending) {
        EndTransfer();
        return;
    }
    // The peer is told while the channel is still there to tell it.
    FTransfer->Machine->Cancel();
    if (const ByteString out = FTransfer->Machine->TakeOutput(); !out.empty())
        Transmit(out);
    FailTransfer("The channels closed during the transfer.", TTransferEnd::ChannelClosed);
}

} // namespace kestrune
