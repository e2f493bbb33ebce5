// The history size, the representation of the views, and the log box.
#include "app/MainFrm.h"

#include "app/Dialogs.h"
#include "app/LogFileDialog.h"
#include "app/WidgetKit.h"
#include "codec/DataMode.h"
#include "codec/EscChar.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

namespace kestrune {

void TfrmMain::ConnectRefreshHandlers()
{
    OnFocusLeave(edtBufSize, [this] { dialogs::Guarded([this] { edtBufSizeExit(); }); });
    // Kept as typed, also while it is no size, as the file keeps it.
    connect(edtBufSize, &QLineEdit::textChanged, this, [this](const QString &text) {
        FEngine.General().BufSizeText = text.toUtf8().toStdString();
    });
    connect(cboDataMode, &QComboBox::currentIndexChanged, this, [this] { cboDataModeChange(); });
    connect(cboEscChar, &QComboBox::currentIndexChanged, this, [this] { cboEscCharChange(); });
    connect(chkLogToFile, &QCheckBox::toggled, this, [this](bool on) { FEngine.SetLogToFile(on); });
    // The log's folder, name and size, from the box's context menu.
    auto *logFile = new QAction(QStringLiteral("Log file..."), chkLogToFile);
    logFile->setObjectName(QStringLiteral("pmiLogFile"));
    chkLogToFile->addAction(logFile);
    chkLogToFile->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(logFile, &QAction::triggered, this, [this] { EditLogFile(); });
}

void TfrmMain::EditLogFile()
{
    TLogFileDialog dialog(FEngine.General(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    dialog.Store(FEngine.General());
    FEngine.RenameLog();
}

void TfrmMain::ShowLogStopped(const std::string &message)
{
    {
        const QSignalBlocker blocker(chkLogToFile);
        chkLogToFile->setChecked(false);
    }
    const QString text = QString::fromUtf8(message);
    ShowStatusMessage(QStringLiteral("Logging stopped: ") + text);
    dialogs::ShowException(text);
}

void TfrmMain::edtBufSizeExit()
{
    if (!FEngine.SetBufSizeText(edtBufSize->text().toUtf8().toStdString())) {
        // The typed text stays, so the user can correct it.
        dialogs::ShowError(this, QStringLiteral("Input invalid: Maximum History \"%1\" is not a "
                                                "size (a number, k or M after it: 64k, 2M).")
                                     .arg(edtBufSize->text()));
        edtBufSize->setFocus(Qt::OtherFocusReason);
    }
}

void TfrmMain::cboDataModeChange()
{
    const int index = cboDataMode->currentIndex();
    TGeneralSettings &g = FEngine.General();
    // -1 while the list is being refilled.
    if (index < dmHex || index > dmMixed || index == g.DataMode)
        return;
    g.DataMode = static_cast<std::uint8_t>(index);
    // The representation changed: both views are redrawn even while paused.
    ScheduleViewRedraw(true, true, true);
    FlushViewRedraw();
    cboEscChar->setEnabled(g.DataMode == dmMixed);
}

void TfrmMain::cboEscCharChange()
{
    const int index = cboEscChar->currentIndex();
    TGeneralSettings &g = FEngine.General();
    if (index < 0 || index == g.EscCharIndex)
        return;
    g.EscCharIndex = static_cast<std::uint8_t>(index);
    ScheduleViewRedraw(true, true, true);
    FlushViewRedraw();
}

} // namespace kestrune
