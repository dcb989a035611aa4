#include "Vellora/Paper/PaperButtonStyle.h"

#include "Vellora/Paper/FocusRing.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/Paper.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

QColor buttonShadowColor(const QWidget *widget)
{
    QColor color = Paper::palette(widget).accent;
    color.setAlphaF(Paper::kButtonShadowOpacity);
    return color;
}

} // namespace

PaperButtonStyle::PaperButtonStyle(const QString &objectName, const QString &text, bool primary, QWidget *parent)
    : PaperButton(Paper::kButtonRadius, parent), m_primary(primary),
      m_shadow(buttonShadowColor(this), Paper::kButtonShadowBlur, QPointF(0, Paper::kButtonShadowOffsetY))
{
    setObjectName(objectName);
    setText(text);
    setFont(Paper::systemFont(Paper::kButtonFontSize, QFont::Bold));
    // Reachable with Tab; a click leaves the keyboard focus where it was.
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PaperButtonStyle::setAccessory(QWidget *accessory)
{
    if (m_accessory)
        m_accessory->removeEventFilter(this);
    m_accessory = accessory;
    if (m_accessory) {
        m_accessory->setParent(this);
        m_accessory->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_accessory->installEventFilter(this);
    }
    updateGeometry();
    placeAccessory();
}

int PaperButtonStyle::labelWidth() const
{
    int width = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(text())));
    if (m_accessory && !m_accessory->isHidden())
        width += Paper::kBadgeSpacing + m_accessory->sizeHint().width();
    return width;
}

QSize PaperButtonStyle::sizeHint() const
{
    int height = int(std::ceil(QFontMetricsF(font()).height()));
    if (m_accessory && !m_accessory->isHidden())
        height = std::max(height, m_accessory->sizeHint().height());
    return QSize(labelWidth() + 2 * Paper::kButtonPaddingH, std::max(height, Paper::kButtonMinHeight));
}

QSize PaperButtonStyle::minimumSizeHint() const
{
    return sizeHint();
}

void PaperButtonStyle::placeAccessory()
{
    if (!m_accessory)
        return;
    const QSize size = m_accessory->sizeHint();
    const int left = (width() - labelWidth()) / 2;
    const int textWidth = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(text())));
    m_accessory->setGeometry(left + textWidth + Paper::kBadgeSpacing, (height() - size.height()) / 2, size.width(),
                             size.height());
}

void PaperButtonStyle::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isDown() ? Paper::kPressedOpacity : 1.0);
    const Paper::Palette &colors = Paper::palette(this);
    if (m_primary) {
        const QRectF shape = rect();
        QPainterPath background;
        background.addRoundedRect(shape, Paper::kButtonRadius, Paper::kButtonRadius);
        // The shadow only shows around the opaque background; under it, it would darken a pressed button.
        QPainterPath around;
        around.addRect(shape.adjusted(-50, -50, 50, 50));
        painter.save();
        painter.setClipPath(around.subtracted(background));
        m_shadow.paint(painter, shape, Paper::kButtonRadius);
        painter.restore();
        painter.fillPath(background, colors.accent);
    }
    painter.setPen(m_primary ? colors.cream : colors.accent);
    painter.setFont(font());
    const int left = (width() - labelWidth()) / 2;
    painter.drawText(QRect(left, 0, width() - left, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    FocusRing::paintIfShown(painter, this, Paper::kButtonRadius, m_primary);
}

void PaperButtonStyle::resizeEvent(QResizeEvent *event)
{
    QAbstractButton::resizeEvent(event);
    placeAccessory();
}

void PaperButtonStyle::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        m_shadow.setColor(buttonShadowColor(this));
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QAbstractButton::changeEvent(event);
}

bool PaperButtonStyle::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_accessory && (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent ||
                                   event->type() == QEvent::LayoutRequest)) {
        updateGeometry();
        placeAccessory();
        update();
    }
    return QAbstractButton::eventFilter(watched, event);
}
