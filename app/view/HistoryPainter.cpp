#include "app/view/HistoryPainter.h"

#include "app/view/HistoryView.h"
#include "encoding/TextEncoding.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QtMath>

#include <algorithm>

namespace kestrune {

THistoryPainter::THistoryPainter() = default;

void THistoryPainter::SetFont(const QFont &font)
{
    FRawFont = QRawFont::fromFont(font);
    QString all(256, QChar());
    for (int c = 0; c < 256; ++c)
        all[c] = QChar(c);
    const QList<quint32> glyphs = FRawFont.glyphIndexesForString(all);
    std::copy_n(glyphs.begin(), std::min<qsizetype>(glyphs.size(), 256), FGlyphOfChar.begin());
    // The advance the glyphs are placed at; a fixed-width font has one for all.
    const QFontMetricsF metrics(font);
    FCharWidth = std::max<qreal>(1, metrics.horizontalAdvance(QLatin1Char('0')));
    FLineHeight = std::max(1, qCeil(metrics.lineSpacing()));
    FAscent = metrics.ascent();
}

void THistoryPainter::DrawText(QPainter &painter, QPointF origin, const std::string &text)
{
    // ASCII maps straight to glyphs at fixed columns: no shaping per paint,
    // and the glyphs land exactly where selection and clicks expect them.
    // Blanks draw nothing, so they are left out (a third of a Hex text).
    // Decoded characters go through the painter, which finds a font that has
    // them, each at its own column.
    FRunGlyphs.clear();
    FRunGlyphPositions.clear();
    std::size_t column = 0;
    for (std::size_t i = 0; i < text.size(); ++column) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            if (c != ' ') {
                FRunGlyphs.push_back(FGlyphOfChar[c]);
                FRunGlyphPositions.emplace_back(static_cast<qreal>(column) * FCharWidth, 0);
            }
            continue;
        }
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        const QString glyph = QString::fromUtf8(
            text.data() + i, static_cast<qsizetype>(std::min(length, text.size() - i)));
        i += length;
        painter.drawText(origin + QPointF(static_cast<qreal>(column) * FCharWidth, 0), glyph);
        column += ColumnsOf(glyph.toUcs4().value(0)) - 1;
    }
    if (FRunGlyphs.empty())
        return;
    QGlyphRun run;
    run.setRawFont(FRawFont);
    run.setRawData(FRunGlyphs.data(), FRunGlyphPositions.data(),
                   static_cast<int>(FRunGlyphs.size()));
    painter.drawGlyphRun(origin, run);
}

