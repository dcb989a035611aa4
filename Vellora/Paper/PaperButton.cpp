#include "Vellora/Paper/PaperButton.h"

#include <QKeyEvent>
#include <QPainterPath>

PaperButton::PaperButton(qreal radius, QWidget *parent) : QAbstractButton(parent), m_radius(radius) {}

void PaperButton::keyPressEvent(QKeyEvent *event)
{
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (!plain || (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter))
        return QAbstractButton::keyPressEvent(event);
    if (isEnabled())
        click();
    event->accept();
}

bool PaperButton::hitButton(const QPoint &pos) const
{
    if (m_radius <= 0)
        return QAbstractButton::hitButton(pos);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), m_radius, m_radius);
    return shape.contains(QPointF(pos));
}
