#pragma once

#include "transfer/TransferFiles.h"
#include "transfer/TransferMachine.h"

#include <memory>

namespace kestrune {

// Receives by XMODEM, XMODEM-1K (one file, kept with the sender's padding:
// the protocol carries no size) or YMODEM (a batch, each file cut to the size
// its block 0 gives). It asks with 'C' for CRCs; plain XMODEM falls back to
// checksums (NAK) when a sender ignores the first requests.
class TXmodemReceiver final : public TTransferMachine
{
public:
    TXmodemReceiver(TTransferProtocol protocol, std::unique_ptr<TReceiveTarget> target,
                    TTransferTimeouts timeouts = {});

    void Start(std::int64_t nowMs) override;
    void Feed(std::string_view bytes, std::int64_t nowMs) override;
    void Tick(std::int64_t nowMs) override;
    void Cancel() override;

    // Files received whole so far.
    [[nodiscard]] std::size_t FilesReceived() const { return FFilesDone; }

private:
    enum class TStep : std::uint8_t
    {
        Prompting, // asking the sender to begin (block 1, or YMODEM's block 0)
        Waiting,   // for the next block's header byte
        InBlock,   // collecting a block
        Purging    // after a bad block: until the line is quiet, then NAK
    };

    void Byte(char byte, std::int64_t nowMs);
    void HeaderByte(char byte, std::int64_t nowMs);
    void BlockComplete(std::int64_t nowMs);
    void AcceptData(std::string_view data);
    void AcceptHeader(std::string_view data, std::int64_t nowMs);
    void EndOfFile(std::int64_t nowMs);
    void Refuse(std::int64_t nowMs);
    void WaitNext(std::int64_t nowMs);
    void Abort(const std::string &message);
    [[nodiscard]] bool Batch() const { return FProtocol == TTransferProtocol::Ymodem; }
    [[nodiscard]] char Prompt() const { return FCrc ? 'C' : 0x15; }

    TTransferProtocol FProtocol;
    std::unique_ptr<TReceiveTarget> FTarget;
    TTransferTimeouts FTimeouts;
    TStep FStep = TStep::Prompting;
    bool FCrc = true;
    bool FInFile = false;     // a file has begun and not ended
    bool FHeaderNext = false; // YMODEM: block 0 comes next
    bool FAskWithC = false;   // the next request is 'C': a file or a batch step begins
    std::uint8_t FExpected = 1;
    std::int64_t FPromptEnd = 0; // Prompting: when the sender is given up on
    int FPrompts = 0;
    int FErrors = 0; // failed tries for the current block
    std::size_t FCancels = 0;
    ByteString FBlock;
    std::size_t FBlockLength = 0;
    std::optional<std::uint64_t> FFileLeft; // YMODEM: bytes still to store
    std::int64_t FModTime = 0;
    std::size_t FFilesDone = 0;
};

} // namespace kestrune
