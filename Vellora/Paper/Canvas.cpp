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
    const Scheme scheme = schemeOf(this);
    painter.fillRect(area, Paper::palette(scheme).desk);
    if (scheme != Scheme::light)
        return;
    // The glow changes by less than one colour level over a few pixels: made at a quarter of the size, only where
    // it reaches, and scaled up without smoothing, it looks the same and costs a small part of what painting it
    // point by point does. Only that small image is kept: a whole desk kept beside the window's own buffer would
    // double the memory the first frame touches.
    constexpr int kReduction = 4;
    const QPointF centre(area.left() + area.width() / 2.0, area.top());
    const QRect reach =
        QRectF(centre.x() - kGlowRadius, area.top(), 2 * kGlowRadius, kGlowRadius).toAlignedRect().intersected(area);
    if (reach.isEmpty())
        return;
    if (m_glow.isNull() || m_glowReach != reach.size()) {
        m_glowReach = reach.size();
        m_glow = QImage(reach.size() / kReduction + QSize(1, 1), QImage::Format_ARGB32_Premultiplied);
        m_glow.fill(Qt::transparent);
        QPainter glowPainter(&m_glow);
        glowPainter.scale(1.0 / kReduction, 1.0 / kReduction);
        glowPainter.translate(-reach.topLeft());
        QRadialGradient glow(centre, kGlowRadius);
        QColor white(Qt::white);
        white.setAlphaF(kGlowOpacity);
        glow.setColorAt(0, white);
        white.setAlphaF(0);
        glow.setColorAt(1, white);
        glowPainter.fillRect(QRect(reach.topLeft(), m_glow.size() * kReduction), glow);
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setClipRect(area, Qt::IntersectClip);
    painter.drawImage(QRect(reach.topLeft(), m_glow.size() * kReduction), m_glow);
    painter.restore();
}

void Canvas::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintDesk(painter, rect());
}

void Canvas::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        m_glow = QImage();
    QWidget::changeEvent(event);
}

} // namespace Paper
