#include "Vellora/Paper/Canvas.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/Paper.h"

#include <QEvent>
#include <QPainter>
#include <QRadialGradient>

namespace Paper {

Canvas::Canvas(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void Canvas::paintDesk(QPainter &painter, const QRect &area)
{
    const qreal scale = devicePixelRatioF();
    if (m_desk.isNull() || m_desk.deviceIndependentSize() != QSizeF(area.size()) ||
        m_desk.devicePixelRatio() != scale) {
        m_desk = QPixmap((QSizeF(area.size()) * scale).toSize());
        m_desk.setDevicePixelRatio(scale);
        const Scheme scheme = schemeOf(this);
        QPainter desk(&m_desk);
        desk.fillRect(QRect(QPoint(), area.size()), Paper::palette(scheme).desk);
        if (scheme == Scheme::light) {
            // The glow changes by less than one colour level over a few pixels: made at a quarter of the size, only
            // where it reaches, and scaled up without smoothing, it looks the same and costs the first frame of a
            // window a small part of what painting it point by point does.
            constexpr int kReduction = 4;
            const QPointF centre(area.width() / 2.0, 0);
            const QRect reach = QRectF(centre.x() - kGlowRadius, 0, 2 * kGlowRadius, kGlowRadius)
                                    .toAlignedRect()
                                    .intersected(QRect(QPoint(), area.size()));
            QImage glowImage(reach.size() / kReduction + QSize(1, 1), QImage::Format_ARGB32_Premultiplied);
            glowImage.fill(Qt::transparent);
            QPainter glowPainter(&glowImage);
            glowPainter.scale(1.0 / kReduction, 1.0 / kReduction);
            glowPainter.translate(-reach.topLeft());
            QRadialGradient glow(centre, kGlowRadius);
            QColor white(Qt::white);
            white.setAlphaF(kGlowOpacity);
            glow.setColorAt(0, white);
            white.setAlphaF(0);
            glow.setColorAt(1, white);
            glowPainter.fillRect(QRect(reach.topLeft(), glowImage.size() * kReduction), glow);
            glowPainter.end();
            desk.drawImage(QRect(reach.topLeft(), glowImage.size() * kReduction), glowImage);
        }
    }
    painter.drawPixmap(area.topLeft(), m_desk);
}

void Canvas::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintDesk(painter, rect());
}

void Canvas::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        m_desk = QPixmap();
    QWidget::changeEvent(event);
}

} // namespace Paper
