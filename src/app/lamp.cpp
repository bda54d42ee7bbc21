#include "lamp.h"

#include <QPainter>

namespace morven {

Lamp::Lamp(QWidget *parent)
    : QWidget(parent)
{ }

void Lamp::setFillColor(QRgb rgb)
{
    rgb &= 0xFFFFFF;
    if (rgb == fill_)
        return;
    fill_ = rgb;
    update();
}

void Lamp::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(fill_));
    p.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

} // namespace morven
