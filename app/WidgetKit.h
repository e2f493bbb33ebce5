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

// A status pane as wide as designed, or as its text where the bar has room.
// Its text never widens the window: where the pane is narrower, the text is
// cut with an ellipsis and the whole text is its tool tip (unless the pane
// has a hint of its own).
class TStatusPane : public QLabel
{
public:
    explicit TStatusPane(int designWidth) : FDesignWidth(designWidth) {}
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The text as painted: cut to the pane's width.
    [[nodiscard]] QString ShownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

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
