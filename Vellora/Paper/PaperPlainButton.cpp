#include "Vellora/Paper/PaperPlainButton.h"

#include "Vellora/Paper/Metrics.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

PaperPlainButton::PaperPlainButton(const QString &objectName, const QString &text, const QFont &font, Paper::Role role,
                                   QWidget *parent)
    : PaperButton(0, parent), m_role(role)
{
    setObjectName(objectName);
    setText(text);
    setFont(font);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    setAttribute(Qt::WA_Hover); // redrawn as the pointer comes and goes, for the wash under it
}

void PaperPlainButton::setRole(Paper::Role role)
{
    if (role == m_role)
        return;
    m_role = role;
    update();
}

void PaperPlainButton::setOpacity(qreal opacity)
{
    if (opacity == m_opacity)
        return;
    m_opacity = opacity;
    update();
}

QSize PaperPlainButton::sizeHint() const
{
    const QFontMetricsF metrics(font());
    const QSizeF glyph(metrics.horizontalAdvance(text()), metrics.height());
    const int padding = 2 * Paper::kControlPadding;
    return QSize(int(std::ceil(glyph.width())) + padding, int(std::ceil(glyph.height())) + padding);
}

void PaperPlainButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (underMouse() && isEnabled()) {
        // A wash under the pointer says the glyph is a button.
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath wash;
        wash.addRoundedRect(QRectF(rect()), Paper::kControlHighlightRadius, Paper::kControlHighlightRadius);
        painter.fillPath(wash, Paper::palette(this).accentTint);
    }
    painter.setOpacity(m_opacity * (isDown() ? Paper::kPressedOpacity : 1.0));
    painter.setPen(Paper::color(m_role, this));
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
}
