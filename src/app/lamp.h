// The round status lamp of the TCP link.
#pragma once

#include <QColor>
#include <QWidget>

namespace morven {

// A round status lamp filled with one colour: a circle centred in its box, however the box is shaped.
class Lamp : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QRgb fillColor READ fillColor WRITE setFillColor)
public:
    explicit Lamp(QWidget *parent = nullptr);

    QRgb fillColor() const { return fill_; }
    void setFillColor(QRgb rgb);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRgb fill_ = 0x808080;
};

} // namespace morven
