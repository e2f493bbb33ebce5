#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace kestrune::dialogs {

enum class TMsgIcon
{
    Error,
    Warning,
    Information
};

// The one seam through which the program shows message boxes and the file-open
// dialog, so tests can answer them without a person.
using TMessageHook =
    std::function<void(const QString &caption, const QString &text, TMsgIcon icon)>;
using TOpenFileHook = std::function<QString(const QString &folder, const QString &filter)>;
using TSaveFileHook = std::function<QString(const QString &folder, const QString &filter)>;

void SetMessageHook(TMessageHook hook);
// Where a message goes that arrives while one of our boxes is already open:
// it is not stacked on top as a second box, but shown here (the status bar).
using TStatusHook = std::function<void(const QString &text)>;
void SetStatusHook(TStatusHook hook);
void SetOpenFileHook(TOpenFileHook hook);
void SetSaveFileHook(TSaveFileHook hook);

// Once the program was told to end (a termination signal), every dialog that
// is open is cancelled and none is shown any more: a message goes to standard
// error, a file dialog gives "cancelled". Nobody may be there to answer, and
// the exit steps must go on. False again only in tests.
void SetExiting(bool exiting);
[[nodiscard]] bool Exiting();

// A modal message box with one OK button; while one is open, further
// messages go to the status hook instead.
void ShowMessage(QWidget *parent, const QString &caption, const QString &text, TMsgIcon icon);

// The application's standard error box for an error no handler caught.
void ShowException(const QString &message);

// A message dialog with the error icon and the caption "Error".
void ShowError(QWidget *parent, const QString &text);

// The file dialogs start in the folder of the file last chosen in either,
// while it exists; before that in `folder`, unless that is empty or the
// program's own folder (/usr/bin once installed): then in the home folder.
// The hooks are handed that start folder.

// Asks for an existing file; an empty result means the user cancelled.
QString GetOpenFileName(QWidget *parent, const QString &folder, const QString &filter);

// Asks for a file to write; an empty result means the user cancelled.
QString GetSaveFileName(QWidget *parent, const QString &folder, const QString &filter);

// Runs `action` and shows any std::exception it raises in the standard error box,
// so a failing handler ends only the current user action.
void Guarded(const std::function<void()> &action);

} // namespace kestrune::dialogs
