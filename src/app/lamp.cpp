// The round status lamp of the TCP link.
#include "app/lamp.h"

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
    // A circle as wide as the box's smaller side, centred in the box; the pen stays inside it.
    const int d = qMin(width(), height());
    const QRectF circle((width() - d) / 2.0, (height() - d) / 2.0, d, d);
    p.drawEllipse(circle.adjusted(0.5, 0.5, -0.5, -0.5));
}

} // namespace morven

#include "moc_lamp.cpp"
