#pragma once

#include "app/view/HistoryExport.h"
#include "app/view/HistoryFindBar.h"
#include "app/view/HistoryKeys.h"
#include "app/view/HistoryPainter.h"
#include "app/view/HistorySearch.h"
#include "app/view/RowLayout.h"
#include "app/view/ShownText.h"
#include "codec/EscChar.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QPoint>
#include <QRectF>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>

class QMenu;

namespace kestrune {

class THistoryMouse;

// A read-only view of a byte history that shows FormatData(history, mode,
// escChar) without ever building that text: it shares the history's chunks,
// keeps a row layout over them and formats only the rows on screen. Taking in
// a block costs the block; a repaint costs the visible rows. Until told to
// show the history again it keeps showing the bytes it has, however the
// history goes on (that is how a paused view stands still).
//
// The view keeps the layout, the selection and the scroll position; its
// controllers do the rest: THistoryPainter paints, THistoryKeys and
// THistoryMouse move the caret and select, THistoryFindBar searches, and
// THistoryExport copies and saves.
//
// The selection is kept as text positions, which name bytes, so it stays on
// the same bytes while the history grows and is trimmed. The vertical scroll
// bar is always shown: a bar that came and went would change the width,
// re-wrap the text and could flip back and forth.
class THistoryView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    // Larger selections are not put on the clipboard; Save As takes them.
    static constexpr std::uint64_t ClipboardLimit = THistoryExport::ClipboardLimit;

    // Asks where to save; an empty name means the user cancelled.
    using TAskFileName = THistoryExport::TAskFileName;
    // Tells the user something; error is true for a failure.
    using TReport = THistoryExport::TReport;

    explicit THistoryView(QWidget *parent = nullptr);

    // Shows the history as it is now. The same representation costs only what
    // was appended and trimmed since the last call; another one lays out anew.
    // Scroll position and selection stay, clamped to what is left. With
    // frames (the history's frame marks) each frame starts a line with its
    // time, and its origin when the origin column is on.
    void ShowHistory(const THistoryBytes &history, TDataMode mode, char escChar,
                     const TFrameMarks *frames = nullptr);
    // Character and Mixed text in this encoding from the next ShowHistory on.
    void SetEncoding(TEncoding encoding) { FEncoding = encoding; }
    [[nodiscard]] TEncoding Encoding() const { return FEncoding; }
    // Frame lines name the channel each frame came from.
    void SetOriginColumn(bool shown) { FOriginColumn = shown; }
    // Frame lines mark the frames that failed their check (where they begin,
    // ascending; it must outlive the view or be set back to null).
    void SetBadFrames(const std::deque<std::uint64_t> *badFrames) { FBadFrames = badFrames; }
    [[nodiscard]] const std::deque<std::uint64_t> *BadFrames() const { return FBadFrames; }
    [[nodiscard]] bool OriginColumn() const { return FOriginColumn; }
    // Names of the origins that are peers of one channel; they outlive the view.
    void SetOriginTags(const TOriginTags *tags) { FOriginTags = tags; }
    [[nodiscard]] const TOriginTags *OriginTags() const { return FOriginTags; }
    // The context menu offers "Show frames" checked as given, and the gap
    // submenu when gapMs is positive. Choices come back as signals; the
    // owner decides and shows the history again.
    void SetFrameChoices(bool showFrames, int gapMs)
    {
        FShowFramesChoice = showFrames;
        FGapChoice = gapMs;
    }
    // The line start of a frame: its time to the millisecond, and its origin.
    [[nodiscard]] std::string FramePrefix(const TFrameMark &mark) const;
    void Clear();
    // Moves the vertical scroll bar to its maximum, showing the last row.
    void ScrollToEnd();

    // The whole text shown, built on demand: for tests and small histories.
    [[nodiscard]] std::string Text() const;
    [[nodiscard]] const TRowLayout &Layout() const { return FLayout; }
    // Histories longer than this are laid out from their end first and the
    // rest on later turns of the event loop (tests use small values).
    void SetLazyLayoutBytes(std::size_t bytes) { FLayout.SetLazyBytes(bytes); }

