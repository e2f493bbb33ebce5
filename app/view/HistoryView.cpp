#include "app/view/HistoryView.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QtMath>

#include <climits>

namespace kestrune {

namespace {

// Gap between the frame and the text, as a memo leaves one.
constexpr qreal kMargin = 2;
// Pace of scrolling while a drag selection is held above or below the view.
constexpr int kAutoScrollMs = 50;

int ClampToInt(std::size_t value)
{
    return value > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

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

THistoryView::THistoryView(QWidget *parent) : QAbstractScrollArea(parent)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    // Every pixel is painted here; skipping Qt's background fill saves a pass.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    Remeasure();
    FIndex.SetColumns(ColumnsForWidth());
    UpdateScrollRange();
}

void THistoryView::SetText(std::string text)
{
    const bool hadSelection = HasSelection();
    FText = std::move(text);
    FIndex.SetText(FText);
    FAnchor = std::min(FAnchor, FText.size());
    FCursor = std::min(FCursor, FText.size());
    UpdateScrollRange();
    viewport()->update();
    if (hadSelection != HasSelection())
        emit copyAvailable(HasSelection());
}

void THistoryView::Clear()
{
    SetText(std::string());
}

void THistoryView::ScrollToEnd()
{
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

QString THistoryView::SelectedText() const
{
    const std::size_t start = SelectionStart();
    return QString::fromLatin1(FText.data() + start,
                               static_cast<qsizetype>(SelectionEnd() - start));
}

void THistoryView::SetSelection(std::size_t anchor, std::size_t cursor)
{
    const bool hadSelection = HasSelection();
    FAnchor = std::min(anchor, FText.size());
    FCursor = std::min(cursor, FText.size());
    viewport()->update();
    if (hadSelection != HasSelection())
        emit copyAvailable(HasSelection());
}

void THistoryView::selectAll()
{
    SetSelection(0, FText.size());
    SetPrimarySelection();
}

void THistoryView::copy()
{
    // An empty selection leaves the clipboard alone rather than wiping it.
    if (HasSelection())
        QGuiApplication::clipboard()->setText(SelectedText());
}

std::size_t THistoryView::FirstVisibleRow() const
{
    return static_cast<std::size_t>(verticalScrollBar()->value());
}

std::size_t THistoryView::VisibleRows() const
{
    return static_cast<std::size_t>(std::max(1, viewport()->height() / FLineHeight));
}

QRectF THistoryView::OffsetRect(std::size_t offset) const
{
    offset = std::min(offset, FText.size());
    const std::size_t row = FIndex.RowOfOffset(offset);
    const TRowSpan span = FIndex.Row(row);
    const std::size_t column = std::min(offset, span.End) - span.Start;
    const qreal y = (static_cast<qreal>(row) - verticalScrollBar()->value()) * FLineHeight;
    return {kMargin + static_cast<qreal>(column) * FCharWidth, y, FCharWidth,
            static_cast<qreal>(FLineHeight)};
}

std::size_t THistoryView::OffsetAt(QPoint pos) const
{
    const long long row = verticalScrollBar()->value() +
                          static_cast<long long>(std::floor(qreal(pos.y()) / FLineHeight));
    const long long lastRow = static_cast<long long>(FIndex.RowCount()) - 1;
    const qreal column = std::max<qreal>(0, (pos.x() - kMargin) / FCharWidth);
    return OffsetInRow(static_cast<std::size_t>(std::clamp(row, 0LL, lastRow)),
                       static_cast<std::size_t>(std::lround(column)));
}

std::size_t THistoryView::OffsetInRow(std::size_t row, std::size_t column) const
{
    const TRowSpan span = FIndex.Row(row);
    return span.Start + std::min(column, span.End - span.Start);
}

QMenu *THistoryView::CreateContextMenu()
{
    auto *menu = new QMenu(this);
    QAction *copyAction = menu->addAction(tr("&Copy"), this, &THistoryView::copy);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(HasSelection());
    QAction *selectAllAction = menu->addAction(tr("Select &All"), this, &THistoryView::selectAll);
    selectAllAction->setShortcut(QKeySequence::SelectAll);
    selectAllAction->setEnabled(!FText.empty());
    return menu;
}

void THistoryView::Remeasure()
{
    FRawFont = QRawFont::fromFont(font());
    QString all(256, QChar());
    for (int c = 0; c < 256; ++c)
        all[c] = QChar(c);
    const QList<quint32> glyphs = FRawFont.glyphIndexesForString(all);
    std::copy_n(glyphs.begin(), std::min<qsizetype>(glyphs.size(), 256), FGlyphOfChar.begin());
    // The advance the glyphs are placed at; a fixed-width font has one for all.
    const QFontMetricsF metrics(font());
    FCharWidth = std::max<qreal>(1, metrics.horizontalAdvance(QLatin1Char('0')));
    FLineHeight = std::max(1, qCeil(metrics.lineSpacing()));
    FAscent = metrics.ascent();
    FRunPositions.clear();
}

std::size_t THistoryView::ColumnsForWidth() const
{
    const qreal usable = viewport()->width() - 2 * kMargin;
    return usable <= FCharWidth ? 1 : static_cast<std::size_t>(usable / FCharWidth);
}

void THistoryView::Relayout()
{
    QScrollBar *bar = verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    const std::size_t topOffset = FIndex.Row(FirstVisibleRow()).Start;
    const std::size_t columns = ColumnsForWidth();
    if (columns != FIndex.Columns())
        FIndex.SetColumns(columns);
    UpdateScrollRange();
    bar->setValue(atEnd ? bar->maximum() : ClampToInt(FIndex.RowOfOffset(topOffset)));
    viewport()->update();
}

void THistoryView::UpdateScrollRange()
{
    const std::size_t visible = VisibleRows();
    const std::size_t rows = FIndex.RowCount();
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, ClampToInt(rows > visible ? rows - visible : 0));
    bar->setPageStep(ClampToInt(visible));
    bar->setSingleStep(1);
}

void THistoryView::DrawChars(QPainter &painter, QPointF origin, std::size_t offset,
                             std::size_t count)
{
    if (count == 0)
        return;
    // Characters map straight to glyphs at fixed columns: no shaping per
    // paint, and the glyphs land exactly where selection and clicks expect them.
    // Blanks draw nothing, so they are left out (a third of a Hex text).
    while (FRunPositions.size() < count)
        FRunPositions.emplace_back(static_cast<qreal>(FRunPositions.size()) * FCharWidth, 0);
    FRunGlyphs.clear();
    FRunGlyphPositions.clear();
    for (std::size_t i = 0; i < count; ++i) {
        const char c = FText[offset + i];
        if (c == ' ')
            continue;
        FRunGlyphs.push_back(FGlyphOfChar[static_cast<unsigned char>(c)]);
        FRunGlyphPositions.push_back(FRunPositions[i]);
    }
    if (FRunGlyphs.empty())
        return;
    QGlyphRun run;
    run.setRawFont(FRawFont);
    run.setRawData(FRunGlyphs.data(), FRunGlyphPositions.data(),
                   static_cast<int>(FRunGlyphs.size()));
    painter.drawGlyphRun(origin, run);
}

void THistoryView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const QRect area = viewport()->rect();
    painter.fillRect(area, Qt::white);

