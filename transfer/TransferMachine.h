#pragma once

#include "codec/ByteString.h"
#include "transfer/TransferFiles.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune {

enum class TTransferProtocol : std::uint8_t
{
    Raw,      // the file's bytes as they are
    Xmodem,   // 128-byte blocks, CRC or checksum as the receiver asks
    Xmodem1K, // 1024-byte blocks, 128 for a short tail
    Ymodem    // batch of files with name and size, 1024-byte blocks
};

enum class TTransferState : std::uint8_t
{
    Running,
    Done,
    Failed
};

// How long each side waits for the other. The defaults are the protocols' own;
// a shorter try time suits a fast local link (and tests).
struct TTransferTimeouts
{
    std::int64_t TryMs = 10'000;   // a try waits this long for the peer's answer
    int Tries = 10;                // sends of one block before giving up
    std::int64_t CharMs = 1'000;   // the longest silence inside one block
    std::int64_t StartMs = 60'000; // the most either side waits for the other to begin
    std::int64_t PromptMs = 3'000; // a receiver asks again this often until the sender begins

    // The defaults scaled to a try time of `tryMs`.
    [[nodiscard]] static TTransferTimeouts WithTry(std::int64_t tryMs);
    // A wait as a person reads it: "60 s", "600 ms".
    [[nodiscard]] static std::string Text(std::int64_t ms);
};

// One side of a transfer. The caller feeds the bytes that arrive and the time
// (milliseconds of a monotonic clock), sends what TakeOutput() gives, and calls
// Tick() once Deadline() has come. No I/O of its own beyond its file callbacks.
class TTransferMachine
{
public:
    TTransferMachine() = default;
    TTransferMachine(const TTransferMachine &) = delete;
    TTransferMachine &operator=(const TTransferMachine &) = delete;
    virtual ~TTransferMachine() = default;

    virtual void Start(std::int64_t nowMs) = 0;
    virtual void Feed(std::string_view bytes, std::int64_t nowMs) = 0;
    virtual void Tick(std::int64_t nowMs) = 0;
    // The user's cancel: the peer is told (CAN CAN) and the transfer fails.
    virtual void Cancel() = 0;
    // True when output must wait until the line has sent what it holds
    // (a paced send); a protocol answers at once.
    [[nodiscard]] virtual bool WaitsForDrain() const { return false; }

    // Bytes to send now; empty when there are none.
    [[nodiscard]] ByteString TakeOutput();
    [[nodiscard]] std::optional<std::int64_t> Deadline() const { return FDeadline; }
    [[nodiscard]] TTransferState State() const { return FState; }
    [[nodiscard]] bool Running() const { return FState == TTransferState::Running; }
    // Why it failed, or what it did, in one sentence.
    [[nodiscard]] const std::string &Message() const { return FMessage; }
    // File bytes sent or stored so far, and the total when known.
    [[nodiscard]] std::uint64_t DoneBytes() const { return FDone; }
    [[nodiscard]] std::optional<std::uint64_t> TotalBytes() const { return FTotal; }
    // The file under way.
    [[nodiscard]] const std::string &FileName() const { return FFileName; }

protected:
    void Emit(std::string_view bytes) { FOutput.append(bytes); }
    void SetDeadline(std::optional<std::int64_t> at) { FDeadline = at; }
    void Succeed(std::string message);
    void Fail(std::string message);
    void AddDone(std::uint64_t bytes) { FDone += bytes; }
    void SetTotal(std::optional<std::uint64_t> total) { FTotal = total; }
    void SetFileName(std::string name) { FFileName = std::move(name); }
    // A sender's total and first file.
    void NoteFiles(const std::vector<TSendFile> &files)
    {
        SetTotal(TotalSize(files));
        if (!files.empty())
            SetFileName(files.front().Name);
    }

private:
    ByteString FOutput;
    std::optional<std::int64_t> FDeadline;
    TTransferState FState = TTransferState::Running;
    std::string FMessage;
    std::uint64_t FDone = 0;
    std::optional<std::uint64_t> FTotal;
    std::string FFileName;
};

} // namespace kestrune
