// Auto send and the command list: the window's side. The engine runs both.
#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "exchange/StatusTexts.h"

#include <QCheckBox>
#include <QFile>
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
    connect(chkAutoSend, &QCheckBox::toggled, this, [this](bool on) { FEngine.SetAutoSend(on); });
    connect(edtSendPeriod, &QSpinBox::valueChanged, this,
            [this](int period) { FEngine.General().AutoSendPeriod = period; });
    // A running auto send takes the period when the edit is done with, not
    // at every digit typed.
    connect(edtSendPeriod, &QSpinBox::editingFinished, this,
            [this] { FEngine.ApplyAutoSendPeriod(); });
    connect(btnCmdSequ, &QPushButton::clicked, this,
            [this] { dialogs::Guarded([this] { btnCmdSequClick(); }); });
}

void TfrmMain::btnCmdSequClick()
{
    if (FEngine.ListRunning()) {
        FEngine.CancelList();
        return;
    }
    const QString path = dialogs::GetOpenFileName(this, FOpenDialogFolder, FOpenDialogFilter);
    if (path.isEmpty())
        return;
    if (const auto error = FEngine.StartList(QFile::encodeName(path).toStdString())) {
        dialogs::ShowException(QStringLiteral("Cannot open the command file \"%1\": %2")
                                   .arg(path, QString::fromLocal8Bit(error->c_str())));
    }
}

void TfrmMain::ShowListState(TListState state)
{
    const bool running = state != TListState::Idle;
    btnCmdSequ->setText(Text(running ? CmdListRunningCaption : CmdListIdleCaption));
    btnSend->setEnabled(FEngine.CanSendTyped());
}

} // namespace kestrune
