#pragma once

#include "app/view/TextCells.h"

#include <QBasicTimer>
#include <QObject>
#include <QPoint>

class QMouseEvent;

namespace kestrune {

class THistoryView;

// Mouse selection in a history view: a click places the caret (with Shift it
// extends the selection), a drag selects and scrolls while held above or
// below the view, and a double click selects a word, a run of blanks or of
// other characters. Each finished selection becomes the primary selection.
class THistoryMouse : public QObject
{
    Q_OBJECT

public:
    explicit THistoryMouse(THistoryView &view);

    // Each acts on a left-button event; false for any other.
    bool Press(QMouseEvent *event);
    bool Move(QMouseEvent *event);
    bool Release(QMouseEvent *event);
    bool DoubleClick(QMouseEvent *event);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void SelectWordAt(TTextPos pos);

    THistoryView &FView;
    bool FDragging = false;
    QPoint FLastMousePos;
    QBasicTimer FAutoScroll;
};

} // namespace kestrune
