#pragma once

#include "app/view/RowLayout.h"

#include <QPointF>
#include <QRawFont>
#include <QRect>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

class QFont;
class QPainter;

namespace kestrune {

class THistoryView;

// Paints the rows of a history view on screen: each row's text in cells of
// one fixed width, frame prefixes, search matches, the selection and the
// caret. It holds the font's measures and glyphs, and formats only the rows
// it paints.
class THistoryPainter
{
public:
    // Gap between the frame and the text, as a memo leaves one.
    static constexpr qreal Margin = 2;

    THistoryPainter();

    void SetFont(const QFont &font);
    [[nodiscard]] qreal CharWidth() const { return FCharWidth; }
    [[nodiscard]] int LineHeight() const { return FLineHeight; }
    // Where the data of a row starts: after the margin and the frame prefix.
    [[nodiscard]] qreal DataLeft(std::size_t indent) const
    {
        return Margin + static_cast<qreal>(indent) * FCharWidth;
    }

    // Paints the view's rows from its first visible row into area, which
    // they are laid out for already.
    void Paint(QPainter &painter, const THistoryView &view, const QRect &area);

private:
    void DrawText(QPainter &painter, QPointF origin, const std::string &text);

    qreal FCharWidth = 8;
    qreal FAscent = 10;
    int FLineHeight = 14;
    QRawFont FRawFont;
    std::array<quint32, 256> FGlyphOfChar{};
    // Scratch buffers for one row, kept to spare an allocation per row.
    std::string FRowText;
    std::vector<quint32> FRunGlyphs;
    std::vector<QPointF> FRunGlyphPositions;
};

} // namespace kestrune
