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
            QRadialGradient glow(QPointF(area.width() / 2.0, 0), kGlowRadius);
            QColor white(Qt::white);
            white.setAlphaF(kGlowOpacity);
            glow.setColorAt(0, white);
            white.setAlphaF(0);
            glow.setColorAt(1, white);
            desk.fillRect(QRect(QPoint(), area.size()), glow);
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
