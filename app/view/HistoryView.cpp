#include "app/view/HistoryView.h"

#include "app/view/HistoryMouse.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <climits>
#include <cmath>

namespace kestrune {

namespace {

// Time given to laying out a long history per turn of the event loop, and
// the bytes laid out between looks at the clock.
constexpr qint64 kLayoutStepMs = 4;
constexpr std::size_t kLayoutStepBytes = 64 * 1024;

int ClampToInt(std::size_t value)
{
    return value > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

} // namespace

THistoryView::THistoryView(QWidget *parent)
    : QAbstractScrollArea(parent), FKeys(*this), FMouse(new THistoryMouse(*this)),
      FFindBar(new THistoryFindBar(*this)), FExport(*this)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    // Every pixel is painted here; skipping Qt's background fill saves a pass.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    connect(FFindBar, &THistoryFindBar::shownChanged, this, [this](bool shown) {
        PlaceFindBar();
        if (!shown) {
            viewport()->update();
            setFocus();
        }
    });
    connect(FFindBar, &THistoryFindBar::matchesChanged, this, [this] { viewport()->update(); });
    FPainter.SetFont(font());
    FLayout.SetColumns(ColumnsForWidth());
    UpdateScrollRange();
}

void THistoryView::ShowHistory(const THistoryBytes &history, TDataMode mode, char escChar,
                               const TFrameMarks *frames)
{
    const bool hadSelection = HasSelection();
    const TTextCells &cells = FLayout.Cells();
    const std::size_t indent = frames ? FramePrefix(TFrameMark{}).size() : 0;
    const TEncoding encoding = mode == dmHex ? TEncoding::Latin1 : FEncoding;
    if (FShowing && cells.Mode() == mode && cells.EscChar() == EscCharOrDefault(escChar) &&
        cells.Encoding() == encoding && FLayout.Framed() == (frames != nullptr) &&
        FLayout.Indent() == indent) {
        FLayout.Follow(history, frames);
    } else {
        FLayout.SetFrames(frames, indent);
        FLayout.Reset(history, mode, escChar, ColumnsForWidth(), encoding);
        // Positions inside a byte's text mean nothing in another representation:
        // the selection keeps its bytes.
        const auto whole = [](TTextPos pos, bool up) {
            return pos % 4 == 0 ? pos : PosOfByte(ByteOfPos(pos) + (up ? 1 : 0));
        };
        const bool forward = FAnchor <= FCursor;
        FAnchor = whole(FAnchor, !forward);
        FCursor = whole(FCursor, forward);
        FShowing = true;
    }
    FFindBar->Follow(FLayout.Bytes());
    ClampSelection(hadSelection);
    ArmLayout();
}

void THistoryView::ArmLayout()
{
    if (FLayout.Pending() && !FLayoutTimer.isActive())
        FLayoutTimer.start(0, this);
}

void THistoryView::LayoutStep()
{
    QScrollBar *bar = verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    const TTextPos top = atEnd ? 0 : FLayout.Row(FirstVisibleRow()).Start;
    QElapsedTimer clock;
    clock.start();
    bool more = true;
    while (more && clock.elapsed() < kLayoutStepMs)
        more = FLayout.Step(kLayoutStepBytes);
    if (!more)
        FLayoutTimer.stop();
    UpdateScrollRange();
    bar->setValue(atEnd ? bar->maximum() : ClampToInt(FLayout.RowOf(top)));
}

std::string THistoryView::FramePrefix(const TFrameMark &mark) const
{
    return TShownText::FramePrefix(mark, FOriginColumn, FOriginTags, FBadFrames);
}

void THistoryView::Clear()
{
    const bool hadSelection = HasSelection();
    FLayout.Clear();
    ClampSelection(hadSelection);
}

void THistoryView::ClampSelection(bool hadSelection)
{
    const TTextPos begin = FLayout.TextBegin();
    const TTextPos end = FLayout.TextEnd();
    FAnchor = std::clamp(FAnchor, begin, end);
    FCursor = std::clamp(FCursor, begin, end);
    UpdateScrollRange();
    viewport()->update();
    if (hadSelection != HasSelection())
        emit copyAvailable(HasSelection());
}

