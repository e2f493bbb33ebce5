#include "app/MainFrm.h"

#include "app/Dialogs.h"
#include "app/StatusLamp.h"
#include "app/Timer.h"
#include "exchange/CommandList.h"
#include "exchange/StatusTexts.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

namespace kestrune {

namespace {

// Lines run per turn of the event loop: enough to be quick, few enough that
// a list of a million lines leaves the window responsive.
constexpr int LinesPerTurn = 64;
// A send line waits while more than this waits for the main channel, so a
// peer that does not read cannot make the queue grow without limit.
constexpr std::size_t SendQueueLimit = 1024 * 1024;

QString Text(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

void TfrmMain::ConnectCommandListHandlers()
{
    // toggled, not clicked: a check set from code acts like a click, as the
    // settings and the tests rely on.
    connect(chkAutoSend, &QCheckBox::toggled, this, [this] { chkAutoSendClick(); });
    connect(edtSendPeriod, &QSpinBox::editingFinished, this, [this] { edtSendPeriodExit(); });
    connect(btnCmdSequ, &QPushButton::clicked, this,
            [this] { dialogs::Guarded([this] { btnCmdSequClick(); }); });
    tmrAutoSend->OnTimer = [this] { dialogs::Guarded([this] { tmrAutoSendTimer(); }); };
    tmrCmdSequ->OnTimer = [this] { dialogs::Guarded([this] { tmrCmdSequTimer(); }); };
}

void TfrmMain::chkAutoSendClick()
{
    if (chkAutoSend->isChecked()) {
        // A period below 1 ms leaves the timer unarmed (TTimer), so nothing is sent.
        tmrAutoSend->SetInterval(edtSendPeriod->value());
        tmrAutoSend->SetEnabled(true);
    } else {
        tmrAutoSend->SetEnabled(false);
    }
}

void TfrmMain::edtSendPeriodExit()
{
    tmrAutoSend->SetInterval(edtSendPeriod->value());
}

void TfrmMain::tmrAutoSendTimer()
{
    btnSendClick();
}

void TfrmMain::btnCmdSequClick()
{
    if (CommandListRunning()) {
        // stpMain keeps the last progress text.
        EndCommandList();
        return;
    }
    const QString path = dialogs::GetOpenFileName(this, FOpenDialogFolder, FOpenDialogFilter);
    if (path.isEmpty())
        return;
    if (const auto error = FCmdFile.Open(QFile::encodeName(path).toStdString())) {
        dialogs::ShowException(QStringLiteral("Cannot open the command file \"%1\": %2")
                                   .arg(path, QString::fromLocal8Bit(error->c_str())));
        return;
    }
    if (FCmdFile.AtEnd()) {
        FCmdFile.Close();
        return;
    }
    FListRunning = true;
    ++FListRun;
    btnCmdSequ->setText(Text(CmdListRunningCaption));
    btnSend->setEnabled(false);
    // Auto send stays off after the list, although its box stays checked.
    tmrAutoSend->SetEnabled(false);
    RunCommandListStep();
}

void TfrmMain::RunCommandListStep()
{
    // Whoever resumed the list has stopped the timer; stopping it here as well
    // makes sure a new wait starts a fresh count.
    tmrCmdSequ->SetEnabled(false);
    for (int lines = 0;; ++lines) {
        if (!FListRunning)
            return;
        if (lines == LinesPerTurn) {
            // The rest on a later turn, after what is waiting to be handled.
            QTimer::singleShot(0, this, [this, run = FListRun] {
                if (FListRunning && FListRun == run && !FWaitingDrain && !FWaitingReply &&
                    !tmrCmdSequ->Enabled())
                    dialogs::Guarded([this] { RunCommandListStep(); });
            });
            return;
        }
        if (FSession.IsOpen() && FSession.MainQueuedBytes() > SendQueueLimit) {
            // Resumed by the main channel's drained event.
            FWaitingDrain = true;
            return;
        }
        std::optional<TCommandLine> command;
        try {
            command = NextCommand(FCmdFile);
        } catch (...) {
            // The reader has closed the file; leave no half-running list behind.
            EndCommandList();
            throw;
        }
        if (!command) {
            FCmdFile.Close();
            FListRunning = false;
            btnCmdSequ->setText(Text(CmdListIdleCaption));
            btnSend->setEnabled(MainChannelCanSend());
            stpMain->setText(Text(CmdListFinishedText));
            return;
        }

        switch (command->Kind) {
        case TCmdLineKind::lkSend:
            // A frame that did not go out ends the list: the lines after it
            // would go out with a gap in the sequence. Never written to a
            // closed channel either.
            if (!TransmitData(CommandBytes(*command, FEscChar))) {
                EndCommandList();
                return;
            }
            continue;
        case TCmdLineKind::lkReply:
            FWaitingReply = true;
            FReplyMatcher.Begin(CommandBytes(*command, FEscChar));
            // Without a time-out the list waits for the reply as long as it
            // takes; Cancel or Stop ends the wait.
            if (command->N >= 1) {
                tmrCmdSequ->SetInterval(command->N);
                tmrCmdSequ->SetEnabled(true);
            }
            stpMain->setText(Text(CmdListReplyText(command->N)));
            return;
        case TCmdLineKind::lkDelay:
            FWaitingReply = false;
            FReplyMatcher.Cancel();
            if (command->N >= 1) {
                tmrCmdSequ->SetInterval(command->N);
                tmrCmdSequ->SetEnabled(true);
            }
            stpMain->setText(Text(CmdListDelayText(command->N)));
            return;
        }
    }
}

void TfrmMain::tmrCmdSequTimer()
{
    tmrCmdSequ->SetEnabled(false);
    FWaitingReply = false;
    FReplyMatcher.Cancel();
    RunCommandListStep();
}

void TfrmMain::ReplyArrived()
{
    tmrCmdSequ->SetEnabled(false);
    FWaitingReply = false;
    FReplyMatcher.Cancel();
    // Runs inside a transport's receive event: an error ends this step here
    // instead of unwinding through the transport.
    dialogs::Guarded([this] { RunCommandListStep(); });
}

void TfrmMain::EndCommandList()
{
    FWaitingReply = false;
    FWaitingDrain = false;
    FReplyMatcher.Cancel();
    tmrCmdSequ->SetEnabled(false);
    FCmdFile.Close();
    // Send is enabled again only when a list gave it up, so a Stop with no list
    // running leaves it as the channel code set it.
    if (!FListRunning)
        return;
    FListRunning = false;
    btnCmdSequ->setText(Text(CmdListIdleCaption));
    btnSend->setEnabled(MainChannelCanSend());
}

} // namespace kestrune
