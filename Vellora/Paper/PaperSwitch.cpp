#include "Vellora/Paper/PaperSwitch.h"

#include "Vellora/Paper/FocusRing.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/Paper.h"

#include <QPainter>
#include <QPainterPath>

PaperSwitch::PaperSwitch(const QString &objectName, QWidget *parent) : PaperButton(0, parent)
{
    setObjectName(objectName);
    setCheckable(true);
    // Reachable with Tab like the other controls of the pages; a click leaves the keyboard focus where it was.
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_slide.setDuration(Paper::kSwitchMs);
    m_slide.setEasingCurve(Paper::easeOut());
    m_slide.setStartValue(0.0);
    m_slide.setEndValue(0.0);
    connect(&m_slide, &QVariantAnimation::valueChanged, this, [this] { update(); });
    connect(this, &QAbstractButton::toggled, this, &PaperSwitch::slide);
}

QSize PaperSwitch::sizeHint() const
{
    return QSize(Paper::kSwitchWidth, Paper::kSwitchHeight);
}

QSize PaperSwitch::minimumSizeHint() const
{
    return sizeHint();
}

qreal PaperSwitch::knobPosition() const
{
    if (m_slide.state() == QAbstractAnimation::Running)
        return m_slide.currentValue().toReal();
    return isChecked() ? 1.0 : 0.0;
}

void PaperSwitch::slide(bool on)
{
    const qreal from =
        m_slide.state() == QAbstractAnimation::Running ? m_slide.currentValue().toReal() : (on ? 0.0 : 1.0);
    m_slide.stop();
    // A switch that is not on screen, or with animations off, jumps to its place.
    if (Paper::animationsEnabled() && isVisible()) {
        m_slide.setStartValue(from);
        m_slide.setEndValue(on ? 1.0 : 0.0);
        m_slide.start();
    }
    update();
}

void PaperSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Paper::Palette &colors = Paper::palette(this);
    if (!isEnabled())
        painter.setOpacity(Paper::kUnavailableOpacity);
    else if (isDown())
        painter.setOpacity(Paper::kPressedOpacity);

    const QRectF track(0, 0, Paper::kSwitchWidth, Paper::kSwitchHeight);
    const qreal radius = track.height() / 2;
    const qreal position = knobPosition();
    // The track's colour follows the knob, so that a sliding switch changes colour as it goes.
    QColor fill = colors.rule;
    fill.setRedF(fill.redF() + (colors.accent.redF() - fill.redF()) * float(position));
    fill.setGreenF(fill.greenF() + (colors.accent.greenF() - fill.greenF()) * float(position));
    fill.setBlueF(fill.blueF() + (colors.accent.blueF() - fill.blueF()) * float(position));
    QPainterPath pill;
    pill.addRoundedRect(track, radius, radius);
    painter.fillPath(pill, fill);
    if (FocusRing::shown(this))
        FocusRing::paint(painter, track, radius, FocusRing::color(this, position > 0.5));

    const qreal inset = Paper::kSwitchKnobInset;
    const qreal diameter = track.height() - 2 * inset;
    const qreal x = inset + position * (track.width() - diameter - 2 * inset);
    const QRectF knob(x, inset, diameter, diameter);
    QColor shadow = colors.ink;
    shadow.setAlphaF(float(Paper::kSwitchKnobShadowOpacity));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shadow);
    painter.drawEllipse(knob.translated(0, 0.75));
    painter.setBrush(colors.cream);
    painter.drawEllipse(knob);
}
