#include "app/view/HistoryExport.h"

#include "app/view/HistorySave.h"
#include "app/view/HistoryView.h"

#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>

#include <cstring>

namespace kestrune {

TShownText THistoryExport::Shown() const
{
    return TShownText(FView.Layout(), FView.OriginColumn(), FView.OriginTags(), FView.BadFrames());
}

bool THistoryExport::WholeSelected() const
{
    return FView.SelectionStart() <= FView.Layout().TextBegin() &&
           FView.SelectionEnd() >= FView.Layout().TextEnd();
}

bool THistoryExport::SelectionTooLarge() const
{
    return Shown().Length(FView.SelectionStart(), FView.SelectionEnd(), WholeSelected(),
                          ClipboardLimit + 1) > ClipboardLimit;
}

void THistoryExport::Copy() const
{
    // An empty selection leaves the clipboard alone rather than wiping it.
    if (!FView.HasSelection())
        return;
    if (SelectionTooLarge()) {
        Report(THistoryView::tr(
                   "The selection is too large to copy: its text is more than %1 MiB.\n"
                   "Use \"Save As...\" in this view's context menu to write it to a file.")
                   .arg(ClipboardLimit >> 20),
               false);
        return;
    }
    QGuiApplication::clipboard()->setText(FView.SelectedText());
}

void THistoryExport::SetPrimarySelection() const
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (FView.HasSelection() && clipboard->supportsSelection() && !SelectionTooLarge())
        clipboard->setText(FView.SelectedText(), QClipboard::Selection);
}

void THistoryExport::SaveAs() const
{
    QString fileName;
    if (FAskFileName)
        fileName = FAskFileName();
    else
        fileName =
            QFileDialog::getSaveFileName(&FView, THistoryView::tr("Save As"), QDir::homePath(),
                                         THistoryView::tr("Text files (*.txt);;All files (*)"));
    if (!fileName.isEmpty())
        SaveText(fileName);
}

bool THistoryExport::SaveText(const QString &fileName) const
{
    const bool selected = FView.HasSelection();
    const TTextPos from = selected ? FView.SelectionStart() : FView.Layout().TextBegin();
    const TTextPos to = selected ? FView.SelectionEnd() : FView.Layout().TextEnd();
    const int error = SaveShownText(Shown(), from, to, !selected || WholeSelected(),
                                    fileName.toUtf8().toStdString());
    if (error != 0) {
        Report(THistoryView::tr("Could not save \"%1\": %2.")
                   .arg(fileName, QString::fromLocal8Bit(std::strerror(error))),
               true);
    }
    return error == 0;
}

void THistoryExport::Report(const QString &text, bool error) const
{
    if (FReport) {
        FReport(text, error);
        return;
    }
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::Information,
                    error ? THistoryView::tr("Error") : THistoryView::tr("Copy"), text,
                    QMessageBox::Ok, &FView);
    box.exec();
}

} // namespace kestrune
