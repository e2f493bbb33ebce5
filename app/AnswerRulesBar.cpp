#include "app/AnswerRulesBar.h"

#include "app/Dialogs.h"
#include "app/WidgetKit.h"
#include "engine/Engine.h"

#include <QCheckBox>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSignalBlocker>

namespace kestrune {

TAnswerRulesBar::TAnswerRulesBar(TEngine &engine, QWidget *parent)
    : QWidget(parent), FEngine(engine)
{
    setObjectName(QStringLiteral("pnlAnswerRules"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    chkAnswerRules = named(new QCheckBox(QStringLiteral("Answer by rules")), "chkAnswerRules");
    btnRulesFile = named(new QPushButton(QStringLiteral("Rules...")), "btnRulesFile");
    chkVerifyChecks =
        named(new QCheckBox(QStringLiteral("Verify received checks")), "chkVerifyChecks");
    row->addWidget(chkAnswerRules);
    row->addWidget(btnRulesFile);
    row->addWidget(chkVerifyChecks);

    stpBad = paneLabel("stpBad", 60);
    stpAnswered = paneLabel("stpAnswered", 100);
    const auto resetOnDoubleClick = [this](QEvent *event) {
        if (event->type() == QEvent::MouseButtonDblClick) {
            FEngine.ResetJudgedCounts();
            ShowCounts();
        }
        return false;
    };
    HookEvents(stpBad, resetOnDoubleClick);
    HookEvents(stpAnswered, resetOnDoubleClick);

    connect(chkAnswerRules, &QCheckBox::toggled, this, [this](bool on) { AnswerToggled(on); });
    connect(btnRulesFile, &QPushButton::clicked, this, [this] { ChooseFile(); });
    connect(chkVerifyChecks, &QCheckBox::toggled, this, [this](bool on) {
        FEngine.SetVerifyChecks(on);
        ShowCounts();
        emit verifyChanged();
    });
    ShowSettings();
}

void TAnswerRulesBar::SetDialogFolder(const QString &folder, const QString &filter)
{
    FFolder = folder;
    FFilter = filter;
}

void TAnswerRulesBar::ShowSettings()
{
    const TGeneralSettings &g = FEngine.General();
    SetAnswerBox(g.AnswerRules);
    {
        const QSignalBlocker blocker(chkVerifyChecks);
        chkVerifyChecks->setChecked(g.VerifyChecks);
    }
    ShowFile();
    ShowCounts();
}

void TAnswerRulesBar::SetAnswerBox(bool on)
{
    const QSignalBlocker blocker(chkAnswerRules);
    chkAnswerRules->setChecked(on);
}

void TAnswerRulesBar::ShowFile()
{
    const QString path = QFile::decodeName(FEngine.General().AnswerRulesFile.c_str());
    btnRulesFile->setText(path.isEmpty() ? QStringLiteral("Rules...")
                                         : QFileInfo(path).fileName() + QStringLiteral("..."));
    btnRulesFile->setToolTip(path.isEmpty() ? QStringLiteral("Choose the rules file") : path);
}

bool TAnswerRulesBar::ChooseFile()
{
    const QString path = dialogs::GetOpenFileName(this, FFolder, FFilter);
    if (path.isEmpty())
        return false;
    if (const auto error = FEngine.SetAnswerRules(QFile::encodeName(path).toStdString())) {
        dialogs::ShowException(QString::fromLocal8Bit(error->c_str()));
        return false;
    }
    SetAnswerBox(true);
    ShowFile();
    ShowCounts();
    return true;
}

void TAnswerRulesBar::AnswerToggled(bool on)
{
    // Turned on without a file: the file comes first, or answering stays off.
    if (on && FEngine.General().AnswerRulesFile.empty()) {
        if (!ChooseFile())
            SetAnswerBox(false);
        return;
    }
    if (const auto error = FEngine.SetAnswering(on)) {
        SetAnswerBox(false);
        dialogs::ShowException(QString::fromLocal8Bit(error->c_str()));
    }
    ShowCounts();
}

void TAnswerRulesBar::ShowCounts()
{
    const TGeneralSettings &g = FEngine.General();
    stpBad->setVisible(g.VerifyChecks);
    stpBad->setText(QStringLiteral("Bad: %1").arg(FEngine.BadFrames()));
    stpBad->setToolTip(QStringLiteral("Frames whose check failed (double click: reset)"));
    stpAnswered->setVisible(g.AnswerRules);
    stpAnswered->setText(QStringLiteral("Answered: %1").arg(FEngine.AnsweredFrames()));
    QString hits;
    const TAnswerRules &rules = FEngine.AnswerRules();
    for (std::size_t i = 0; i < rules.Rules().size(); ++i)
        hits +=
            QStringLiteral("Line %1: %2 hits\n").arg(rules.Rules()[i].Line).arg(rules.Hits()[i]);
    stpAnswered->setToolTip(hits.isEmpty() ? QStringLiteral("No rules") : hits.trimmed());
}

} // namespace kestrune
