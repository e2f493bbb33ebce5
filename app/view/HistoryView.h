#pragma once

#include "app/view/RowIndex.h"

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
#include <string>
#include <vector>

class QMenu;
class QPainter;

namespace kestrune {

// A read-only view of a text history (ASCII plus CR and LF) that stays fast at
// any size: setting a text costs one line scan, a repaint touches only the
// visible rows. Long lines wrap at the view's width in whole characters of the
// fixed-width font the owner sets.
//
// The selection is kept as character offsets, so it survives a text that grows.
// The vertical scroll bar is always shown: a bar that came and went would change
// the width, re-wrap the text and could flip back and forth.
class THistoryView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit THistoryView(QWidget *parent = nullptr);

    // Takes the text over; O(n) for the line scan. Scroll position and
    // selection stay (clamped to the new text).
    void SetText(std::string text);
    [[nodiscard]] const std::string &Text() const { return FText; }
    void Clear();
    // Moves the vertical scroll bar to its maximum, showing the last row.
    void ScrollToEnd();

    [[nodiscard]] QString SelectedText() const;
    [[nodiscard]] bool HasSelection() const { return FAnchor != FCursor; }
    [[nodiscard]] std::size_t SelectionStart() const { return std::min(FAnchor, FCursor); }
    [[nodiscard]] std::size_t SelectionEnd() const { return std::max(FAnchor, FCursor); }
    [[nodiscard]] std::size_t CursorOffset() const { return FCursor; }
    // Selects from anchor to cursor; the cursor is the end that keys move.
    void SetSelection(std::size_t anchor, std::size_t cursor);

    [[nodiscard]] std::size_t Columns() const { return FIndex.Columns(); }
    [[nodiscard]] std::size_t RowCount() const { return FIndex.RowCount(); }
    [[nodiscard]] std::size_t FirstVisibleRow() const;
    // Rows that fit wholly in the viewport (at least 1).
    [[nodiscard]] std::size_t VisibleRows() const;
    // The cell of the character at offset, in viewport coordinates.
    [[nodiscard]] QRectF OffsetRect(std::size_t offset) const;
    // The offset a click at pos in the viewport places the caret at.
    [[nodiscard]] std::size_t OffsetAt(QPoint pos) const;

    // The menu the context-menu event shows; the caller owns it. Kept apart
    // so the actions can be used without a modal menu loop.
    [[nodiscard]] QMenu *CreateContextMenu();

public slots:
    void selectAll();
    void copy();

signals:
    void copyAvailable(bool available);

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
    void Remeasure();
    void DrawChars(QPainter &painter, QPointF origin, std::size_t offset, std::size_t count);
    // Re-wraps for the current width and font, keeping the top row's text in
    // view, or the end when the view was showing the end.
    void Relayout();
    void UpdateScrollRange();
    void MoveCursor(std::size_t offset, bool keepAnchor);
    void EnsureCursorVisible();
    void SelectWordAt(std::size_t offset);
    void SetPrimarySelection() const;
    [[nodiscard]] std::size_t ColumnsForWidth() const;
    [[nodiscard]] std::size_t StepLeft(std::size_t offset) const;
    [[nodiscard]] std::size_t StepRight(std::size_t offset) const;
    [[nodiscard]] std::size_t OffsetInRow(std::size_t row, std::size_t column) const;

    std::string FText;
    TRowIndex FIndex;
    std::size_t FAnchor = 0;
    std::size_t FCursor = 0;
    qreal FCharWidth = 8;
    qreal FAscent = 10;
    int FLineHeight = 14;
    bool FDragging = false;
    QPoint FLastMousePos;
    QBasicTimer FAutoScroll;
    QRawFont FRawFont;
    std::array<quint32, 256> FGlyphOfChar{};
    // Scratch buffers for one glyph run, kept to spare an allocation per row.
    std::vector<quint32> FRunGlyphs;
    std::vector<QPointF> FRunPositions; // column positions, grown on demand
    std::vector<QPointF> FRunGlyphPositions;
};

} // namespace kestrune
