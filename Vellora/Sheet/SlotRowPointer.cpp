// The pointer side of SlotRow: a click opens the row, a sideways swipe ticks or deletes, a mostly vertical drag
// moves the item. Kept apart from its content, keyboard and painting.
#include "Vellora/Sheet/SlotRow.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Sheet/LiftEffect.h"
#include "Vellora/Sheet/SwipeSign.h"

#include <QMouseEvent>

#include <cmath>

namespace {

qreal distance(QPointF vector)
{
    return std::hypot(vector.x(), vector.y());
}

} // namespace

QPointF SlotRow::spacePoint(const QPointF &globalPosition) const
{
    const QWidget *space = m_space ? m_space.data() : this;
    return space->mapFromGlobal(globalPosition);
}

void SlotRow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_press = spacePoint(event->globalPosition());
    m_dragStarted = false;
    // The pointer is in use now: a row that keeps the focus through the click shows no ring.
    window()->setAttribute(Qt::WA_KeyboardFocusChange, false);
    event->accept();
}

void SlotRow::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_press)
        return;
    const QPointF location = spacePoint(event->globalPosition());
    const QPointF translation = location - *m_press;
    if (!m_dragStarted) {
        if (distance(translation) < Paper::kDragThreshold)
            return;
        m_dragStarted = true;
    }
    dragChanged(translation, location);
}

void SlotRow::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_press)
        return;
    const QPointF location = spacePoint(event->globalPosition());
    const QPointF translation = location - *m_press;
    m_press.reset();
    if (!m_dragStarted && distance(translation) >= Paper::kDragThreshold) {
        // Released far away without a move reported in between: the drag still happened.
        m_dragStarted = true;
        dragChanged(translation, location);
    }
    if (m_dragStarted) {
        m_dragStarted = false;
        dragEnded(translation, location);
    } else if (distance(translation) < Paper::kClickSlop) {
        beginEditing();
    }
}

void SlotRow::dragChanged(QPointF translation, QPointF location)
{
    if (!m_item || m_isEditing)
        return;
    if (!m_mode) {
        // The first change decides for the whole drag; exactly as far sideways as up or down is a swipe.
        m_mode = std::abs(translation.x()) < std::abs(translation.y()) ? Mode::move : Mode::swipe;
        if (m_mode == Mode::move) {
            setMoving(true);
            call(m_callbacks.onMoveBegan);
        }
    }
    if (m_mode == Mode::move) {
        setMoveOffset(translation);
        call(m_callbacks.onMoveChanged, location);
    } else {
        setOffset(translation.x());
    }
}

void SlotRow::dragEnded(QPointF translation, QPointF location)
{
    const std::optional<Mode> mode = m_mode;
    m_mode.reset();
    showSwipeSign();
    if (!mode)
        return;
    if (mode == Mode::move) {
        // Ends even when the item went away meanwhile, so that the row never stays lifted.
        setMoving(false);
        springBack();
        call(m_callbacks.onMoveEnded, location);
        return;
    }
    springBack();
    if (!m_item)
        return;
    if (translation.x() > Paper::kSwipeThreshold)
        call(m_callbacks.onToggle);
    else if (translation.x() < -Paper::kSwipeThreshold)
        call(m_callbacks.onDelete);
}

void SlotRow::setMoving(bool moving)
{
    if (moving == m_moving)
        return;
    m_moving = moving;
    if (moving) {
        m_offsetAnimation.stop();
        m_moveAnimation.stop();
        setGraphicsEffect(new LiftEffect(Paper::palette(this).ink));
        raise();
    } else {
        setGraphicsEffect(nullptr);
    }
    updateParts();
}

void SlotRow::setOffset(qreal offset)
{
    if (offset == m_offset)
        return;
    const bool zoneChanged =
        (std::abs(offset) > Paper::kSwipeThreshold) != (std::abs(m_offset) > Paper::kSwipeThreshold) ||
        (offset > 0) != (m_offset > 0);
    m_offset = offset;
    applyGeometry();
    showSwipeSign();
    if (zoneChanged)
        update();
}

void SlotRow::showSwipeSign()
{
    // Only while the button is held: springing back after the swipe acted, it would tell of what is done already.
    const qreal offset = m_mode == Mode::swipe ? m_offset : 0;
    if (!m_sign && offset != 0 && parentWidget())
        m_sign = new SwipeSign(m_id + QStringLiteral(".swipe"), parentWidget());
    if (m_sign)
        m_sign->follow(offset, m_item && m_item->done, m_slotRect);
}

void SlotRow::setMoveOffset(QPointF offset)
{
    if (offset == m_moveOffset)
        return;
    m_moveOffset = offset;
    applyGeometry();
}

void SlotRow::springBack()
{
    if (!Paper::animationsEnabled()) {
        setOffset(0);
        setMoveOffset(QPointF());
        return;
    }
    if (m_offset != 0) {
        m_offsetAnimation.stop();
        m_offsetAnimation.setStartValue(m_offset);
        m_offsetAnimation.setEndValue(0.0);
        m_offsetAnimation.start();
    }
    if (!m_moveOffset.isNull()) {
        m_moveAnimation.stop();
        m_moveAnimation.setStartValue(m_moveOffset);
        m_moveAnimation.setEndValue(QPointF());
        m_moveAnimation.start();
    }
}