    [[nodiscard]] QString SelectedText() const;
    [[nodiscard]] bool HasSelection() const { return FAnchor != FCursor; }
    [[nodiscard]] TTextPos SelectionStart() const { return std::min(FAnchor, FCursor); }
    [[nodiscard]] TTextPos SelectionEnd() const { return std::max(FAnchor, FCursor); }
    [[nodiscard]] TTextPos CursorPos() const { return FCursor; }
    // The end of the selection that stays while the cursor moves.
    [[nodiscard]] TTextPos AnchorPos() const { return FAnchor; }
    // Selects from anchor to cursor; the cursor is the end that keys move.
    void SetSelection(TTextPos anchor, TTextPos cursor);
    // Moves the cursor, taking the selection along when keepAnchor, and
    // scrolls it into view.
    void MoveCursor(TTextPos pos, bool keepAnchor);
    void EnsureCursorVisible();
    // Offers the selection to X11's primary selection, unless it is too large.
    void SetPrimarySelection() const { FExport.SetPrimarySelection(); }

    [[nodiscard]] std::size_t Columns() const { return FLayout.Columns(); }
    [[nodiscard]] std::size_t RowCount() const { return FLayout.RowCount(); }
    [[nodiscard]] std::size_t FirstVisibleRow() const;
    // Rows that fit wholly in the viewport (at least 1).
    [[nodiscard]] std::size_t VisibleRows() const;
    // Lays a lazily laid out history out as far as pos, so that rows up to
    // it are exact, and returns the layout.
    const TRowLayout &EnsureLaidOut(TTextPos pos);
    // The cell of the character at pos, in viewport coordinates.
    [[nodiscard]] QRectF PosRect(TTextPos pos) const;
    // The position a click at point in the viewport places the caret at.
    [[nodiscard]] TTextPos PosAt(QPoint point) const;
    // The position at a column of a row, or the row's end.
    [[nodiscard]] TTextPos PosInRow(std::size_t row, std::size_t column) const;
    // The column of pos in the row span.
    [[nodiscard]] std::size_t ColumnOf(const TRowSpan &span, TTextPos pos) const;

    // Search. The query is text in the view's representation, or hex bytes.
    void ShowFindBar() { FFindBar->Show(); }
    void Find(const QString &query, bool hex) { FFindBar->Find(query, hex); }
    void FindNext() { FFindBar->FindNext(); }
    void FindPrevious() { FFindBar->FindPrevious(); }
    [[nodiscard]] const THistorySearch &Search() const { return FFindBar->Search(); }
    [[nodiscard]] QWidget *FindBar() const { return FFindBar->Bar(); }
    // The text of [start of the match, its end) for the match starting at byte.
    [[nodiscard]] TTextPos MatchEnd(std::uint64_t byte) const { return FFindBar->MatchEnd(byte); }

    void SetAskFileName(TAskFileName ask) { FExport.SetAskFileName(std::move(ask)); }
    void SetReport(TReport report) { FExport.SetReport(std::move(report)); }
    // Writes the selection, or the whole text when nothing is selected, to
    // fileName in pieces; reports and returns false when that fails.
    bool SaveText(const QString &fileName) { return FExport.SaveText(fileName); }

    // The menu the context-menu event shows; the caller owns it. Kept apart
    // so the actions can be used without a modal menu loop.
    [[nodiscard]] QMenu *CreateContextMenu();

public slots:
    void selectAll();
    void copy() { FExport.Copy(); }
    void saveAs() { FExport.SaveAs(); }

signals:
    void copyAvailable(bool available);
    void showFramesToggled(bool shown);
    void frameGapChosen(int gapMs);
    // "Export CSV..." was chosen: the owner knows the frames and writes them.
    void exportCsvRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    [[nodiscard]] TShownText Shown() const
    {
        return TShownText(FLayout, FOriginColumn, FOriginTags, FBadFrames);
    }
    void PlaceFindBar();
    // Re-wraps for the current width and font, keeping the top row's text in
    // view, or the end when the view was showing the end.
    void Relayout();
    // Lays out more of a lazily laid out history on later turns of the event
    // loop, keeping the top row (or the end) in view as the row count firms up.
    void ArmLayout();
    void LayoutStep();
    void UpdateScrollRange();
    void ClampSelection(bool hadSelection);
    [[nodiscard]] std::size_t ColumnsForWidth() const;

    TRowLayout FLayout;
    bool FShowing = false; // a representation has been chosen
    bool FOriginColumn = false;
    const std::deque<std::uint64_t> *FBadFrames = nullptr;
    const TOriginTags *FOriginTags = nullptr;
    TEncoding FEncoding = TEncoding::Latin1;
    bool FShowFramesChoice = false;
    int FGapChoice = 0;
    TTextPos FAnchor = 0;
    TTextPos FCursor = 0;
    QBasicTimer FLayoutTimer;
    THistoryPainter FPainter;
    THistoryKeys FKeys;
    THistoryMouse *FMouse;
    THistoryFindBar *FFindBar;
    THistoryExport FExport;
};

} // namespace kestrune
