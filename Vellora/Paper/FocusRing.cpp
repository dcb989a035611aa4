#include "Vellora/Paper/FocusRing.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/Paper.h"

#include <QPainter>
#include <QPainterPath>
#include <QWidget>

namespace FocusRing {

bool shown(const QWidget *widget)
{
    // Qt marks the window when the focus last moved by keyboard and clears the mark on a click.
    return widget->hasFocus() && widget->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

QColor color(const QWidget *widget, bool onAccent)
{
    QColor ring = onAccent ? Paper::palette(widget).cream : Paper::palette(widget).accent;
    ring.setAlphaF(float(Paper::kFocusRingOpacity));
    return ring;
}

void paint(QPainter &painter, const QRectF &rect, qreal radius, const QColor &ring)
{
    const qreal half = Paper::kFocusRingWidth / 2 + Paper::kFocusRingInset;
    QPainterPath path;
    path.addRoundedRect(rect.adjusted(half, half, -half, -half), radius, radius);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(1);
    painter.strokePath(path, QPen(ring, Paper::kFocusRingWidth));
    painter.restore();
}

void paintIfShown(QPainter &painter, const QWidget *widget, qreal radius, bool onAccent)
{
    if (shown(widget))
        paint(painter, QRectF(widget->rect()), radius, color(widget, onAccent));
}

} // namespace FocusRing