void THistoryView::ScrollToEnd()
{
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

std::string THistoryView::Text() const
{
    std::string text;
    bool lineOpen = false;
    Shown().Append(FLayout.TextBegin(), FLayout.TextEnd(), text, lineOpen, true);
    return text;
}

QString THistoryView::SelectedText() const
{
    std::string text;
    bool lineOpen = false;
    Shown().Append(SelectionStart(), SelectionEnd(), text, lineOpen, FExport.WholeSelected());
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void THistoryView::SetSelection(TTextPos anchor, TTextPos cursor)
{
    const bool hadSelection = HasSelection();
    FAnchor = anchor;
    FCursor = cursor;
    ClampSelection(hadSelection);
}

void THistoryView::selectAll()
{
    SetSelection(FLayout.TextBegin(), FLayout.TextEnd());
    SetPrimarySelection();
}

std::size_t THistoryView::FirstVisibleRow() const
{
    return static_cast<std::size_t>(verticalScrollBar()->value());
}

std::size_t THistoryView::VisibleRows() const
{
    return static_cast<std::size_t>(std::max(1, viewport()->height() / FPainter.LineHeight()));
}

const TRowLayout &THistoryView::EnsureLaidOut(TTextPos pos)
{
    if (FLayout.EnsurePos(pos))
        UpdateScrollRange();
    return FLayout;
}

std::size_t THistoryView::ColumnOf(const TRowSpan &span, TTextPos pos) const
{
    return static_cast<std::size_t>(
        FLayout.Cells().TextLength(FLayout.Bytes(), span.Start, std::min(pos, span.End)));
}

QRectF THistoryView::PosRect(TTextPos pos) const
{
    const std::size_t row = FLayout.RowOf(pos);
    const std::size_t column = ColumnOf(FLayout.Row(row), pos);
    const qreal lineHeight = FPainter.LineHeight();
    const qreal y = (static_cast<qreal>(row) - verticalScrollBar()->value()) * lineHeight;
    return {FPainter.DataLeft(FLayout.Indent()) + static_cast<qreal>(column) * FPainter.CharWidth(),
            y, FPainter.CharWidth(), lineHeight};
}

TTextPos THistoryView::PosAt(QPoint point) const
{
    const long long row =
        verticalScrollBar()->value() +
        static_cast<long long>(std::floor(qreal(point.y()) / FPainter.LineHeight()));
    const long long lastRow = static_cast<long long>(FLayout.RowCount()) - 1;
    const qreal column = std::max<qreal>(0, (point.x() - FPainter.DataLeft(FLayout.Indent())) /
                                                FPainter.CharWidth());
    return PosInRow(static_cast<std::size_t>(std::clamp(row, 0LL, lastRow)),
                    static_cast<std::size_t>(std::lround(column)));
}

TTextPos THistoryView::PosInRow(std::size_t row, std::size_t column) const
{
    const TRowSpan span = FLayout.Row(row);
    // Columns, not steps: a wide character is one step over two columns.
    TTextPos pos = span.Start;
    while (pos < span.End && ColumnOf(span, pos) < column)
        pos = FLayout.Cells().Next(FLayout.Bytes(), pos);
    return std::min(pos, span.End);
}

void THistoryView::MoveCursor(TTextPos pos, bool keepAnchor)
{
    SetSelection(keepAnchor ? FAnchor : pos, pos);
    EnsureCursorVisible();
}

void THistoryView::EnsureCursorVisible()
{
    const std::size_t row = EnsureLaidOut(FCursor).RowOf(FCursor);
    const std::size_t first = FirstVisibleRow();
    const std::size_t visible = VisibleRows();
    if (row < first)
        verticalScrollBar()->setValue(ClampToInt(row));
    else if (row >= first + visible)
        verticalScrollBar()->setValue(ClampToInt(row - visible + 1));
}

QMenu *THistoryView::CreateContextMenu()
{
    auto *menu = new QMenu(this);
    QAction *copyAction = menu->addAction(tr("&Copy"), this, &THistoryView::copy);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(HasSelection());
    const bool empty = FLayout.TextBegin() == FLayout.TextEnd();
    QAction *selectAllAction = menu->addAction(tr("Select &All"), this, &THistoryView::selectAll);
    selectAllAction->setShortcut(QKeySequence::SelectAll);
    selectAllAction->setEnabled(!empty);
    menu->addSeparator();
    QAction *saveAction = menu->addAction(tr("Save &As..."), this, &THistoryView::saveAs);
    saveAction->setEnabled(!empty);
    QAction *csvAction =
        menu->addAction(tr("Export &CSV..."), this, &THistoryView::exportCsvRequested);
    csvAction->setObjectName(QStringLiteral("pmiExportCsv"));
    csvAction->setEnabled(!empty);
    QAction *findAction = menu->addAction(tr("&Find..."), this, &THistoryView::ShowFindBar);
    findAction->setShortcut(QKeySequence::Find);
    findAction->setShortcut(QKeySequence::Find);
    menu->addSeparator();
    QAction *framesAction = menu->addAction(tr("Show &frames"));
    framesAction->setObjectName(QStringLiteral("pmiShowFrames"));
    framesAction->setCheckable(true);
    framesAction->setChecked(FShowFramesChoice);
    connect(framesAction, &QAction::toggled, this, &THistoryView::showFramesToggled);
    if (FGapChoice > 0) {
        QMenu *gaps = menu->addMenu(tr("Frame &gap"));
        gaps->setObjectName(QStringLiteral("pmiFrameGap"));
        for (const int ms : {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000}) {
            QAction *gap = gaps->addAction(tr("%1 ms").arg(ms));
            gap->setCheckable(true);
            gap->setChecked(ms == FGapChoice);
            gap->setData(ms);
            connect(gap, &QAction::triggered, this, [this, ms] { emit frameGapChosen(ms); });
        }
    }
    return menu;
}

std::size_t THistoryView::ColumnsForWidth() const
{
    const qreal usable = viewport()->width() - 2 * THistoryPainter::Margin;
    const qreal charWidth = FPainter.CharWidth();
    return usable <= charWidth ? 1 : static_cast<std::size_t>(usable / charWidth);
}

void THistoryView::Relayout()
{
    QScrollBar *bar = verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    const TTextPos top = FLayout.Row(FirstVisibleRow()).Start;
    FLayout.SetColumns(ColumnsForWidth());
    if (!atEnd)
        FLayout.EnsurePos(top);
    UpdateScrollRange();
    bar->setValue(atEnd ? bar->maximum() : ClampToInt(FLayout.RowOf(top)));
    viewport()->update();
    ArmLayout();
}

void THistoryView::UpdateScrollRange()
{
    const std::size_t visible = VisibleRows();
    const std::size_t rows = FLayout.RowCount();
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, ClampToInt(rows > visible ? rows - visible : 0));
    bar->setPageStep(ClampToInt(visible));
    bar->setSingleStep(1);
}

void THistoryView::PlaceFindBar()
{
    const int height = FFindBar->ShownHeight();
    setViewportMargins(0, 0, 0, height);
    if (height > 0) {
        // Beside the vertical scroll bar, not under it: its Close button stays whole.
        const QRect inside = contentsRect();
        const int bar = verticalScrollBar()->isVisible() ? verticalScrollBar()->width() : 0;
        FFindBar->Bar()->setGeometry(inside.left(), inside.bottom() + 1 - height,
                                     inside.width() - bar, height);
    }
}

void THistoryView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const QRect area = viewport()->rect();
    // Rows about to be shown are laid out first; that may firm up the row count.
    const std::size_t shown = static_cast<std::size_t>(area.height() / FPainter.LineHeight()) + 1;
    if (FLayout.EnsureRows(FirstVisibleRow(), shown))
        UpdateScrollRange();
    FPainter.Paint(painter, *this, area);
}

void THistoryView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    PlaceFindBar();
    Relayout();
}

void THistoryView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        FPainter.SetFont(font());
        Relayout();
    } else if (event->type() == QEvent::PaletteChange) {
        viewport()->update();
    }
}

void THistoryView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void THistoryView::keyPressEvent(QKeyEvent *event)
{
    if (!FKeys.KeyPress(event))
        QAbstractScrollArea::keyPressEvent(event);
}

void THistoryView::mousePressEvent(QMouseEvent *event)
{
    if (!FMouse->Press(event))
        QAbstractScrollArea::mousePressEvent(event);
}

void THistoryView::mouseMoveEvent(QMouseEvent *event)
{
    FMouse->Move(event);
}

void THistoryView::mouseReleaseEvent(QMouseEvent *event)
{
    if (!FMouse->Release(event))
        QAbstractScrollArea::mouseReleaseEvent(event);
}

void THistoryView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (!FMouse->DoubleClick(event))
        QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void THistoryView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = CreateContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void THistoryView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == FLayoutTimer.timerId())
        LayoutStep();
    else
        QAbstractScrollArea::timerEvent(event);
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
