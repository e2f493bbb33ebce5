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

namespace kestrune {

namespace {

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

bool TfrmMain::CommandListRunning() const
{
    return btnCmdSequ->text() != Text(CmdListIdleCaption);
}

bool TfrmMain::MainChannelCanSend() const
{
    // The lamp is lime while the main channel is open with a peer to send to; a
    // TCP server whose client left during the list shows green and keeps Send off.
    return FMainChannel.Transport && shpCommStatus->Color() == LampLime;
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
    for (;;) {
        if (!CommandListRunning())
            return;
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
            btnCmdSequ->setText(Text(CmdListIdleCaption));
            btnSend->setEnabled(MainChannelCanSend());
            stpMain->setText(Text(CmdListFinishedText));
            return;
        }

        switch (command->Kind) {
        case TCmdLineKind::lkSend: {
            if (!FMainChannel.Transport) {
                // Never write to a closed channel.
                EndCommandList();
                return;
            }
            const std::int64_t packetsBefore = FSendPackets;
            TransmitData(CommandBytes(*command, FEscChar));
            // A frame that could not be logged is neither sent nor counted; the
            // lines after it would go out with a gap in the sequence, so the list
            // ends there. The error box may also have let the channels close.
            if (FSendPackets == packetsBefore) {
                EndCommandList();
                return;
            }
            continue;
        }
        case TCmdLineKind::lkReply:
            if (command->N >= 1) {
                FWaitingReply = true;
                FReplyMatcher.Begin(CommandBytes(*command, FEscChar));
                tmrCmdSequ->SetInterval(command->N);
                tmrCmdSequ->SetEnabled(true);
            } else {
                // No time-out: nothing is armed and the list waits for Cancel.
                FWaitingReply = false;
                FReplyMatcher.Cancel();
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
    FReplyMatcher.Cancel();
    tmrCmdSequ->SetEnabled(false);
    FCmdFile.Close();
    // Send is enabled again only when a list gave it up, so a Stop with no list
    // running leaves it as the channel code set it.
    if (!CommandListRunning())
        return;
    btnCmdSequ->setText(Text(CmdListIdleCaption));
    btnSend->setEnabled(MainChannelCanSend());
}

} // namespace kestrune
