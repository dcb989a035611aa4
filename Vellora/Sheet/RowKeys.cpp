#include "Vellora/Sheet/RowKeys.h"

#include <QKeyEvent>

namespace RowKeys {

std::optional<Action> actionFor(const QKeyEvent &event)
{
    // The keypad's Enter and arrows are the same keys as the main ones.
    const Qt::KeyboardModifiers modifiers = event.modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::NoModifier) {
        switch (event.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_F2:
            return Action::edit;
        case Qt::Key_Space:
            return Action::toggle;
        case Qt::Key_Delete:
            return Action::remove;
        case Qt::Key_Up:
            return Action::previous;
        case Qt::Key_Down:
            return Action::next;
        default:
            return std::nullopt;
        }
    }
    if (modifiers == Qt::AltModifier && event.key() == Qt::Key_Up)
        return Action::stepUp;
    if (modifiers == Qt::AltModifier && event.key() == Qt::Key_Down)
        return Action::stepDown;
    if (modifiers == Qt::ControlModifier && event.key() == Qt::Key_B)
        return Action::toBacklog;
    return std::nullopt;
}

} // namespace RowKeys
