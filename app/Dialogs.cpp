#include "app/Dialogs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMessageBox>
#include <cstdio>
#include <exception>

namespace kestrune::dialogs {

namespace {

TMessageHook &messageHook()
{
    static TMessageHook hook;
    return hook;
}

TOpenFileHook &openFileHook()
{
    static TOpenFileHook hook;
    return hook;
}

TStatusHook &statusHook()
{
    static TStatusHook hook;
    return hook;
}

// Boxes of ours now open. A handler that runs inside a box's event loop
// (data keeps arriving) must not stack a second box on the first.
int openBoxes = 0;

// The program was told to end: nobody may be there to answer a box.
bool exiting = false;

void toStandardError(const QString &caption, const QString &text)
{
    std::fprintf(stderr, "kestrune: %s: %s\n", qUtf8Printable(caption),
                 qUtf8Printable(text.simplified()));
}

QMessageBox::Icon toQt(TMsgIcon icon)
{
    switch (icon) {
    case TMsgIcon::Error:
        return QMessageBox::Critical;
    case TMsgIcon::Warning:
        return QMessageBox::Warning;
    case TMsgIcon::Information:
        break;
    }
    return QMessageBox::Information;
}

TSaveFileHook &saveFileHook()
{
    static TSaveFileHook hook;
    return hook;
}

// The folder of the file last chosen in a file dialog.
QString &lastFolder()
{
    static QString folder;
    return folder;
}

// Remembers where a chosen file lies; a cancelled dialog chose nothing.
QString Chosen(const QString &path)
{
    if (!path.isEmpty())
        lastFolder() = QFileInfo(path).absolutePath();
    return path;
}

// Where a file dialog starts: never in the program's own folder.
QString FileDialogFolder(const QString &folder)
{
    if (!lastFolder().isEmpty() && QFileInfo(lastFolder()).isDir())
        return lastFolder();
    const QString program = QDir(QCoreApplication::applicationDirPath()).canonicalPath();
    if (!folder.isEmpty() && QFileInfo(folder).isDir() && QDir(folder).canonicalPath() != program)
        return folder;
    return QDir::homePath();
}

} // namespace

void SetMessageHook(TMessageHook hook)
{
    messageHook() = std::move(hook);
}
void SetOpenFileHook(TOpenFileHook hook)
{
    openFileHook() = std::move(hook);
}

void SetStatusHook(TStatusHook hook)
{
    statusHook() = std::move(hook);
}

void SetSaveFileHook(TSaveFileHook hook)
{
    saveFileHook() = std::move(hook);
}

void SetExiting(bool exit)
{
    exiting = exit;
    if (!exiting)
        return;
    // Every dialog, ours or Qt's, with a parent or without: each one's exec
    // returns, and the code that opened it goes on towards the exit.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (auto *dialog = qobject_cast<QDialog *>(window); dialog && dialog->isVisible())
            dialog->reject();
    }
}

bool Exiting()
{
    return exiting;
}

void ShowMessage(QWidget *parent, const QString &caption, const QString &text, TMsgIcon icon)
{
    if (exiting) {
        toStandardError(caption, text);
        return;
    }
    if (openBoxes > 0) {
        if (statusHook())
            statusHook()(text);
        return;
    }
    ++openBoxes;
    struct TClose
    {
        ~TClose() { --openBoxes; }
    } closing;
    if (messageHook()) {
        messageHook()(caption, text, icon);
        return;
    }
    QMessageBox box(toQt(icon), caption, text, QMessageBox::Ok, parent);
    // A short text leaves the box narrower than its title, which the window
    // manager then cuts.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(box.fontMetrics().horizontalAdvance(caption) + 160, 0),
                      grid->rowCount(), 0, 1, grid->columnCount());
    box.exec();
}

void ShowException(const QString &message)
{
    ShowMessage(nullptr, QStringLiteral("Kestrune"), message, TMsgIcon::Error);
}

void ShowError(QWidget *parent, const QString &text)
{
    ShowMessage(parent, QStringLiteral("Error"), text, TMsgIcon::Error);
}

QString GetOpenFileName(QWidget *parent, const QString &folder, const QString &filter)
{
    if (exiting)
        return {};
    const QString start = FileDialogFolder(folder);
    if (openFileHook())
        return Chosen(openFileHook()(start, filter));
    QFileDialog dialog(parent, QString(), start, filter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return Chosen(dialog.selectedFiles().constFirst());
}

QString GetSaveFileName(QWidget *parent, const QString &folder, const QString &filter)
{
    if (exiting)
        return {};
    const QString start = FileDialogFolder(folder);
    if (saveFileHook())
        return Chosen(saveFileHook()(start, filter));
    QFileDialog dialog(parent, QString(), start, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return Chosen(dialog.selectedFiles().constFirst());
}

void Guarded(const std::function<void()> &action)
{
    try {
        action();
    } catch (const std::exception &e) {
        ShowException(QString::fromUtf8(e.what()));
    }
}

} // namespace kestrune::dialogs
