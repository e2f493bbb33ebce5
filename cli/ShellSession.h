#pragma once

#include "cli/CliOptions.h"
#include "cli/FramePrinter.h"
#include "engine/Engine.h"

#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <optional>

namespace kestrune {

// One run of `kestrune run`, `bridge`, `send` or `receive` on an engine: it prints the
// frames and messages, follows the command list and decides the exit status.
class TShellSession
{
public:
    TShellSession(const TCliOptions &options, TSettings settings, std::FILE *out, std::FILE *err);
    TShellSession(const TShellSession &) = delete;
    TShellSession &operator=(const TShellSession &) = delete;
    ~TShellSession();

    // Runs until the command is over; the exit status.
    int Exec();
    // A termination signal arrived.
    void Terminate(int signal);

private:
    void Wire();
    void Message(const std::string &text);
    void Finish(int status);
    void StartListWhenReady();
    void StartTransferWhenReady();
    void TransferEnded(TTransferEnd end, const std::string &message);
    void ListEnded();
    void StartDrain();
    void DrainStep();
    void AwaitDrainThenFinish(int status);
    void PrintFrames();
    [[nodiscard]] bool WholeFrames(std::uint16_t origin) const;
    [[nodiscard]] int SilenceMs() const;

    const TCliOptions &FOptions;
    std::FILE *FOut;
    std::FILE *FErr;
    TEngine FEngine;
    std::unique_ptr<TFramePrinter> FRecvPrinter;
    std::unique_ptr<TFramePrinter> FSendPrinter;
    QTimer FSilence;             // flushes a serial frame after its silence
    QTimer FDeadline;            // --timeout
    QTimer FDrain;               // polls the main channel's queue before the end
    std::size_t FDeviceLeft = 0; // what the device held at its last progress
    QElapsedTimer FDeviceClock;  // since then
    bool FListStarted = false;
    bool FFileFailed = false; // the command list could not be read on
    bool FReplyMissed = false;
    std::string FCaptureError; // --capture's file could not be created
    bool FTransferStarted = false;
    bool FTransferFailed = false;
    bool FTransferOver = false; // done or failed, before any channel went
    std::optional<int> FStatus;
};

} // namespace kestrune
