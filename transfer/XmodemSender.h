#pragma once

#include "transfer/TransferFiles.h"
#include "transfer/TransferMachine.h"

#include <vector>

namespace kestrune {

// Sends files by XMODEM (one file), XMODEM-1K (one file) or YMODEM (a batch).
// The receiver starts it ('C' asks for CRCs, NAK for checksums) and answers
// each block; a block is sent again on NAK or silence, up to the tries.
class TXmodemSender final : public TTransferMachine
{
public:
    TXmodemSender(TTransferProtocol protocol, std::vector<TSendFile> files,
                  TTransferTimeouts timeouts = {});

    void Start(std::int64_t nowMs) override;
    void Feed(std::string_view bytes, std::int64_t nowMs) override;
    void Tick(std::int64_t nowMs) override;
    void Cancel() override;

private:
    enum class TStep : std::uint8_t
    {
        WaitStart,     // for 'C' or NAK: before the first block, or YMODEM's next block 0
        WaitHeaderAck, // YMODEM: block 0 sent
        WaitDataStart, // YMODEM: for 'C' after block 0
        WaitBlockAck,
        WaitEotAck,
        WaitBatchEndAck // YMODEM: the empty block 0 sent
    };

    void Answer(char byte, std::int64_t nowMs);
    void SendNextBlock(std::int64_t nowMs);
    void SendHeader(std::int64_t nowMs);
    void SendCurrent(std::int64_t nowMs);
    void Retry(std::int64_t nowMs, bool silence);
    void FileDone(std::int64_t nowMs);
    void Abort(const std::string &message);
    [[nodiscard]] bool Batch() const { return FProtocol == TTransferProtocol::Ymodem; }

    TTransferProtocol FProtocol;
    std::vector<TSendFile> FFiles;
    TTransferTimeouts FTimeouts;
    std::size_t FFile = 0;
    TStep FStep = TStep::WaitStart;
    bool FCrc = true;
    std::uint8_t FNumber = 1;
    ByteString FCurrent;          // the block (or EOT) last sent, for a resend
    std::size_t FCurrentData = 0; // file bytes in it
    int FSends = 0;               // of the current block
    std::size_t FCancels = 0;     // CANs in a row from the receiver
    std::uint64_t FFileLeft = 0;  // YMODEM: bytes still to send of this file
};

} // namespace kestrune
