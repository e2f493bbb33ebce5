#include "app/StatusLamp.h"

#include <QPainter>

namespace kestrune {

TStatusLamp::TStatusLamp(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(20, 20);
}

void TStatusLamp::SetColor(const QColor &color)
{
    if (color == FColor)
        return;
    FColor = color;
    update();
}

void TStatusLamp::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int d = qMin(width(), height()) - 2;
    const QRectF circle((width() - d) / 2.0, (height() - d) / 2.0, d, d);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(FColor);
    p.drawEllipse(circle);
}

} // namespace kestrune
