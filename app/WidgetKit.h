#pragma once

// Small widgets and helpers the main window is built from.
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QObject>
#include <functional>

class QEvent;

namespace kestrune {

template <typename W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// The platform's fixed font at `points`.
[[nodiscard]] QFont fixedFont(int points);

// A status pane at least as wide as designed and never narrower than its text,
// which changes as the program runs. A pane without a designed width fills the
// rest of the bar; it gives way only beyond a text of some 48 characters, so a
// long host name cannot push the window off the screen.
class TStatusPane : public QLabel
{
public:
    explicit TStatusPane(int designWidth) : FDesignWidth(designWidth) {}
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    int FDesignWidth;
};

[[nodiscard]] QLabel *paneLabel(const char *name, int width);

// A choice list whose text field holds its longest entry in any font: the
// style's own estimate falls a few pixels short at large font sizes.
class TChoiceBox : public QComboBox
{
public:
    QSize sizeHint() const override;
};

// A drop-down list (not editable) of the kind above.
[[nodiscard]] QComboBox *dropDown(const char *name);

// Runs `handler` for every event `target` receives; true swallows the event.
void HookEvents(QObject *target, std::function<bool(QEvent *)> handler);

// Calls `action` whenever `target` loses the focus to another widget of the
// window. QLineEdit::editingFinished is no substitute: it stays silent when the
// text has not changed since it last fired, so an invalid entry would be
// refused only once.
void OnFocusLeave(QObject *target, std::function<void()> action);

} // namespace kestrune
