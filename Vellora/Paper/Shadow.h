#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

namespace Paper {

// A soft shadow under a rounded rectangle: the shape in the shadow's colour, blurred. The blurred image is
// expensive, so it is kept in Qt's pixmap cache under its size, radius, colour and the screen's scale.
class Shadow
{
public:
    // `blur` is the shadow's blur radius; the blur is Gaussian with a standard deviation of half of it.
    Shadow(QColor color, qreal blur, QPointF offset);

    void setColor(const QColor &color);
    // Draws the shadow of the shape, which lies at `shape` in the painter's coordinates.
    void paint(QPainter &painter, const QRectF &shape, qreal radius);
    // How far the shadow reaches beyond the shape on every side, offset included.
    qreal reach() const;

private:
    QColor m_color;
    qreal m_blur;
    QPointF m_offset;
};

} // namespace Paper
