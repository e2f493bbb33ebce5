#include "app/PinHelpFrm.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include <algorithm>
#include <array>

namespace kestrune {

namespace {

constexpr QSize PictureSize(349, 522);
// The picture area is a few pixels smaller than the picture; everything that
// matters is kept inside it.
constexpr QSize PictureArea(345, 521);
constexpr QPoint DesignedPosition(707, 391);
// The window's outer size with its frame and title bar.
constexpr QSize OuterSize(355, 556);

constexpr int Margin = 8;
constexpr int Right = PictureArea.width() - Margin;

const QColor Ink(0x20, 0x20, 0x20);
const QColor Rule(0xB8, 0xB8, 0xB8);
const QColor Shell(0xC9, 0xCE, 0xD4);
const QColor MaleInsulator(0xF2, 0xEB, 0xD3);
const QColor FemaleInsulator(0x4A, 0x4F, 0x57);
const QColor HeaderFill(0x3C, 0x5A, 0x80);
const QColor StripeFill(0xEE, 0xF2, 0xF7);
const QColor InArrow(0x1F, 0x7A, 0x3A);
const QColor OutArrow(0xB0, 0x3A, 0x2E);

enum class TDir
{
    ToComputer,
    FromComputer,
    Ground
};

struct TPinRow
{
    int Pin;
    const char *Name;
    const char *Eia232;
    const char *V24;
    TDir Dir;
    const char *Description;
};

constexpr std::array<TPinRow, 9> PinRows{{
    {1, "DCD", "CF", "109", TDir::ToComputer, "Data Carrier Detect"},
    {2, "RXD", "BB", "104", TDir::ToComputer, "Received Data"},
    {3, "TXD", "BA", "103", TDir::FromComputer, "Transmitted Data"},
    {4, "DTR", "CD", "108/2", TDir::FromComputer, "Data Terminal Ready"},
    {5, "GND", "AB", "102", TDir::Ground, "Signal Ground"},
    {6, "DSR", "CC", "107", TDir::ToComputer, "Data Set Ready"},
    {7, "RTS", "CA", "105", TDir::FromComputer, "Request To Send"},
    {8, "CTS", "CB", "106", TDir::ToComputer, "Clear To Send"},
    {9, "RI", "CE", "125", TDir::ToComputer, "Ring Indicator"},
}};

QFont PictureFont(int pixelSize, bool bold = false)
{
    // Pixel sizes keep the layout the same whatever the screen's resolution.
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QPolygonF Trapezoid(QPointF centre, qreal topHalf, qreal bottomHalf, qreal halfHeight)
{
    return QPolygonF(
        {centre + QPointF(-topHalf, -halfHeight), centre + QPointF(topHalf, -halfHeight),
         centre + QPointF(bottomHalf, halfHeight), centre + QPointF(-bottomHalf, halfHeight)});
}

// A DE-9 face seen from the front. `numbers` gives the pin number shown at each
// position: upper row left to right, then lower row left to right.
void DrawConnector(QPainter &p, QPointF centre, bool male, const std::array<int, 9> &numbers)
{
    constexpr qreal Pitch = 24;
    constexpr qreal RowOffset = 10;
    constexpr qreal PinRadius = 4.5;

    p.setPen(QPen(Ink, 1));
    p.setBrush(Shell);
    p.drawRoundedRect(QRectF(centre.x() - 95, centre.y() - 38, 190, 76), 5, 5);
    for (qreal side : {-1.0, 1.0}) {
        p.setBrush(Qt::white);
        p.drawEllipse(centre + QPointF(side * 81, 0), 6, 6);
    }

    QPen outline(Ink, 1.5);
    outline.setJoinStyle(Qt::RoundJoin);
    p.setPen(outline);
    p.setBrush(Shell.darker(112));
    p.drawPolygon(Trapezoid(centre, 71, 59, 33));
    p.setBrush(male ? MaleInsulator : FemaleInsulator);
    p.drawPolygon(Trapezoid(centre, 65, 53, 28));

    p.setFont(PictureFont(9, true));
    const QColor numberColour = male ? Ink : QColor(Qt::white);
    for (int i = 0; i < 9; ++i) {
        const bool upper = i < 5;
        const qreal x = upper ? (i - 2) * Pitch : (i - 5 - 1.5) * Pitch;
        const qreal y = upper ? -RowOffset : RowOffset;
        const QPointF pin = centre + QPointF(x, y);
        if (male) {
            p.setPen(QPen(Ink, 1));
            p.setBrush(QColor(0xB0, 0x8D, 0x2F));
        } else {
            p.setPen(QPen(QColor(0xD8, 0xD8, 0xD8), 1.5));
            p.setBrush(QColor(0x15, 0x15, 0x15));
        }
        p.drawEllipse(pin, PinRadius, PinRadius);
        p.setPen(numberColour);
        const QRectF label(pin.x() - 8, pin.y() + (upper ? -19 : 6), 16, 12);
        p.drawText(label, Qt::AlignCenter, QString::number(numbers[i]));
    }
}

void DrawCaption(QPainter &p, int top, const QString &title, const QStringList &lines)
{
    const int x = 212;
    p.setPen(Ink);
    p.setFont(PictureFont(12, true));
    p.drawText(QRect(x, top, Right - x, 16), Qt::AlignLeft | Qt::AlignVCenter, title);
    p.setFont(PictureFont(11));
    for (int i = 0; i < lines.size(); ++i)
        p.drawText(QRect(x, top + 18 + i * 15, Right - x, 15), Qt::AlignLeft | Qt::AlignVCenter,
                   lines[i]);
}

// An arrow across `cell`: pointing left means into the computer, whose side
// the table is read from.
void DrawDirection(QPainter &p, QRectF cell, TDir dir)
{
    const qreal y = cell.center().y();
    const qreal left = cell.left() + 6;
    const qreal right = cell.right() - 6;
    if (dir == TDir::Ground) {
        p.setPen(QPen(Ink, 2, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(left + 2, y), QPointF(right - 2, y));
        return;
    }
    const bool toComputer = dir == TDir::ToComputer;
    const QColor colour = toComputer ? InArrow : OutArrow;
    const qreal tip = toComputer ? left : right;
    const qreal tail = toComputer ? right : left;
    const qreal back = toComputer ? tip + 7 : tip - 7;
    p.setPen(QPen(colour, 2, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(tail, y), QPointF(back, y));
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(QPolygonF({QPointF(tip, y), QPointF(back, y - 4.5), QPointF(back, y + 4.5)}));
}

int DrawTable(QPainter &p, int top)
{
    struct TColumn
    {
        const char *Title;
        int Width;
        Qt::Alignment Align;
    };
    constexpr int RowHeight = 20;
    const std::array<TColumn, 6> columns{{{"Pin", 28, Qt::AlignCenter},
                                          {"Name", 40, Qt::AlignCenter},
                                          {"RS232", 44, Qt::AlignCenter},
                                          {"V.24", 42, Qt::AlignCenter},
                                          {"Dir", 36, Qt::AlignCenter},
                                          {"Description", 0, Qt::AlignLeft | Qt::AlignVCenter}}};
    std::array<QRect, 6> cells;
    int x = Margin;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const int width = columns[c].Width ? columns[c].Width : Right - x;
        cells[c] = QRect(x, 0, width, RowHeight);
        x += width;
    }
    auto cellAt = [&](std::size_t c, int y) {
        QRect cell = cells[c].translated(0, y);
        if (c + 1 == cells.size())
            cell.adjust(6, 0, 0, 0);
        return cell;
    };

    p.setPen(Qt::NoPen);
    p.setBrush(HeaderFill);
    p.drawRect(QRect(Margin, top, Right - Margin, RowHeight));
    p.setPen(Qt::white);
    p.setFont(PictureFont(11, true));
    for (std::size_t c = 0; c < columns.size(); ++c)
        p.drawText(cellAt(c, top), columns[c].Align, columns[c].Title);

    int y = top + RowHeight;
    for (std::size_t r = 0; r < PinRows.size(); ++r, y += RowHeight) {
        const TPinRow &row = PinRows[r];
        p.setPen(Qt::NoPen);
        p.setBrush(r % 2 ? StripeFill : QColor(Qt::white));
        p.drawRect(QRect(Margin, y, Right - Margin, RowHeight));
        p.setPen(Ink);
        p.setFont(PictureFont(11, true));
        p.drawText(cellAt(0, y), columns[0].Align, QString::number(row.Pin));
        p.drawText(cellAt(1, y), columns[1].Align, row.Name);
        p.setFont(PictureFont(11));
        p.drawText(cellAt(2, y), columns[2].Align, row.Eia232);
        p.drawText(cellAt(3, y), columns[3].Align, row.V24);
        p.drawText(cellAt(5, y), columns[5].Align, row.Description);
        DrawDirection(p, cellAt(4, y), row.Dir);
    }

    p.setPen(QPen(Rule, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(Margin, top, Right - Margin - 1, y - top - 1));
    for (std::size_t c = 1; c < cells.size(); ++c)
        p.drawLine(cells[c].left(), top + RowHeight, cells[c].left(), y - 1);
    return y;
}

void DrawNotes(QPainter &p, int top)
{
    // The legend draws the same arrows as the table.
    p.setFont(PictureFont(11));
    p.setPen(Ink);
    DrawDirection(p, QRectF(Margin, top, 36, 16), TDir::ToComputer);
    p.setPen(Ink);
    p.drawText(QRect(Margin + 38, top, 120, 16), Qt::AlignLeft | Qt::AlignVCenter,
               "into the computer");
    DrawDirection(p, QRectF(170, top, 36, 16), TDir::FromComputer);
    p.setPen(Ink);
    p.drawText(QRect(208, top, Right - 208, 16), Qt::AlignLeft | Qt::AlignVCenter,
               "out of the computer");

    const QStringList notes{
        "Note 1: Dir is the direction at the computer (DTE) relative to the modem (DCE).",
        "Note 2: RS232 gives the EIA-232 circuit name, V.24 the circuit number of ITU-T V.24."};
    int y = top + 24;
    for (const QString &note : notes) {
        const QRect box(Margin, y, Right - Margin, 32);
        p.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, note);
        y += 36;
    }
}

} // namespace

QImage RenderPinHelpPicture()
{
    QImage image(PictureSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    p.setPen(Ink);
    p.setFont(PictureFont(20, true));
    p.drawText(QRect(Margin, 4, Right - Margin, 26), Qt::AlignLeft | Qt::AlignVCenter, "Pinout");
    p.setFont(PictureFont(11));
    p.drawText(QRect(100, 4, Right - 100, 26), Qt::AlignRight | Qt::AlignVCenter,
               "9-pin serial port (DE-9)");
    p.setPen(QPen(HeaderFill, 2));
    p.drawLine(Margin, 33, Right, 33);

    DrawConnector(p, QPointF(107, 80), true, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    DrawCaption(p, 52, "Male (DE-9M)", {"at the computer,", "seen from the front"});
    DrawConnector(p, QPointF(107, 168), false, {5, 4, 3, 2, 1, 9, 8, 7, 6});
    DrawCaption(p, 140, "Female (DE-9F)", {"at the cable,", "seen from the front"});

    const int tableEnd = DrawTable(p, 216);
    DrawNotes(p, tableEnd + 10);
    return image;
}

QPoint PlaceOnScreen(QPoint designed, QSize frameSize, QRect available)
{
    const int x = std::max(available.left(),
                           std::min(designed.x(), available.right() + 1 - frameSize.width()));
    const int y = std::max(available.top(),
                           std::min(designed.y(), available.bottom() + 1 - frameSize.height()));
    return {x, y};
}

TfrmPinHelp::TfrmPinHelp(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName("frmPinHelp");
    setWindowTitle("Help Port Pin");
    setFixedSize(PictureArea);

    imgPinHelp = new QLabel(this);
    imgPinHelp->setObjectName("imgPinHelp");
    imgPinHelp->setGeometry(QRect(QPoint(0, 0), PictureArea));
    imgPinHelp->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    imgPinHelp->setScaledContents(false);
    imgPinHelp->setPixmap(QPixmap::fromImage(RenderPinHelpPicture()));

    // The designed place, moved onto the screen where that would cut it off.
    QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    move(screen ? PlaceOnScreen(DesignedPosition, OuterSize, screen->availableGeometry())
                : DesignedPosition);
}

} // namespace kestrune
