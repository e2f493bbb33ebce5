#include "transfer/XmodemSender.h"

#include "transfer/XmodemBlock.h"

#include <stdexcept>

namespace kestrune {

using namespace xmodem;

TXmodemSender::TXmodemSender(TTransferProtocol protocol, std::vector<TSendFile> files,
                             TTransferTimeouts timeouts)
    : FProtocol(protocol), FFiles(std::move(files)), FTimeouts(timeouts)
{
    NoteFiles(FFiles);
}

void TXmodemSender::Start(std::int64_t nowMs)
{
    if (FFiles.empty() || (!Batch() && FFiles.size() > 1)) {
        Fail(FFiles.empty() ? "No file to send." : "XMODEM sends one file at a time.");
        return;
    }
    FStep = TStep::WaitStart;
    SetDeadline(nowMs + FTimeouts.StartMs);
}

void TXmodemSender::Feed(std::string_view bytes, std::int64_t nowMs)
{
    for (const char byte : bytes) {
        if (!Running())
            return;
        Answer(byte, nowMs);
    }
}

void TXmodemSender::Answer(char byte, std::int64_t nowMs)
{
    if (byte == CAN) {
        // Two in a row: one alone may be line noise.
        if (++FCancels >= 2)
            Fail("The receiver cancelled the transfer.");
        return;
    }
    FCancels = 0;
    switch (FStep) {
    case TStep::WaitStart:
        if (byte != CRC_REQUEST && byte != NAK)
            return;
        // The first file's request chooses the check for the whole transfer.
        if (FFile == 0 && FCurrent.empty())
            FCrc = byte == CRC_REQUEST;
        if (Batch())
            SendHeader(nowMs);
        else
            SendNextBlock(nowMs);
        return;
    case TStep::WaitDataStart:
        if (byte == CRC_REQUEST || byte == NAK)
            SendNextBlock(nowMs);
        return;
    case TStep::WaitHeaderAck:
    case TStep::WaitBlockAck:
    case TStep::WaitEotAck:
    case TStep::WaitBatchEndAck:
        if (byte == ACK) {
            if (FStep == TStep::WaitBatchEndAck) {
                Succeed("Sent " + std::to_string(FFiles.size()) + " file(s).");
            } else if (FStep == TStep::WaitHeaderAck) {
                FStep = TStep::WaitDataStart;
                FSends = 0;
                SetDeadline(nowMs + FTimeouts.TryMs);
            } else if (FStep == TStep::WaitEotAck) {
                FileDone(nowMs);
            } else {
                AddDone(FCurrentData);
                ++FNumber;
                SendNextBlock(nowMs);
            }
        } else if (byte == NAK) {
            Retry(nowMs, false);
        }
        // A 'C' here is a start request sent again before the first block
        // arrived: answering it would put the blocks out of step.
        return;
    }
}

void TXmodemSender::SendHeader(std::int64_t nowMs)
{
    if (FFile >= FFiles.size()) {
        FCurrent = Block(0, HeaderData({}), FCrc, '\0');
        FStep = TStep::WaitBatchEndAck;
    } else {
        const TSendFile &f = FFiles[FFile];
        const ByteString data = HeaderData({f.Name, f.Size, f.ModTime});
        FCurrent = Block(0, data, FCrc, '\0');
        FStep = TStep::WaitHeaderAck;
        FFileLeft = f.Size;
        FNumber = 1;
    }
    FCurrentData = 0;
    FSends = 0;
    SendCurrent(nowMs);
}

void TXmodemSender::SendNextBlock(std::int64_t nowMs)
{
    const std::size_t size = FProtocol == TTransferProtocol::Xmodem ? ShortBlock : LongBlock;
    std::string data(size, '\0');
    std::size_t got = 0;
    try {
        // A file must not give more than YMODEM's header announced.
        std::size_t want = size;
        if (Batch() && FFileLeft < want)
            want = static_cast<std::size_t>(FFileLeft);
        while (got < want) {
            const std::size_t n = FFiles[FFile].Read(data.data() + got, want - got);
            if (n == 0)
                break;
            got += n;
        }
    } catch (const std::exception &e) {
        Abort(e.what());
        return;
    }
    if (Batch())
        FFileLeft -= got;
    FSends = 0;
    if (got == 0) {
        FCurrent = ByteString(1, EOT);
        FCurrentData = 0;
        FStep = TStep::WaitEotAck;
    } else {
        // A short tail goes in a short block: less padding on the line.
        data.resize(got);
        FCurrent = Block(FNumber, data, FCrc);
        FCurrentData = got;
        FStep = TStep::WaitBlockAck;
    }
    SendCurrent(nowMs);
}

void TXmodemSender::SendCurrent(std::int64_t nowMs)
{
    // At once, as the answer comes: a pause here costs every block its length.
    ++FSends;
    Emit(FCurrent);
    SetDeadline(nowMs + FTimeouts.TryMs);
}

void TXmodemSender::Retry(std::int64_t nowMs, bool silence)
{
    if (FSends >= FTimeouts.Tries) {
        const std::string tries = std::to_string(FTimeouts.Tries);
        Abort(silence ? "The receiver did not answer after " + tries + " tries."
                      : "The receiver refused a block " + tries + " times.");
        return;
    }
    SendCurrent(nowMs);
}

void TXmodemSender::FileDone(std::int64_t nowMs)
{
    ++FFile;
    if (!Batch()) {
        Succeed("Sent \"" + FFiles.front().Name + "\".");
        return;
    }
    if (FFile < FFiles.size())
        SetFileName(FFiles[FFile].Name);
    // The receiver asks for the next block 0 (or the batch's end) with 'C'.
    FStep = TStep::WaitStart;
    FSends = 0;
    SetDeadline(nowMs + FTimeouts.TryMs * FTimeouts.Tries);
}

void TXmodemSender::Tick(std::int64_t nowMs)
{
    if (!Running() || !Deadline() || nowMs < *Deadline())
        return;
    switch (FStep) {
    case TStep::WaitStart:
        Abort(FFile == 0 ? "The receiver did not start the transfer within " +
                               TTransferTimeouts::Text(FTimeouts.StartMs) + "."
                         : "The receiver did not ask for the next file.");
        return;
    case TStep::WaitDataStart:
        // The receiver may have lost our block 0's ACK answer: send it again.
        FStep = TStep::WaitHeaderAck;
        Retry(nowMs, true);
        return;
    default:
        Retry(nowMs, true);
        return;
    }
}

void TXmodemSender::Abort(const std::string &message)
{
    Emit(CancelBytes());
    Fail(message);
}

void TXmodemSender::Cancel()
{
    if (Running())
        Abort("The transfer was cancelled.");
}

} // namespace kestrune