void THistoryPainter::Paint(QPainter &painter, const THistoryView &view, const QRect &area)
{
    const QPalette &colours = view.palette();
    painter.fillRect(area, colours.brush(QPalette::Base));

    const TRowLayout &layout = view.Layout();
    const TTextCells &cells = layout.Cells();
    const auto columnOf = [&](const TRowSpan &span, TTextPos pos) {
        return static_cast<std::size_t>(
            cells.TextLength(layout.Bytes(), span.Start, std::min(pos, span.End)));
    };
    const QBrush highlight = colours.brush(QPalette::Highlight);
    const QPen highlightedText(colours.color(QPalette::HighlightedText));
    const QPen normalText(colours.color(QPalette::Text));
    const QColor prefixColour = colours.color(QPalette::PlaceholderText);
    // A frame that failed its check stands out from the quiet prefixes.
    const QColor badColour = colours.color(QPalette::LinkVisited);
    QColor matchColour = colours.color(QPalette::Highlight);
    // Light marks vanish on a dark base: there they are drawn stronger.
    matchColour.setAlpha(colours.color(QPalette::Base).lightness() < 128 ? 150 : 80);
    const TTextPos selStart = view.SelectionStart();
    const TTextPos selEnd = view.SelectionEnd();
    const std::size_t shown = static_cast<std::size_t>(area.height() / FLineHeight) + 1;
    const std::size_t first = view.FirstVisibleRow();
    const qreal left = DataLeft(layout.Indent());
    const TFrameMarks &frames = layout.Frames();
    const std::deque<std::uint64_t> &matches = view.Search().Matches();
    const std::uint64_t patternSize = view.Search().PatternSize();
    TTextPos shownFrom = UINT64_MAX;
    TTextPos shownTo = 0;
    std::size_t row = first;

    layout.VisitRows(first, shown, [&](const TRowSpan &span) {
        shownFrom = std::min(shownFrom, span.Start);
        shownTo = std::max(shownTo, span.End);
        const qreal top = static_cast<qreal>((row++ - first) * FLineHeight);
        const qreal baseline = top + FAscent;
        if (layout.Framed()) {
            const std::uint64_t seq = frames.Find(ByteOfPos(span.Start));
            if (seq != TFrameMarks::None &&
                (span.Start == PosOfByte(frames.PosAt(seq)) || span.Start == layout.TextBegin())) {
                const TFrameMark mark = frames.At(seq);
                painter.setPen(TShownText::FrameBad(mark, view.BadFrames()) ? badColour
                                                                            : prefixColour);
                DrawText(painter, QPointF(Margin, baseline), view.FramePrefix(mark));
            }
        }
        // Matches that touch the row, lightly marked under the text.
        if (!matches.empty() && span.Start < span.End) {
            const std::uint64_t firstByte = ByteOfPos(span.Start);
            auto it = std::lower_bound(matches.begin(), matches.end(),
                                       firstByte >= patternSize ? firstByte - patternSize + 1 : 0);
            for (; it != matches.end() && PosOfByte(*it) < span.End; ++it) {
                const TTextPos from = std::max(PosOfByte(*it), span.Start);
                const TTextPos to = std::min(view.MatchEnd(*it), span.End);
                if (from >= to)
                    continue;
                const std::size_t c0 = columnOf(span, from);
                const std::size_t c1 = columnOf(span, to);
                painter.fillRect(QRectF(left + static_cast<qreal>(c0) * FCharWidth, top,
                                        static_cast<qreal>(c1 - c0) * FCharWidth, FLineHeight),
                                 matchColour);
            }
        }
        FRowText.clear();
        cells.AppendText(layout.Bytes(), span.Start, span.End, FRowText);
        painter.setPen(normalText);
        DrawText(painter, QPointF(left, baseline), FRowText);
        if (selStart >= selEnd || selEnd < span.Start || selStart > span.End)
            return true;
        const std::size_t from = columnOf(span, std::max(selStart, span.Start));
        const std::size_t to = columnOf(span, std::min(selEnd, span.End));
        // A selected line break shows as one highlighted cell after the row.
        const bool breakSelected = selEnd > span.End && span.Break;
        const qreal x = left + static_cast<qreal>(from) * FCharWidth;
        const qreal width = static_cast<qreal>(to - from) + (breakSelected ? 1 : 0);
        if (width <= 0)
            return true;
        painter.fillRect(QRectF(x, top, width * FCharWidth, FLineHeight), highlight);
        painter.setPen(highlightedText);
        FRowText.clear();
        cells.AppendText(layout.Bytes(), std::max(selStart, span.Start), std::min(selEnd, span.End),
                         FRowText);
        DrawText(painter, QPointF(x, baseline), FRowText);
        return true;
    });

    // Only a caret among the rows shown is looked up: one far off could be in
    // rows not laid out yet.
    const TTextPos cursor = view.CursorPos();
    if (view.hasFocus() && cursor >= shownFrom && cursor <= shownTo) {
        const QRectF caret = view.PosRect(cursor);
        if (caret.bottom() > 0 && caret.top() < area.height())
            painter.fillRect(QRectF(caret.left(), caret.top(), 1, caret.height()),
                             colours.color(QPalette::Text));
    }
}

} // namespace kestrune
