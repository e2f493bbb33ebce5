// The command list as a state machine: sending its lines, waiting for a reply
// or a delay, waiting for the main channel's queue to drain, and ending.
#include "engine/Engine.h"

#include "engine/Timer.h"
#include "exchange/CommandList.h"
#include "exchange/StatusTexts.h"

namespace kestrune {

namespace {

// Lines run per turn of the event loop: enough to be quick, few enough that
// a list of a million lines leaves the program responsive.
constexpr int LinesPerTurn = 64;

} // namespace

void TEngine::SetListState(TListState state)
{
    if (FListState == state)
        return;
    FListState = state;
    if (OnListStateChanged)
        OnListStateChanged(state);
}

void TEngine::ListProgress(const std::string &text)
{
    if (OnListProgress)
        OnListProgress(text);
}

std::optional<std::string> TEngine::StartList(const std::string &path)
{
    if (ListRunning())
        return std::nullopt;
    if (TransferRunning())
        return std::string("a file transfer is running");
    if (auto error = FCmdFile.Open(path))
        return error;
    if (FCmdFile.AtEnd()) {
        FCmdFile.Close();
        return std::nullopt;
    }
    // Auto send stays off after the list, although it stays chosen.
    FAutoSendTimer->SetEnabled(false);
    SetListState(TListState::Sending);
    RunListSteps();
    return std::nullopt;
}

void TEngine::CancelList()
{
    const bool running = ListRunning();
    EndList();
    // The last wait is over: the pane must not go on showing it.
    if (running)
        ListProgress("Command list cancelled.");
}

void TEngine::RunListSteps()
{
    // Whoever resumed the list has stopped the timer; stopping it here as well
    // makes sure a new wait starts a fresh count.
    FListTimer->SetEnabled(false);
    FListContinue->stop();
    if (!ListRunning())
        return;
    SetListState(TListState::Sending);
    try {
        RunListLines();
    } catch (const std::exception &e) {
        // A line that cannot be read or turned into bytes ends the list: no
        // half-running list is left behind.
        EndList();
        Report(TEngineError::Failure, e.what());
    }
}

void TEngine::RunListLines()
{
    for (int lines = 0;; ++lines) {
        if (FListState != TListState::Sending)
            return;
        if (lines == LinesPerTurn) {
            // The rest on a later turn, after what is waiting to be handled.
            FListContinue->start();
            return;
        }
        if (FSession.IsOpen() && FSession.MainQueuedBytes() > SendQueueLimit) {
            // Resumed by the main channel's drained event, or ended when the
            // link loses its peer (and with it the queue).
            SetListState(TListState::WaitingDrain);
            return;
        }
        const std::optional<TCommandLine> command = NextCommand(FCmdFile);
        if (!command) {
            FCmdFile.Close();
            SetListState(TListState::Idle);
            ListProgress(std::string(CmdListFinishedText));
            return;
        }
        switch (command->Kind) {
        case TCmdLineKind::lkSend:
            // A frame that did not go out ends the list: the lines after it
            // would go out with a gap in the sequence.
            if (!Transmit(CommandBytes(*command, FSettings.General.EscChar(),
                                       FSettings.General.Encoding)))
                EndList();
            continue;
        case TCmdLineKind::lkReply:
            FReplyMatcher.Begin(
                CommandBytes(*command, FSettings.General.EscChar(), FSettings.General.Encoding));
            FReplyLine = *command;
            FReplyLineNumber = FCmdFile.LineNumber();
            SetListState(TListState::WaitingReply);
            // Without a time-out the list waits for the reply as long as it
            // takes; Cancel or Stop ends the wait.
            if (command->N >= 1) {
                FListTimer->SetInterval(command->N);
                FListTimer->SetEnabled(true);
            }
            ListProgress(CmdListReplyText(command->N));
            return;
        case TCmdLineKind::lkDelay:
            // A pause of nothing is no pause.
            if (command->N < 1)
                continue;
            SetListState(TListState::Pausing);
            FListTimer->SetInterval(command->N);
            FListTimer->SetEnabled(true);
            ListProgress(CmdListDelayText(command->N));
            return;
        }
    }
}

void TEngine::ListWaitOver()
{
    FListTimer->SetEnabled(false);
    FReplyMatcher.Cancel();
    RunListSteps();
}

void TEngine::ListTimeUp()
{
    if (FListState == TListState::WaitingReply && OnReplyMissed)
        OnReplyMissed(FReplyLineNumber, FReplyLine.Data, FReplyLine.N);
    ListWaitOver();
}

void TEngine::LinkChangedForList()
{
    // A link that lost its peer dropped its queue with it, and no drained
    // event will come: the list ends as a refused send ends it.
    if (FListState == TListState::WaitingDrain && !FSession.MainCanSend()) {
        EndList();
        Status("The command list ended: the main channel lost its peer while frames waited.");
    }
}

void TEngine::EndList()
{
    FListTimer->SetEnabled(false);
    FListContinue->stop();
    FReplyMatcher.Cancel();
    FCmdFile.Close();
    if (!ListRunning())
        return;
    SetListState(TListState::Cancelling);
    SetListState(TListState::Idle);
}

} // namespace kestrune
