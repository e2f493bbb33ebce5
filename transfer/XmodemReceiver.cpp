#include "transfer/XmodemReceiver.h"

#include "transfer/XmodemBlock.h"

#include <algorithm>

namespace kestrune {

using namespace xmodem;

TXmodemReceiver::TXmodemReceiver(TTransferProtocol protocol, std::unique_ptr<TReceiveTarget> target,
                                 TTransferTimeouts timeouts)
    : FProtocol(protocol), FTarget(std::move(target)), FTimeouts(timeouts)
{
}

void TXmodemReceiver::Start(std::int64_t nowMs)
{
    FHeaderNext = Batch();
    FExpected = Batch() ? 0 : 1;
    FStep = TStep::Prompting;
    FPromptEnd = nowMs + FTimeouts.StartMs;
    FPrompts = 1;
    Emit(std::string(1, Prompt()));
    SetDeadline(std::min(nowMs + FTimeouts.PromptMs, FPromptEnd));
}

void TXmodemReceiver::Feed(std::string_view bytes, std::int64_t nowMs)
{
    for (const char byte : bytes) {
        if (!Running())
            return;
        Byte(byte, nowMs);
    }
}

void TXmodemReceiver::Byte(char byte, std::int64_t nowMs)
{
    switch (FStep) {
    case TStep::Purging:
        // The rest of a damaged block or a burst of noise: wait for quiet.
        SetDeadline(nowMs + FTimeouts.CharMs);
        return;
    case TStep::InBlock:
        FBlock += byte;
        if (FBlock.size() == FBlockLength)
            BlockComplete(nowMs);
        else
            SetDeadline(nowMs + FTimeouts.CharMs);
        return;
    case TStep::Prompting:
    case TStep::Waiting:
        HeaderByte(byte, nowMs);
        return;
    }
}

void TXmodemReceiver::HeaderByte(char byte, std::int64_t nowMs)
{
    if (byte == CAN) {
        if (++FCancels >= 2) {
            FTarget->Abandon();
            Fail("The sender cancelled the transfer.");
        }
        return;
    }
    FCancels = 0;
    if (byte == SOH || byte == STX) {
        FBlock.assign(1, byte);
        FBlockLength = BlockLength(byte, FCrc);
        FStep = TStep::InBlock;
        SetDeadline(nowMs + FTimeouts.CharMs);
    } else if (byte == EOT) {
        if (FInFile) {
            EndOfFile(nowMs);
        } else if (Batch() && FFilesDone > 0) {
            // Our answer to the last EOT was lost: the sender repeats it.
            Emit(std::string{ACK, CRC_REQUEST});
        } else if (!Batch()) {
            // An empty file: nothing but the end.
            if (const auto error = FTarget->Begin({})) {
                Abort(*error);
                return;
            }
            FInFile = true;
            EndOfFile(nowMs);
        }
    }
    // Anything else is noise between blocks.
}

void TXmodemReceiver::BlockComplete(std::int64_t nowMs)
{
    const TBlock block = ParseBlock(FBlock, FCrc);
    if (!block.Valid) {
        Refuse(nowMs);
        return;
    }
    if (block.Number == FExpected) {
        FErrors = 0;
        if (FHeaderNext) {
            AcceptHeader(block.Data, nowMs);
            return;
        }
        AcceptData(block.Data);
        if (!Running())
            return;
        FAskWithC = false;
        ++FExpected;
        Emit(std::string(1, ACK));
        WaitNext(nowMs);
    } else if (static_cast<std::uint8_t>(block.Number + 1) == FExpected) {
        // Our ACK was lost and the sender sent the block again.
        Emit(std::string(1, ACK));
        if (Batch() && block.Number == 0)
            Emit(std::string(1, CRC_REQUEST));
        WaitNext(nowMs);
    } else {
        Abort("Blocks out of step: block " + std::to_string(block.Number) + " came where " +
              std::to_string(FExpected) + " was due.");
    }
}

void TXmodemReceiver::AcceptData(std::string_view data)
{
    if (!FInFile) {
        if (const auto error = FTarget->Begin({})) {
            Abort(*error);
            return;
        }
        FInFile = true;
    }
    if (FFileLeft) {
        data = data.substr(
            0, static_cast<std::size_t>(std::min<std::uint64_t>(*FFileLeft, data.size())));
        *FFileLeft -= data.size();
    }
    if (const auto error = FTarget->Write(data)) {
        Abort(*error);
        return;
    }
    AddDone(data.size());
}

void TXmodemReceiver::AcceptHeader(std::string_view data, std::int64_t nowMs)
{
    const THeader header = ParseHeader(data);
    if (header.Name.empty()) {
        Emit(std::string(1, ACK));
        Succeed("Received " + std::to_string(FFilesDone) + " file(s).");
        return;
    }
    if (const auto error = FTarget->Begin(header.Name)) {
        Abort(*error);
        return;
    }
    FInFile = true;
    FFileLeft = header.Size;
    FModTime = header.ModTime;
    SetFileName(SafeFileName(header.Name));
    SetTotal(header.Size ? std::optional(DoneBytes() + *header.Size) : std::nullopt);
    FHeaderNext = false;
    FExpected = 1;
    FAskWithC = true;
    Emit(std::string{ACK, CRC_REQUEST});
    WaitNext(nowMs);
}

void TXmodemReceiver::EndOfFile(std::int64_t nowMs)
{
    FInFile = false;
    if (const auto error = FTarget->End(FModTime)) {
        Abort(*error);
        return;
    }
    ++FFilesDone;
    Emit(std::string(1, ACK));
    if (!Batch()) {
        Succeed("Received the file.");
        return;
    }
    FHeaderNext = true;
    FExpected = 0;
    FFileLeft.reset();
    FModTime = 0;
    FAskWithC = true;
    Emit(std::string(1, CRC_REQUEST));
    WaitNext(nowMs);
}

void TXmodemReceiver::Refuse(std::int64_t nowMs)
{
    if (++FErrors >= FTimeouts.Tries) {
        Abort("A block arrived damaged " + std::to_string(FTimeouts.Tries) + " times.");
        return;
    }
    FStep = TStep::Purging;
    SetDeadline(nowMs + FTimeouts.CharMs);
}

void TXmodemReceiver::WaitNext(std::int64_t nowMs)
{
    FStep = TStep::Waiting;
    FBlock.clear();
    SetDeadline(nowMs + FTimeouts.TryMs);
}

void TXmodemReceiver::Tick(std::int64_t nowMs)
{
    if (!Running() || !Deadline() || nowMs < *Deadline())
        return;
    switch (FStep) {
    case TStep::Prompting:
        if (nowMs >= FPromptEnd) {
            Abort("The sender did not start within " + TTransferTimeouts::Text(FTimeouts.StartMs) +
                  ".");
            return;
        }
        // A sender that ignores three requests for CRCs may know only checksums.
        if (++FPrompts > 3 && FProtocol == TTransferProtocol::Xmodem)
            FCrc = false;
        Emit(std::string(1, Prompt()));
        SetDeadline(std::min(nowMs + FTimeouts.PromptMs, FPromptEnd));
        return;
    case TStep::Waiting:
        if (++FErrors >= FTimeouts.Tries) {
            Abort("The sender did not answer after " + std::to_string(FTimeouts.Tries) + " tries.");
            return;
        }
        Emit(std::string(1, FAskWithC ? CRC_REQUEST : NAK));
        SetDeadline(nowMs + FTimeouts.TryMs);
        return;
    case TStep::InBlock:
        // The sender went quiet inside a block.
        Refuse(nowMs);
        return;
    case TStep::Purging:
        Emit(std::string(1, NAK));
        WaitNext(nowMs);
        return;
    }
}

void TXmodemReceiver::Abort(const std::string &message)
{
    FTarget->Abandon();
    Emit(CancelBytes());
    Fail(message);
}

void TXmodemReceiver::Cancel()
{
    if (Running())
        Abort("The transfer was cancelled.");
}

} // namespace kestrune
