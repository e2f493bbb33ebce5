// The capture check box ("Capture to file...") and the views' CSV export.
#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "app/view/HistoryView.h"
#include "exchange/FrameCsv.h"
#include "exchange/LogFiles.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QSignalBlocker>

#include <cstring>

namespace kestrune {

void TfrmMain::ConnectCaptureHandlers()
{
    connect(chkCapture, &QCheckBox::toggled, this, [this](bool on) { chkCaptureClick(on); });
    FEngine.OnCaptureStopped = [this](const std::string &message) {
        ShowCaptureStopped(QString::fromUtf8(message));
    };
    for (THistoryView *view : {mmoRecv, mmoSend}) {
        const bool send = view == mmoSend;
        connect(view, &THistoryView::exportCsvRequested, this,
                [this, send] { ExportFramesCsv(send); });
    }
}

void TfrmMain::ShowCaptureSettings()
{
    const TGeneralSettings &g = FEngine.General();
    chkCapture->setToolTip(QString::fromUtf8(g.CaptureFile));
    if (!g.CaptureToFile)
        return;
    // A capture saved as on goes on without asking again, into a file of
    // its own: the last run's capture is never written over.
    std::string file = g.CaptureFile;
    for (int n = 1; QFileInfo::exists(QString::fromUtf8(file)); ++n)
        file = NumberedPath(g.CaptureFile, n);
    chkCapture->setToolTip(QString::fromUtf8(file));
    const std::string error = FEngine.SetCapture(file);
    const QSignalBlocker blocker(chkCapture);
    chkCapture->setChecked(error.empty());
    if (!error.empty())
        ShowCaptureStopped(QString::fromUtf8(error));
}

void TfrmMain::chkCaptureClick(bool on)
{
    TGeneralSettings &g = FEngine.General();
    if (!on) {
        (void)FEngine.SetCapture({});
        g.CaptureToFile = false;
        return;
    }
    const QString folder = QFileInfo(QString::fromUtf8(g.CaptureFile)).absolutePath();
    const QString file = dialogs::GetSaveFileName(
        this, folder, QStringLiteral("pcapng captures (*.pcapng);;All files (*)"));
    if (const std::string error = file.isEmpty() ? "" : FEngine.SetCapture(file.toStdString());
        file.isEmpty() || !error.empty()) {
        const QSignalBlocker blocker(chkCapture);
        chkCapture->setChecked(false);
        if (!error.empty())
            dialogs::ShowError(this, QString::fromUtf8(error));
        return;
    }
    g.CaptureToFile = true;
    g.CaptureFile = file.toStdString();
    chkCapture->setToolTip(file);
}

void TfrmMain::ShowCaptureStopped(const QString &message)
{
    {
        const QSignalBlocker blocker(chkCapture);
        chkCapture->setChecked(false);
    }
    FEngine.General().CaptureToFile = false;
    ShowStatusMessage(QStringLiteral("Capture stopped: ") + message);
    dialogs::ShowError(this, message);
}

void TfrmMain::ExportFramesCsv(bool send)
{
    const QString file = dialogs::GetSaveFileName(
        this, QString(), QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (file.isEmpty())
        return;
    const int error =
        WriteFramesCsv(file.toStdString(), send ? FEngine.SendHistory() : FEngine.RecvHistory(),
                       send ? FEngine.SendFrames() : FEngine.RecvFrames(), send);
    if (error != 0)
        dialogs::ShowError(this, QStringLiteral("Could not save \"%1\": %2.")
                                     .arg(file, QString::fromLocal8Bit(std::strerror(error))));
}

} // namespace kestrune