    const QBrush highlight = palette().brush(QPalette::Highlight);
    const QPen highlightedText(palette().color(QPalette::HighlightedText));
    const QPen normalText(Qt::black);
    const std::size_t selStart = SelectionStart();
    const std::size_t selEnd = SelectionEnd();
    const std::size_t first = FirstVisibleRow();
    const std::size_t shown = static_cast<std::size_t>(area.height() / FLineHeight) + 1;
    const std::size_t last = std::min(FIndex.RowCount(), first + shown);

    for (std::size_t row = first; row < last; ++row) {
        const TRowSpan span = FIndex.Row(row);
        const qreal top = static_cast<qreal>((row - first) * FLineHeight);
        const qreal baseline = top + FAscent;
        painter.setPen(normalText);
        DrawChars(painter, QPointF(kMargin, baseline), span.Start, span.End - span.Start);
        if (selStart >= selEnd || selEnd < span.Start || selStart > span.End)
            continue;
        const std::size_t from = std::max(selStart, span.Start);
        const std::size_t to = std::min(selEnd, span.End);
        // A selected line break shows as one highlighted cell after the row.
        const bool breakSelected = selEnd > span.End && FIndex.EndsWithBreak(row);
        const qreal x = kMargin + static_cast<qreal>(from - span.Start) * FCharWidth;
        const qreal cells = static_cast<qreal>(to - from) + (breakSelected ? 1 : 0);
        if (cells <= 0)
            continue;
        painter.fillRect(QRectF(x, top, cells * FCharWidth, FLineHeight), highlight);
        painter.setPen(highlightedText);
        DrawChars(painter, QPointF(x, baseline), from, to - from);
    }

    if (hasFocus()) {
        const QRectF caret = OffsetRect(FCursor);
        if (caret.bottom() > 0 && caret.top() < area.height())
            painter.fillRect(QRectF(caret.left(), caret.top(), 1, caret.height()), Qt::black);
    }
}

void THistoryView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    Relayout();
}

void THistoryView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        Remeasure();
        Relayout();
    } else if (event->type() == QEvent::PaletteChange) {
        viewport()->update();
    }
}

void THistoryView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void THistoryView::MoveCursor(std::size_t offset, bool keepAnchor)
{
    SetSelection(keepAnchor ? FAnchor : offset, offset);
    EnsureCursorVisible();
}

