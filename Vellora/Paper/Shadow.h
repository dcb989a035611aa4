#pragma once

#include <QColor>
#include <QPixmap>
#include <QRectF>

class QPainter;

namespace Paper {

// A soft shadow under a rounded rectangle: the shape in the shadow's colour, blurred. The blurred image is
// expensive, so it is kept and made again only when the shape's size, radius or the screen's scale changes.
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
    QPixmap m_cache;
    QSizeF m_cachedSize;
    qreal m_cachedRadius = -1;
    qreal m_cachedScale = 0;
};

// The blurred shape itself: a premultiplied image `padding` larger on every side than the shape. Blurring every
// pixel gives the same image, slower.
enum class Blur { repeatingTheMiddle, everyPixel };
QImage blurredRoundedRect(QSizeF size, qreal radius, QColor color, qreal blur, qreal scale, int *padding,
                          Blur blurred = Blur::repeatingTheMiddle);

} // namespace Paper
