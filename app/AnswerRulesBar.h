#pragma once

#include <QString>
#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;

namespace kestrune {

class TEngine;

// "Answer by rules" with its rules file and "Verify received checks", and the
// two status panes that count what they did: the window's side of the
// engine's frame judging. It reads and sets the engine's general settings.
class TAnswerRulesBar : public QWidget
{
    Q_OBJECT

public:
    TAnswerRulesBar(TEngine &engine, QWidget *parent = nullptr);

    // The boxes and the file as the engine's settings hold them.
    void ShowSettings();
    // The panes, after frames were judged or the counts reset.
    void ShowCounts();
    // Where the file dialog starts and what it offers.
    void SetDialogFolder(const QString &folder, const QString &filter);

    QCheckBox *chkAnswerRules = nullptr;
    QPushButton *btnRulesFile = nullptr;
    QCheckBox *chkVerifyChecks = nullptr;
    // For the status bar, beside the receive counter; double clicks reset them.
    QLabel *stpBad = nullptr;
    QLabel *stpAnswered = nullptr;

signals:
    // Verification was switched: the framed view gains or loses its marks.
    void verifyChanged();

private:
    // Asks for a rules file and answers by it; false when none was taken.
    bool ChooseFile();
    void AnswerToggled(bool on);
    void ShowFile();
    void SetAnswerBox(bool on);

    TEngine &FEngine;
    QString FFolder;
    QString FFilter;
};

} // namespace kestrune
