#include "Vellora/Sheet/CountBadge.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/Paper.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

CountBadge::CountBadge(const QString &objectName, QWidget *parent) : QWidget(parent)
{
    setObjectName(objectName);
    setFont(Paper::systemFont(Paper::kBadgeFontSize, QFont::DemiBold));
}

void CountBadge::setCount(qint64 count)
{
    const QString text = QString::asprintf("%lld", static_cast<long long>(count));
    if (text == m_text)
        return;
    m_text = text;
    updateGeometry();
    update();
}

QSize CountBadge::sizeHint() const
{
    // 18 by 18; a count too long for that (three digits and more) widens the badge instead of being cut.
    const int textWidth = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(m_text)));
    return QSize(std::max(Paper::kBadgeSize, textWidth + Paper::kBadgeSize / 2), Paper::kBadgeSize);
}

void CountBadge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Paper::Palette &colors = Paper::palette(this);
    const QRectF frame(0, (height() - Paper::kBadgeSize) / 2.0, width(), Paper::kBadgeSize);
    QPainterPath shape;
    shape.addRoundedRect(frame, Paper::kBadgeRadius, Paper::kBadgeRadius);
    painter.fillPath(shape, colors.accent);
    painter.setPen(colors.cream);
    painter.setFont(font());
    painter.drawText(frame, Qt::AlignCenter, m_text);
}
