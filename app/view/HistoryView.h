#pragma once

#include "app/view/HistorySearch.h"
#include "app/view/RowLayout.h"
#include "codec/EscChar.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QPoint>
#include <QPointF>
#include <QRawFont>
#include <QRectF>
#include <QString>

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPainter;

namespace kestrune {

// A read-only view of a byte history that shows FormatData(history, mode,
// escChar) without ever building that text: it shares the history's chunks,
// keeps a row layout over them and formats only the rows on screen. Taking in
// a block costs the block; a repaint costs the visible rows. Until told to
// show the history again it keeps showing the bytes it has, however the
// history goes on (that is how a paused view stands still).
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
    static constexpr std::uint64_t ClipboardLimit = 64ull << 20;

    // Asks where to save; an empty name means the user cancelled.
    using TAskFileName = std::function<QString()>;
    // Tells the user something; error is true for a failure.
    using TReport = std::function<void(const QString &text, bool error)>;

    explicit THistoryView(QWidget *parent = nullptr);

    // Shows the history as it is now. The same representation costs only what
    // was appended and trimmed since the last call; another one lays out anew.
    // Scroll position and selection stay, clamped to what is left. With
    // frames (the history's frame marks) each frame starts a line with its
    // time, and its origin when the origin column is on.
    void ShowHistory(const THistoryBytes &history, TDataMode mode, char escChar,
                     const TFrameMarks *frames = nullptr);
    // Frame lines name the channel each frame came from.
    void SetOriginColumn(bool shown) { FOriginColumn = shown; }
    [[nodiscard]] bool OriginColumn() const { return FOriginColumn; }
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
    // Selects from anchor to cursor; the cursor is the end that keys move.
    void SetSelection(TTextPos anchor, TTextPos cursor);

    [[nodiscard]] std::size_t Columns() const { return FLayout.Columns(); }
    [[nodiscard]] std::size_t RowCount() const { return FLayout.RowCount(); }
    [[nodiscard]] std::size_t FirstVisibleRow() const;
    // Rows that fit wholly in the viewport (at least 1).
    [[nodiscard]] std::size_t VisibleRows() const;
    // The cell of the character at pos, in viewport coordinates.
    [[nodiscard]] QRectF PosRect(TTextPos pos) const;
    // The position a click at point in the viewport places the caret at.
    [[nodiscard]] TTextPos PosAt(QPoint point) const;

    // Search. The query is text in the view's representation, or hex bytes.
    void ShowFindBar();
    void Find(const QString &query, bool hex);
    void FindNext();
    void FindPrevious();
    [[nodiscard]] const THistorySearch &Search() const { return FSearch; }
    [[nodiscard]] QWidget *FindBar() const { return FFindBar; }
    // The text of [start of the match, its end) for the match starting at byte.
    [[nodiscard]] TTextPos MatchEnd(std::uint64_t byte) const;

    void SetAskFileName(TAskFileName ask) { FAskFileName = std::move(ask); }
    void SetReport(TReport report) { FReport = std::move(report); }
    // Writes the selection, or the whole text when nothing is selected, to
    // fileName in pieces; reports and returns false when that fails.
    bool SaveText(const QString &fileName);

    // The menu the context-menu event shows; the caller owns it. Kept apart
    // so the actions can be used without a modal menu loop.
    [[nodiscard]] QMenu *CreateContextMenu();

public slots:
    void selectAll();
    void copy();
    void saveAs();

signals:
    void copyAvailable(bool available);
    void showFramesToggled(bool shown);
    void frameGapChosen(int gapMs);

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
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Remeasure();
    // The shown text of [from, to): with frames, each frame on a line of its
    // own after its prefix. lineOpen says out holds a line already;
    // withFirstPrefix gives a part that begins at a frame's start its prefix.
    void AppendShown(TTextPos from, TTextPos to, std::string &out, bool &lineOpen,
                     bool withFirstPrefix) const;
    [[nodiscard]] bool WholeSelected() const;
    [[nodiscard]] qreal DataLeft() const;
    void SearchStep();
    void UpdateFindCount();
    void PlaceFindBar();
    void GoToMatch(std::uint64_t byte);
    void DrawText(QPainter &painter, QPointF origin, const std::string &text);
    // Re-wraps for the current width and font, keeping the top row's text in
    // view, or the end when the view was showing the end.
    void Relayout();
    // Lays out more of a lazily laid out history on later turns of the event
    // loop, keeping the top row (or the end) in view as the row count firms up.
    void ArmLayout();
    void LayoutStep();
    void UpdateScrollRange();
    void ClampSelection(bool hadSelection);
    void MoveCursor(TTextPos pos, bool keepAnchor);
    void EnsureCursorVisible();
    void SelectWordAt(TTextPos pos);
    void SetPrimarySelection() const;
    void Report(const QString &text, bool error) const;
    [[nodiscard]] std::size_t ColumnsForWidth() const;
    [[nodiscard]] TTextPos StepLeft(TTextPos pos) const;
    [[nodiscard]] TTextPos StepRight(TTextPos pos) const;
    [[nodiscard]] TTextPos PosInRow(std::size_t row, std::size_t column) const;
    [[nodiscard]] std::size_t ColumnOf(const TRowSpan &span, TTextPos pos) const;
    [[nodiscard]] char CharAt(TTextPos pos) const;

    TRowLayout FLayout;
    bool FShowing = false; // a representation has been chosen
    bool FOriginColumn = false;
    bool FShowFramesChoice = false;
    int FGapChoice = 0;
    THistorySearch FSearch;
    bool FSearchArmed = false; // a step is queued on the event loop
    QWidget *FFindBar = nullptr;
    QLineEdit *FFindEdit = nullptr;
    QCheckBox *FFindHex = nullptr;
    QLabel *FFindCount = nullptr;
    TTextPos FAnchor = 0;
    TTextPos FCursor = 0;
    qreal FCharWidth = 8;
    qreal FAscent = 10;
    int FLineHeight = 14;
    bool FDragging = false;
    QPoint FLastMousePos;
    QBasicTimer FAutoScroll;
    QBasicTimer FLayoutTimer;
    QRawFont FRawFont;
    std::array<quint32, 256> FGlyphOfChar{};
    TAskFileName FAskFileName;
    TReport FReport;
    // Scratch buffers for one row, kept to spare an allocation per row.
    std::string FRowText;
    std::vector<quint32> FRunGlyphs;
    std::vector<QPointF> FRunGlyphPositions;
};

} // namespace kestrune