void THistoryView::EnsureCursorVisible()
{
    const std::size_t row = FIndex.RowOfOffset(FCursor);
    const std::size_t first = FirstVisibleRow();
    const std::size_t visible = VisibleRows();
    if (row < first)
        verticalScrollBar()->setValue(ClampToInt(row));
    else if (row >= first + visible)
        verticalScrollBar()->setValue(ClampToInt(row - visible + 1));
}

std::size_t THistoryView::StepLeft(std::size_t offset) const
{
    if (offset == 0)
        return 0;
    // CR LF is one line break: step over both.
    if (offset >= 2 && FText[offset - 1] == '\n' && FText[offset - 2] == '\r')
        return offset - 2;
    return offset - 1;
}

std::size_t THistoryView::StepRight(std::size_t offset) const
{
    if (offset >= FText.size())
        return FText.size();
    if (FText[offset] == '\r' && offset + 1 < FText.size() && FText[offset + 1] == '\n')
        return offset + 2;
    return offset + 1;
}

void THistoryView::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const std::size_t row = FIndex.RowOfOffset(FCursor);
    const TRowSpan span = FIndex.Row(row);
    const std::size_t column = std::min(FCursor, span.End) - span.Start;
    const std::size_t lastRow = FIndex.RowCount() - 1;
    const std::size_t page = VisibleRows();
    QScrollBar *bar = verticalScrollBar();

    switch (event->key()) {
    case Qt::Key_Left:
        MoveCursor(StepLeft(FCursor), shift);
        break;
    case Qt::Key_Right:
        MoveCursor(StepRight(FCursor), shift);
        break;
    case Qt::Key_Up:
        if (ctrl)
            bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        else
            MoveCursor(row == 0 ? 0 : OffsetInRow(row - 1, column), shift);
        break;
    case Qt::Key_Down:
        if (ctrl)
            bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        else
            MoveCursor(row == lastRow ? FText.size() : OffsetInRow(row + 1, column), shift);
        break;
    case Qt::Key_PageUp:
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        MoveCursor(row < page ? 0 : OffsetInRow(row - page, column), shift);
        break;
    case Qt::Key_PageDown:
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        MoveCursor(row + page > lastRow ? FText.size() : OffsetInRow(row + page, column), shift);
        break;
    case Qt::Key_Home:
        MoveCursor(ctrl ? 0 : span.Start, shift);
        break;
    case Qt::Key_End:
        MoveCursor(ctrl ? FText.size() : span.End, shift);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    if (shift)
        SetPrimarySelection();
}

void THistoryView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const std::size_t offset = OffsetAt(event->position().toPoint());
    SetSelection(event->modifiers() & Qt::ShiftModifier ? FAnchor : offset, offset);
    FDragging = true;
    FLastMousePos = event->position().toPoint();
}

void THistoryView::mouseMoveEvent(QMouseEvent *event)
{
    if (!FDragging || !(event->buttons() & Qt::LeftButton))
        return;
    FLastMousePos = event->position().toPoint();
    SetSelection(FAnchor, OffsetAt(FLastMousePos));
    const bool outside = FLastMousePos.y() < 0 || FLastMousePos.y() >= viewport()->height();
    if (outside && !FAutoScroll.isActive())
        FAutoScroll.start(kAutoScrollMs, this);
    else if (!outside)
        FAutoScroll.stop();
}

void THistoryView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    FDragging = false;
    FAutoScroll.stop();
    SetPrimarySelection();
}

void THistoryView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    SelectWordAt(OffsetAt(event->position().toPoint()));
    FDragging = false;
    SetPrimarySelection();
}

void THistoryView::SelectWordAt(std::size_t offset)
{
    if (FText.empty())
        return;
    // A click after the last character of a row means that character.
    std::size_t probe = offset;
    if (probe >= FText.size() || ClassOf(FText[probe]) == TCharClass::Break)
        probe = probe == 0 ? 0 : probe - 1;
    const TCharClass cls = ClassOf(FText[probe]);
    if (cls == TCharClass::Break) {
        SetSelection(offset, offset);
        return;
    }
    std::size_t start = probe;
    while (start > 0 && ClassOf(FText[start - 1]) == cls)
        --start;
    std::size_t end = probe + 1;
    while (end < FText.size() && ClassOf(FText[end]) == cls)
        ++end;
    SetSelection(start, end);
}

void THistoryView::SetPrimarySelection() const
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (HasSelection() && clipboard->supportsSelection())
        clipboard->setText(SelectedText(), QClipboard::Selection);
}

void THistoryView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = CreateContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void THistoryView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != FAutoScroll.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    QScrollBar *bar = verticalScrollBar();
    if (FLastMousePos.y() < 0)
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    SetSelection(FAnchor, OffsetAt(FLastMousePos));
}

void THistoryView::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void THistoryView::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

} // namespace kestrune
