// Answer rules and received checks: the window's side.
#include "app/AnswerRulesBar.h"
#include "app/MainFrm.h"
#include "app/view/HistoryView.h"

#include <QLabel>
#include <QStatusBar>

namespace kestrune {

QWidget *TfrmMain::BuildAnswerRules()
{
    FAnswerBar = new TAnswerRulesBar(FEngine);
    FEngine.OnFramesJudged = [this] {
        FAnswerBar->ShowCounts();
        // A verdict comes a gap after its bytes: their prefix changes.
        mmoRecv->viewport()->update();
    };
    connect(FAnswerBar, &TAnswerRulesBar::verifyChanged, this,
            [this] { ScheduleViewRedraw(false, true, true); });
    return FAnswerBar;
}

void TfrmMain::AddJudgedPanes()
{
    statusBar()->addWidget(FAnswerBar->stpBad);
    statusBar()->addWidget(FAnswerBar->stpAnswered);
}

void TfrmMain::ShowAnswerSettings()
{
    FAnswerBar->SetDialogFolder(FOpenDialogFolder, FOpenDialogFilter);
    FAnswerBar->ShowSettings();
}

} // namespace kestrune
