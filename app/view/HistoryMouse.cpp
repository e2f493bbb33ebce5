#include "app/view/HistoryMouse.h"

#include "app/view/HistoryView.h"

#include <QMouseEvent>
#include <QScrollBar>
#include <QTimerEvent>

namespace kestrune {

namespace {

// Pace of scrolling while a drag selection is held above or below the view.
constexpr int kAutoScrollMs = 50;
// How far a double click looks for the ends of a word.
constexpr int kWordReach = 4096;

// Double click selects a run of characters of one class.
enum class TCharClass
{
    Word,
    Blank,
    Break,
    Other
};

TCharClass ClassOf(char c)
{
    const auto u = static_cast<unsigned char>(c);
    if (c == '\r' || c == '\n')
        return TCharClass::Break;
    if (c == ' ' || c == '\t')
        return TCharClass::Blank;
    if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || c == '_')
        return TCharClass::Word;
    return TCharClass::Other;
}

} // namespace

THistoryMouse::THistoryMouse(THistoryView &view) : QObject(&view), FView(view) {}

bool THistoryMouse::Press(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return false;
    const TTextPos pos = FView.PosAt(event->position().toPoint());
    FView.SetSelection(event->modifiers() & Qt::ShiftModifier ? FView.AnchorPos() : pos, pos);
    FDragging = true;
    FLastMousePos = event->position().toPoint();
    return true;
}

bool THistoryMouse::Move(QMouseEvent *event)
{
    if (!FDragging || !(event->buttons() & Qt::LeftButton))
        return true;
    FLastMousePos = event->position().toPoint();
    FView.SetSelection(FView.AnchorPos(), FView.PosAt(FLastMousePos));
    const bool outside = FLastMousePos.y() < 0 || FLastMousePos.y() >= FView.viewport()->height();
    if (outside && !FAutoScroll.isActive())
        FAutoScroll.start(kAutoScrollMs, this);
    else if (!outside)
        FAutoScroll.stop();
    return true;
}

bool THistoryMouse::Release(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return false;
    FDragging = false;
    FAutoScroll.stop();
    FView.SetPrimarySelection();
    return true;
}

bool THistoryMouse::DoubleClick(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return false;
    SelectWordAt(FView.PosAt(event->position().toPoint()));
    FDragging = false;
    FView.SetPrimarySelection();
    return true;
}

void THistoryMouse::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != FAutoScroll.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    QScrollBar *bar = FView.verticalScrollBar();
    if (FLastMousePos.y() < 0)
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    FView.SetSelection(FView.AnchorPos(), FView.PosAt(FLastMousePos));
}

void THistoryMouse::SelectWordAt(TTextPos pos)
{
    const TRowLayout &layout = FView.Layout();
    const TTextPos begin = layout.TextBegin();
    const TTextPos end = layout.TextEnd();
    if (begin == end)
        return;
    const TTextCells &cells = layout.Cells();
    const THistoryBytes &bytes = layout.Bytes();
    const auto classAt = [&](TTextPos at) { return ClassOf(cells.CharAt(bytes, at)); };
    // A click after the last character of a row means that character.
    TTextPos probe = pos;
    if (probe >= end || classAt(probe) == TCharClass::Break)
        probe = cells.Prev(bytes, probe);
    const TCharClass cls = classAt(probe);
    if (cls == TCharClass::Break) {
        FView.SetSelection(pos, pos);
        return;
    }
    TTextPos start = probe;
    for (int i = 0; i < kWordReach && start > begin; ++i) {
        const TTextPos prev = cells.Prev(bytes, start);
        if (classAt(prev) != cls)
            break;
        start = prev;
    }
    TTextPos stop = cells.Next(bytes, probe);
    for (int i = 0; i < kWordReach && stop < end && classAt(stop) == cls; ++i)
        stop = cells.Next(bytes, stop);
    FView.SetSelection(start, stop);
}

} // namespace kestrune
