#include "app/view/HistoryKeys.h"

#include "app/view/HistoryView.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QScrollBar>

namespace kestrune {

char THistoryKeys::CharAt(TTextPos pos) const
{
    return FView.Layout().Cells().CharAt(FView.Layout().Bytes(), pos);
}

TTextPos THistoryKeys::StepLeft(TTextPos pos) const
{
    const TRowLayout &layout = FView.Layout();
    const TTextCells &cells = layout.Cells();
    if (pos <= layout.TextBegin())
        return layout.TextBegin();
    const TTextPos prev = cells.Prev(layout.Bytes(), pos);
    // CR LF is one line break: step over both.
    if (CharAt(prev) == '\n' && prev > layout.TextBegin()) {
        const TTextPos before = cells.Prev(layout.Bytes(), prev);
        if (CharAt(before) == '\r')
            return before;
    }
    return prev;
}

TTextPos THistoryKeys::StepRight(TTextPos pos) const
{
    const TRowLayout &layout = FView.Layout();
    const TTextPos end = layout.TextEnd();
    if (pos >= end)
        return end;
    const TTextPos next = layout.Cells().Next(layout.Bytes(), pos);
    if (CharAt(pos) == '\r' && next < end && CharAt(next) == '\n')
        return layout.Cells().Next(layout.Bytes(), next);
    return next;
}

bool THistoryKeys::KeyPress(QKeyEvent *event)
{
    if (event == QKeySequence::Copy) {
        FView.copy();
        return true;
    }
    if (event == QKeySequence::SelectAll) {
        FView.selectAll();
        return true;
    }
    if (event == QKeySequence::Find) {
        FView.ShowFindBar();
        return true;
    }
    if (event == QKeySequence::FindNext || event->key() == Qt::Key_F3) {
        if (event->modifiers() & Qt::ShiftModifier)
            FView.FindPrevious();
        else
            FView.FindNext();
        return true;
    }
    if (event == QKeySequence::FindPrevious) {
        FView.FindPrevious();
        return true;
    }
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const TTextPos cursor = FView.CursorPos();
    const TRowLayout &layout = FView.EnsureLaidOut(cursor);
    const std::size_t row = layout.RowOf(cursor);
    const TRowSpan span = layout.Row(row);
    const std::size_t column = FView.ColumnOf(span, cursor);
    const std::size_t lastRow = layout.RowCount() - 1;
    const std::size_t page = FView.VisibleRows();
    const TTextPos begin = layout.TextBegin();
    const TTextPos end = layout.TextEnd();
    QScrollBar *bar = FView.verticalScrollBar();

    switch (event->key()) {
    case Qt::Key_Left:
        FView.MoveCursor(StepLeft(cursor), shift);
        break;
    case Qt::Key_Right:
        FView.MoveCursor(StepRight(cursor), shift);
        break;
    case Qt::Key_Up:
        if (ctrl)
            bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        else
            FView.MoveCursor(row == 0 ? begin : FView.PosInRow(row - 1, column), shift);
        break;
    case Qt::Key_Down:
        if (ctrl)
            bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        else
            FView.MoveCursor(row == lastRow ? end : FView.PosInRow(row + 1, column), shift);
        break;
    case Qt::Key_PageUp:
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        FView.MoveCursor(row < page ? begin : FView.PosInRow(row - page, column), shift);
        break;
    case Qt::Key_PageDown:
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        FView.MoveCursor(row + page > lastRow ? end : FView.PosInRow(row + page, column), shift);
        break;
    case Qt::Key_Home:
        FView.MoveCursor(ctrl ? begin : span.Start, shift);
        break;
    case Qt::Key_End:
        FView.MoveCursor(ctrl ? end : span.End, shift);
        break;
    default:
        return false;
    }
    if (shift)
        FView.SetPrimarySelection();
    return true;
}

} // namespace kestrune
