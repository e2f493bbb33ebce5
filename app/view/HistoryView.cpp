#include "app/view/HistoryView.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QtMath>

#include "codec/Parse.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kestrune {

namespace {

// Gap between the frame and the text, as a memo leaves one.
constexpr qreal kMargin = 2;
// Pace of scrolling while a drag selection is held above or below the view.
constexpr int kAutoScrollMs = 50;
// Bytes formatted and written at a time by Save As.
constexpr std::uint64_t kSaveBytes = 1 << 20;
// How far a double click looks for the ends of a word.
constexpr int kWordReach = 4096;
// Time given to laying out a long history per turn of the event loop, and
// the bytes laid out between looks at the clock.
constexpr qint64 kLayoutStepMs = 4;
constexpr std::size_t kLayoutStepBytes = 64 * 1024;

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

bool WriteAll(int fd, const std::string &text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
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
    FLayout.SetColumns(ColumnsForWidth());
    UpdateScrollRange();
}

void THistoryView::ShowHistory(const THistoryBytes &history, TDataMode mode, char escChar,
                               const TFrameMarks *frames)
{
    const bool hadSelection = HasSelection();
    const TTextCells &cells = FLayout.Cells();
    const std::size_t indent = frames ? FramePrefix(TFrameMark{}).size() : 0;
    if (FShowing && cells.Mode() == mode && cells.EscChar() == EscCharOrDefault(escChar) &&
        FLayout.Framed() == (frames != nullptr) && FLayout.Indent() == indent) {
        FLayout.Follow(history, frames);
    } else {
        FLayout.SetFrames(frames, indent);
        FLayout.Reset(history, mode, escChar, ColumnsForWidth());
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
    if (FSearch.Active()) {
        FSearch.Follow(FLayout.Bytes());
        SearchStep();
    }
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
    const QTime time = QDateTime::fromMSecsSinceEpoch(mark.TimeMs).time();
    std::string prefix = time.toString(QStringLiteral("HH:mm:ss.zzz ")).toStdString();
    if (FOriginColumn) {
        std::string origin = mark.Origin == 0 ? "main" : "R" + std::to_string(mark.Origin);
        origin.resize(std::max<std::size_t>(origin.size(), 5), ' ');
        prefix += origin + ' ';
    }
    return prefix;
}

bool THistoryView::WholeSelected() const
{
    return SelectionStart() <= FLayout.TextBegin() && SelectionEnd() >= FLayout.TextEnd();
}

qreal THistoryView::DataLeft() const
{
    return kMargin + static_cast<qreal>(FLayout.Indent()) * FCharWidth;
}

void THistoryView::AppendShown(TTextPos from, TTextPos to, std::string &out, bool &lineOpen,
                               bool withFirstPrefix) const
{
    const TTextCells &cells = FLayout.Cells();
    const THistoryBytes &bytes = FLayout.Bytes();
    from = std::max(from, FLayout.TextBegin());
    to = std::min(to, FLayout.TextEnd());
    if (!FLayout.Framed()) {
        cells.AppendText(bytes, from, to, out);
        return;
    }
    const TFrameMarks &frames = FLayout.Frames();
    std::uint64_t seq = frames.Find(ByteOfPos(from));
    const bool hex = cells.Mode() == dmHex;
    for (TTextPos at = from; at < to;) {
        const std::uint64_t next = seq == TFrameMarks::None ? frames.Begin() : seq + 1;
        const TTextPos frameEnd = next < frames.End() ? PosOfByte(frames.PosAt(next)) : UINT64_MAX;
        // A Hex frame's text ends before its last byte's blank.
        const TTextPos textEnd =
            std::min(to, hex && frameEnd != UINT64_MAX ? frameEnd - 2 : frameEnd);
        // Every frame line shows its prefix, but a selection that begins at
        // the data of a frame does not take that frame's.
        const bool starts = seq != TFrameMarks::None &&
                            (at == PosOfByte(frames.PosAt(seq)) || at == FLayout.TextBegin()) &&
                            (at != from || lineOpen || withFirstPrefix);
        if (starts) {
            if (lineOpen)
                out += '\n';
            out += FramePrefix(frames.At(seq));
        }
        cells.AppendText(bytes, at, textEnd, out);
        lineOpen = true;
        if (frameEnd >= to)
            break;
        at = frameEnd;
        seq = next;
    }
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
    AppendShown(FLayout.TextBegin(), FLayout.TextEnd(), text, lineOpen, true);
    return text;
}

QString THistoryView::SelectedText() const
{
    std::string text;
    bool lineOpen = false;
    AppendShown(SelectionStart(), SelectionEnd(), text, lineOpen, WholeSelected());
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
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

void THistoryView::copy()
{
    // An empty selection leaves the clipboard alone rather than wiping it.
    if (!HasSelection())
        return;
    const std::uint64_t length = FLayout.Cells().TextLength(FLayout.Bytes(), SelectionStart(),
                                                            SelectionEnd(), ClipboardLimit + 1);
    if (length > ClipboardLimit) {
        Report(tr("The selection is too large to copy: its text is more than %1 MiB.\n"
                  "Use \"Save As...\" in this view's context menu to write it to a file.")
                   .arg(ClipboardLimit >> 20),
               false);
        return;
    }
    QGuiApplication::clipboard()->setText(SelectedText());
}

void THistoryView::saveAs()
{
    QString fileName;
    if (FAskFileName)
        fileName = FAskFileName();
    else
        fileName = QFileDialog::getSaveFileName(this, tr("Save As"), QString(),
                                                tr("Text files (*.txt);;All files (*)"));
    if (!fileName.isEmpty())
        SaveText(fileName);
}

bool THistoryView::SaveText(const QString &fileName)
{
    const TTextPos from = HasSelection() ? SelectionStart() : FLayout.TextBegin();
    const TTextPos to = HasSelection() ? SelectionEnd() : FLayout.TextEnd();
    const QByteArray path = fileName.toUtf8();
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool ok = fd >= 0;
    std::string piece;
    bool lineOpen = false;
    for (TTextPos at = from; ok && at < to;) {
        const TTextPos next = std::min(to, PosOfByte(ByteOfPos(at) + kSaveBytes));
        piece.clear();
        AppendShown(at, next, piece, lineOpen, !HasSelection() || WholeSelected());
        ok = WriteAll(fd, piece);
        at = next;
    }
    const int error = errno;
    if (fd >= 0 && ::close(fd) != 0 && ok)
        ok = false;
    if (!ok) {
        Report(tr("Could not save \"%1\": %2.")
                   .arg(fileName, QString::fromLocal8Bit(std::strerror(error))),
               true);
    }
    return ok;
}

void THistoryView::Report(const QString &text, bool error) const
{
    if (FReport) {
        FReport(text, error);
        return;
    }
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::Information,
                    error ? tr("Error") : tr("Copy"), text, QMessageBox::Ok,
                    const_cast<THistoryView *>(this));
    box.exec();
}

std::size_t THistoryView::FirstVisibleRow() const
{
    return static_cast<std::size_t>(verticalScrollBar()->value());
}

std::size_t THistoryView::VisibleRows() const
{
    return static_cast<std::size_t>(std::max(1, viewport()->height() / FLineHeight));
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
    const qreal y = (static_cast<qreal>(row) - verticalScrollBar()->value()) * FLineHeight;
    return {DataLeft() + static_cast<qreal>(column) * FCharWidth, y, FCharWidth,
            static_cast<qreal>(FLineHeight)};
}

TTextPos THistoryView::PosAt(QPoint point) const
{
    const long long row = verticalScrollBar()->value() +
                          static_cast<long long>(std::floor(qreal(point.y()) / FLineHeight));
    const long long lastRow = static_cast<long long>(FLayout.RowCount()) - 1;
    const qreal column = std::max<qreal>(0, (point.x() - DataLeft()) / FCharWidth);
    return PosInRow(static_cast<std::size_t>(std::clamp(row, 0LL, lastRow)),
                    static_cast<std::size_t>(std::lround(column)));
}

TTextPos THistoryView::PosInRow(std::size_t row, std::size_t column) const
{
    const TRowSpan span = FLayout.Row(row);
    TTextPos pos = span.Start;
    for (std::size_t i = 0; i < column && pos < span.End; ++i)
        pos = FLayout.Cells().Next(FLayout.Bytes(), pos);
    return std::min(pos, span.End);
}

char THistoryView::CharAt(TTextPos pos) const
{
    return FLayout.Cells().CharAt(FLayout.Bytes(), pos);
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
    QAction *findAction = menu->addAction(tr("&Find..."), this, &THistoryView::ShowFindBar);
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

void THistoryView::DrawText(QPainter &painter, QPointF origin, const std::string &text)
{
    // Characters map straight to glyphs at fixed columns: no shaping per
    // paint, and the glyphs land exactly where selection and clicks expect them.
    // Blanks draw nothing, so they are left out (a third of a Hex text).
    FRunGlyphs.clear();
    FRunGlyphPositions.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ')
            continue;
        FRunGlyphs.push_back(FGlyphOfChar[static_cast<unsigned char>(c)]);
        FRunGlyphPositions.emplace_back(static_cast<qreal>(i) * FCharWidth, 0);
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
    const QPalette &colours = palette();
    painter.fillRect(area, colours.brush(QPalette::Base));

    const QBrush highlight = colours.brush(QPalette::Highlight);
    const QPen highlightedText(colours.color(QPalette::HighlightedText));
    const QPen normalText(colours.color(QPalette::Text));
    const TTextPos selStart = SelectionStart();
    const TTextPos selEnd = SelectionEnd();
    const std::size_t shown = static_cast<std::size_t>(area.height() / FLineHeight) + 1;
    // Rows about to be shown are laid out first; that may firm up the row count.
    if (FLayout.EnsureRows(FirstVisibleRow(), shown))
        UpdateScrollRange();
    const std::size_t first = FirstVisibleRow();
    TTextPos shownFrom = UINT64_MAX;
    TTextPos shownTo = 0;
    const TTextCells &cells = FLayout.Cells();
    std::size_t row = first;

    const qreal left = DataLeft();
    const TFrameMarks &frames = FLayout.Frames();
    const QColor prefixColour = colours.color(QPalette::PlaceholderText);
    QColor matchColour = colours.color(QPalette::Highlight);
    matchColour.setAlpha(80);
    const std::deque<std::uint64_t> &matches = FSearch.Matches();
    const std::uint64_t patternSize = FSearch.PatternSize();
    FLayout.VisitRows(first, shown, [&](const TRowSpan &span) {
        shownFrom = std::min(shownFrom, span.Start);
        shownTo = std::max(shownTo, span.End);
        const qreal top = static_cast<qreal>((row++ - first) * FLineHeight);
        const qreal baseline = top + FAscent;
        if (FLayout.Framed()) {
            const std::uint64_t seq = frames.Find(ByteOfPos(span.Start));
            if (seq != TFrameMarks::None &&
                (span.Start == PosOfByte(frames.PosAt(seq)) || span.Start == FLayout.TextBegin())) {
                painter.setPen(prefixColour);
                DrawText(painter, QPointF(kMargin, baseline), FramePrefix(frames.At(seq)));
            }
        }
        // Matches that touch the row, lightly marked under the text.
        if (!matches.empty() && span.Start < span.End) {
            const std::uint64_t firstByte = ByteOfPos(span.Start);
            auto it = std::lower_bound(matches.begin(), matches.end(),
                                       firstByte >= patternSize ? firstByte - patternSize + 1 : 0);
            for (; it != matches.end() && PosOfByte(*it) < span.End; ++it) {
                const TTextPos from = std::max(PosOfByte(*it), span.Start);
                const TTextPos to = std::min(MatchEnd(*it), span.End);
                if (from >= to)
                    continue;
                const std::size_t c0 = ColumnOf(span, from);
                const std::size_t c1 = ColumnOf(span, to);
                painter.fillRect(QRectF(left + static_cast<qreal>(c0) * FCharWidth, top,
                                        static_cast<qreal>(c1 - c0) * FCharWidth, FLineHeight),
                                 matchColour);
            }
        }
        FRowText.clear();
        cells.AppendText(FLayout.Bytes(), span.Start, span.End, FRowText);
        painter.setPen(normalText);
        DrawText(painter, QPointF(left, baseline), FRowText);
        if (selStart >= selEnd || selEnd < span.Start || selStart > span.End)
            return true;
        const std::size_t from = ColumnOf(span, std::max(selStart, span.Start));
        const std::size_t to = ColumnOf(span, std::min(selEnd, span.End));
        // A selected line break shows as one highlighted cell after the row.
        const bool breakSelected = selEnd > span.End && span.Break;
        const qreal x = left + static_cast<qreal>(from) * FCharWidth;
        const qreal width = static_cast<qreal>(to - from) + (breakSelected ? 1 : 0);
        if (width <= 0)
            return true;
        painter.fillRect(QRectF(x, top, width * FCharWidth, FLineHeight), highlight);
        painter.setPen(highlightedText);
        DrawText(painter, QPointF(x, baseline), FRowText.substr(from, to - from));
        return true;
    });

    // Only a caret among the rows shown is looked up: one far off could be in
    // rows not laid out yet.
    if (hasFocus() && FCursor >= shownFrom && FCursor <= shownTo) {
        const QRectF caret = PosRect(FCursor);
        if (caret.bottom() > 0 && caret.top() < area.height())
            painter.fillRect(QRectF(caret.left(), caret.top(), 1, caret.height()),
                             colours.color(QPalette::Text));
    }
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

void THistoryView::MoveCursor(TTextPos pos, bool keepAnchor)
{
    SetSelection(keepAnchor ? FAnchor : pos, pos);
    EnsureCursorVisible();
}

void THistoryView::EnsureCursorVisible()
{
    if (FLayout.EnsurePos(FCursor))
        UpdateScrollRange();
    const std::size_t row = FLayout.RowOf(FCursor);
    const std::size_t first = FirstVisibleRow();
    const std::size_t visible = VisibleRows();
    if (row < first)
        verticalScrollBar()->setValue(ClampToInt(row));
    else if (row >= first + visible)
        verticalScrollBar()->setValue(ClampToInt(row - visible + 1));
}

TTextPos THistoryView::StepLeft(TTextPos pos) const
{
    const TTextCells &cells = FLayout.Cells();
    if (pos <= FLayout.TextBegin())
        return FLayout.TextBegin();
    const TTextPos prev = cells.Prev(FLayout.Bytes(), pos);
    // CR LF is one line break: step over both.
    if (CharAt(prev) == '\n' && prev > FLayout.TextBegin()) {
        const TTextPos before = cells.Prev(FLayout.Bytes(), prev);
        if (CharAt(before) == '\r')
            return before;
    }
    return prev;
}

TTextPos THistoryView::StepRight(TTextPos pos) const
{
    const TTextPos end = FLayout.TextEnd();
    if (pos >= end)
        return end;
    const TTextPos next = FLayout.Cells().Next(FLayout.Bytes(), pos);
    if (CharAt(pos) == '\r' && next < end && CharAt(next) == '\n')
        return FLayout.Cells().Next(FLayout.Bytes(), next);
    return next;
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
    if (event == QKeySequence::Find) {
        ShowFindBar();
        return;
    }
    if (event == QKeySequence::FindNext || event->key() == Qt::Key_F3) {
        if (event->modifiers() & Qt::ShiftModifier)
            FindPrevious();
        else
            FindNext();
        return;
    }
    if (event == QKeySequence::FindPrevious) {
        FindPrevious();
        return;
    }
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    if (FLayout.EnsurePos(FCursor))
        UpdateScrollRange();
    const std::size_t row = FLayout.RowOf(FCursor);
    const TRowSpan span = FLayout.Row(row);
    const std::size_t column = ColumnOf(span, FCursor);
    const std::size_t lastRow = FLayout.RowCount() - 1;
    const std::size_t page = VisibleRows();
    const TTextPos end = FLayout.TextEnd();
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
            MoveCursor(row == 0 ? FLayout.TextBegin() : PosInRow(row - 1, column), shift);
        break;
    case Qt::Key_Down:
        if (ctrl)
            bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        else
            MoveCursor(row == lastRow ? end : PosInRow(row + 1, column), shift);
        break;
    case Qt::Key_PageUp:
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        MoveCursor(row < page ? FLayout.TextBegin() : PosInRow(row - page, column), shift);
        break;
    case Qt::Key_PageDown:
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        MoveCursor(row + page > lastRow ? end : PosInRow(row + page, column), shift);
        break;
    case Qt::Key_Home:
        MoveCursor(ctrl ? FLayout.TextBegin() : span.Start, shift);
        break;
    case Qt::Key_End:
        MoveCursor(ctrl ? end : span.End, shift);
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
    const TTextPos pos = PosAt(event->position().toPoint());
    SetSelection(event->modifiers() & Qt::ShiftModifier ? FAnchor : pos, pos);
    FDragging = true;
    FLastMousePos = event->position().toPoint();
}

void THistoryView::mouseMoveEvent(QMouseEvent *event)
{
    if (!FDragging || !(event->buttons() & Qt::LeftButton))
        return;
    FLastMousePos = event->position().toPoint();
    SetSelection(FAnchor, PosAt(FLastMousePos));
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
    SelectWordAt(PosAt(event->position().toPoint()));
    FDragging = false;
    SetPrimarySelection();
}

void THistoryView::SelectWordAt(TTextPos pos)
{
    const TTextPos begin = FLayout.TextBegin();
    const TTextPos end = FLayout.TextEnd();
    if (begin == end)
        return;
    const TTextCells &cells = FLayout.Cells();
    const THistoryBytes &bytes = FLayout.Bytes();
    // A click after the last character of a row means that character.
    TTextPos probe = pos;
    if (probe >= end || ClassOf(CharAt(probe)) == TCharClass::Break)
        probe = cells.Prev(bytes, probe);
    const TCharClass cls = ClassOf(CharAt(probe));
    if (cls == TCharClass::Break) {
        SetSelection(pos, pos);
        return;
    }
    TTextPos start = probe;
    for (int i = 0; i < kWordReach && start > begin; ++i) {
        const TTextPos prev = cells.Prev(bytes, start);
        if (ClassOf(CharAt(prev)) != cls)
            break;
        start = prev;
    }
    TTextPos stop = cells.Next(bytes, probe);
    for (int i = 0; i < kWordReach && stop < end && ClassOf(CharAt(stop)) == cls; ++i)
        stop = cells.Next(bytes, stop);
    SetSelection(start, stop);
}

void THistoryView::SetPrimarySelection() const
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!HasSelection() || !clipboard->supportsSelection())
        return;
    const std::uint64_t length = FLayout.Cells().TextLength(FLayout.Bytes(), SelectionStart(),
                                                            SelectionEnd(), ClipboardLimit + 1);
    if (length <= ClipboardLimit)
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
    if (event->timerId() == FLayoutTimer.timerId()) {
        LayoutStep();
        return;
    }
    if (event->timerId() != FAutoScroll.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    QScrollBar *bar = verticalScrollBar();
    if (FLastMousePos.y() < 0)
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    SetSelection(FAnchor, PosAt(FLastMousePos));
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

void THistoryView::ShowFindBar()
{
    if (!FFindBar) {
        FFindBar = new QWidget(this);
        FFindBar->setObjectName(QStringLiteral("pnlFind"));
        FFindBar->setAutoFillBackground(true);
        auto *layout = new QHBoxLayout(FFindBar);
        layout->setContentsMargins(2, 2, 2, 2);
        FFindEdit = new QLineEdit(FFindBar);
        FFindEdit->setObjectName(QStringLiteral("edtFind"));
        FFindEdit->setPlaceholderText(tr("Find"));
        FFindHex = new QCheckBox(tr("Hex"), FFindBar);
        FFindHex->setObjectName(QStringLiteral("chkFindHex"));
        FFindHex->setToolTip(tr("Search for hex bytes, as \"0D 0A\""));
        FFindCount = new QLabel(FFindBar);
        FFindCount->setObjectName(QStringLiteral("lblFindCount"));
        const auto button = [&](const QString &name, const QString &text, auto slot) {
            auto *b = new QToolButton(FFindBar);
            b->setObjectName(name);
            b->setText(text);
            b->setFocusPolicy(Qt::NoFocus);
            connect(b, &QToolButton::clicked, this, slot);
            return b;
        };
        layout->addWidget(FFindEdit, 1);
        layout->addWidget(FFindHex);
        layout->addWidget(FFindCount);
        layout->addWidget(
            button(QStringLiteral("btnFindPrev"), tr("Previous"), &THistoryView::FindPrevious));
        layout->addWidget(
            button(QStringLiteral("btnFindNext"), tr("Next"), &THistoryView::FindNext));
        layout->addWidget(button(QStringLiteral("btnFindClose"), tr("Close"), [this] {
            FFindBar->hide();
            FSearch.Stop();
            PlaceFindBar();
            UpdateFindCount();
            viewport()->update();
            setFocus();
        }));
        const auto restart = [this] { Find(FFindEdit->text(), FFindHex->isChecked()); };
        connect(FFindEdit, &QLineEdit::textChanged, this, restart);
        connect(FFindHex, &QCheckBox::toggled, this, restart);
        connect(FFindEdit, &QLineEdit::returnPressed, this, [this] {
            if (QGuiApplication::keyboardModifiers() & Qt::ShiftModifier)
                FindPrevious();
            else
                FindNext();
        });
        // Keys of the view work from the bar too.
        FFindEdit->installEventFilter(this);
    }
    FFindBar->show();
    PlaceFindBar();
    FFindEdit->setFocus();
    FFindEdit->selectAll();
}

bool THistoryView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == FFindEdit && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape) {
            FFindBar->hide();
            FSearch.Stop();
            PlaceFindBar();
            UpdateFindCount();
            viewport()->update();
            setFocus();
            return true;
        }
        if (key->key() == Qt::Key_F3) {
            if (key->modifiers() & Qt::ShiftModifier)
                FindPrevious();
            else
                FindNext();
            return true;
        }
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

void THistoryView::PlaceFindBar()
{
    const bool shown = FFindBar && !FFindBar->isHidden();
    const int height = shown ? FFindBar->sizeHint().height() : 0;
    setViewportMargins(0, 0, 0, height);
    if (shown) {
        const QRect inside = contentsRect();
        FFindBar->setGeometry(inside.left(), inside.bottom() + 1 - height, inside.width(), height);
    }
}

void THistoryView::Find(const QString &query, bool hex)
{
    const TTextCells &cells = FLayout.Cells();
    const QByteArray text = query.toUtf8();
    ByteString pattern = ParseData(std::string_view(text.constData(), text.size()),
                                   hex ? dmHex : cells.Mode(), cells.EscChar());
    FSearch.Stop();
    if (!pattern.empty())
        FSearch.Start(FLayout.Bytes(), std::move(pattern));
    SearchStep();
    UpdateFindCount();
    viewport()->update();
}

void THistoryView::SearchStep()
{
    if (!FSearch.Active() || FSearchArmed)
        return;
    // One slice now and the rest on later turns of the event loop, so a
    // search over a large history never holds the window up.
    const std::size_t before = FSearch.Matches().size();
    const bool done = FSearch.Step();
    if (FSearch.Matches().size() != before)
        viewport()->update();
    UpdateFindCount();
    if (done)
        return;
    FSearchArmed = true;
    QTimer::singleShot(0, this, [this] {
        FSearchArmed = false;
        SearchStep();
    });
}

void THistoryView::UpdateFindCount()
{
    if (!FFindCount)
        return;
    if (!FSearch.Active()) {
        FFindCount->clear();
        return;
    }
    const auto count = static_cast<qulonglong>(FSearch.Matches().size());
    FFindCount->setText(FSearch.Done() ? (count == 1 ? tr("1 match") : tr("%1 matches").arg(count))
                                       : tr("%1 matches so far...").arg(count));
}

TTextPos THistoryView::MatchEnd(std::uint64_t byte) const
{
    const std::uint64_t last = byte + std::max<std::size_t>(FSearch.PatternSize(), 1) - 1;
    return FLayout.Cells().Mode() == dmHex ? PosOfByte(last) + 2 : PosOfByte(last + 1);
}

void THistoryView::GoToMatch(std::uint64_t byte)
{
    if (byte == UINT64_MAX)
        return;
    SetSelection(PosOfByte(byte), MatchEnd(byte));
    EnsureCursorVisible();
    FLayout.EnsurePos(PosOfByte(byte));
    // Keep the match's first byte in view too when it spans rows.
    const std::size_t startRow = FLayout.RowOf(PosOfByte(byte));
    if (startRow < FirstVisibleRow())
        verticalScrollBar()->setValue(ClampToInt(startRow));
}

void THistoryView::FindNext()
{
    const std::uint64_t from = HasSelection() ? ByteOfPos(SelectionStart()) : ByteOfPos(FCursor);
    GoToMatch(FSearch.NextAfter(from, !HasSelection()));
}

void THistoryView::FindPrevious()
{
    const std::uint64_t before = HasSelection() ? ByteOfPos(SelectionStart()) : ByteOfPos(FCursor);
    GoToMatch(FSearch.PrevBefore(before));
}

} // namespace kestrune
