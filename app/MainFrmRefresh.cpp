#include "app/MainFrm.h"

#include "app/Dialogs.h"
#include "codec/DataMode.h"
#include "codec/EscChar.h"
#include "exchange/CommLog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <functional>

namespace kestrune {

namespace {

// Calls `action` whenever the watched widget loses the focus to another widget
// of the window. QLineEdit::editingFinished is no substitute: it stays silent
// when the text has not changed since it last fired, so an invalid size would be
// refused only once.
class TFocusLeaveFilter : public QObject
{
public:
    TFocusLeaveFilter(QObject *parent, std::function<void()> action)
        : QObject(parent), FAction(std::move(action))
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::FocusOut) {
            // Switching windows or opening a menu keeps the focus inside the edit.
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                FAction();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> FAction;
};

} // namespace

void TfrmMain::ConnectRefreshHandlers()
{
    edtBufSize->installEventFilter(new TFocusLeaveFilter(
        edtBufSize, [this] { dialogs::Guarded([this] { edtBufSizeExit(); }); }));
    connect(cboDataMode, &QComboBox::currentIndexChanged, this, [this] { cboDataModeChange(); });
    connect(cboEscChar, &QComboBox::currentIndexChanged, this, [this] { cboEscCharChange(); });
    connect(cboCheck, &QComboBox::currentIndexChanged, this, [this] { cboCheckChange(); });
}

bool TfrmMain::WriteCommLog(int direction, const ByteString &bytes)
{
    const TFileResult result =
        kestrune::WriteCommLog(CommLogFileName, static_cast<std::uint8_t>(direction), bytes,
                               static_cast<TDataMode>(FDataMode), FEscChar);
    if (result.Ok())
        return true;
    const QString message = QStringLiteral("Cannot write the communication log \"%1\": %2")
                                .arg(QString::fromLatin1(CommLogFileName),
                                     QString::fromLocal8Bit(result.Error.c_str()));
    // Off before the box: the box's event loop goes on handling data, and no
    // record after a failed one may be attempted.
    chkLogToFile->setChecked(false);
    ShowStatusMessage(QStringLiteral("Logging stopped: ") + message);
    dialogs::ShowException(message);
    return false;
}

void TfrmMain::edtBufSizeExit()
{
    // Sizes past the 32-bit range come back negative too and are refused alike.
    const std::int32_t size = ParseSizeText(edtBufSize->text().toUtf8().toStdString());
    if (size < 0) {
        // The typed text stays, so the user can correct it.
        dialogs::ShowError(this, QStringLiteral("Input invalid."));
        edtBufSize->setFocus(Qt::OtherFocusReason);
        return;
    }
    // The histories are cut to the new limit at their next append.
    FBufSize = size;
}

void TfrmMain::cboDataModeChange()
{
    const int index = cboDataMode->currentIndex();
    // -1 while the list is being refilled.
    if (index < dmHex || index > dmMixed || index == FDataMode)
        return;
    FDataMode = static_cast<std::uint8_t>(index);
    // The representation changed: both views are redrawn even while paused.
    ScheduleViewRedraw(true, true, true);
    FlushViewRedraw();
    cboEscChar->setEnabled(FDataMode == dmMixed);
}

void TfrmMain::cboEscCharChange()
{
    const QByteArray text = cboEscChar->currentText().toUtf8();
    if (text.isEmpty() || text.front() == FEscChar)
        return;
    FEscChar = EscCharOrDefault(text.front());
    ScheduleViewRedraw(true, true, true);
    FlushViewRedraw();
}

void TfrmMain::cboCheckChange()
{
    const int index = cboCheck->currentIndex();
    if (index < 0)
        return;
    // Only the next frame sent with the Send button reads it.
    FCheck = static_cast<std::uint8_t>(index);
}

} // namespace kestrune
