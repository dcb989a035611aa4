#include "Vellora/Paper/PaperChoiceStyle.h"

#include "Vellora/Paper/FocusRing.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/Paper.h"
#include "Vellora/Paper/PaperAccessible.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

PaperChoiceStyle::PaperChoiceStyle(const QString &objectName, const QString &text, bool selected, QWidget *parent)
    : PaperButton(Paper::kChoiceRadius, parent), m_selected(selected)
{
    PaperAccessible::install();
    setObjectName(objectName);
    setText(text);
    setFont(Paper::systemFont(Paper::kChoiceFontSize, QFont::DemiBold));
    setFocusPolicy(Qt::TabFocus);
    // Equal stretch and no preferred width of its own: the row is shared equally whatever the labels.
    QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    policy.setHorizontalStretch(1);
    setSizePolicy(policy);
}

void PaperChoiceStyle::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    update();
    PaperAccessible::checkedChanged(this);
}

QSize PaperChoiceStyle::sizeHint() const
{
    const int label = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(text())));
    return QSize(label + 2 * Paper::kChoiceRadius, Paper::kChoiceHeight);
}

QSize PaperChoiceStyle::minimumSizeHint() const
{
    return QSize(0, Paper::kChoiceHeight);
}

void PaperChoiceStyle::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isDown() ? Paper::kPressedOpacity : 1.0);
    const Paper::Palette &colors = Paper::palette(this);
    const qreal inset = Paper::kChoiceBorderWidth / 2;
    QPainterPath shape;
    if (m_selected) {
        shape.addRoundedRect(QRectF(rect()), Paper::kChoiceRadius, Paper::kChoiceRadius);
        painter.fillPath(shape, colors.accent);
    } else {
        shape.addRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), Paper::kChoiceRadius - inset,
                             Paper::kChoiceRadius - inset);
        painter.strokePath(shape, QPen(colors.rule, Paper::kChoiceBorderWidth));
    }
    painter.setPen(m_selected ? colors.cream : colors.accent);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
    FocusRing::paintIfShown(painter, this, Paper::kChoiceRadius, m_selected);
}
