#include "Vellora/Paper/ButtonKeys.h"

#include <QAbstractButton>
#include <QKeyEvent>

namespace ButtonKeys {

bool pressOnReturn(QAbstractButton *button, QKeyEvent *event)
{
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (!plain || (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter))
        return false;
    if (button->isEnabled())
        button->click();
    event->accept();
    return true;
}

} // namespace ButtonKeys
