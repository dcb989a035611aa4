#include "Vellora/Sheet/LiftEffect.h"

#include "Vellora/Paper/Metrics.h"

#include <QPainter>

namespace {

QColor liftShadowColor(QColor ink)
{
    ink.setAlphaF(Paper::kLiftShadowOpacity);
    return ink;
}

} // namespace

LiftEffect::LiftEffect(const QColor &ink, QObject *parent)
    : QGraphicsEffect(parent),
      m_shadow(liftShadowColor(ink), Paper::kLiftShadowBlur, QPointF(0, Paper::kLiftShadowOffsetY))
{
}

QRectF LiftEffect::boundingRectFor(const QRectF &rect) const
{
    const qreal scale = Paper::kLiftScale;
    const QRectF scaled(rect.left(), rect.center().y() - rect.height() * scale / 2, rect.width() * scale,
                        rect.height() * scale);
    const qreal reach = m_shadow.reach();
    return scaled.adjusted(-reach, -reach, reach, reach);
}

void LiftEffect::draw(QPainter *painter)
{
    QPoint offset;
    const QPixmap pixmap = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
    if (pixmap.isNull())
        return;
    const QSizeF size = pixmap.deviceIndependentSize();
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->translate(offset.x(), offset.y() + size.height() / 2);
    painter->scale(Paper::kLiftScale, Paper::kLiftScale);
    painter->translate(0, -size.height() / 2);
    m_shadow.paint(*painter, QRectF(QPointF(), size), Paper::kRowHighlightRadius);
    painter->drawPixmap(QPointF(), pixmap);
    painter->restore();
}
