#include "Vellora/Platform/WindowFocus.h"

#include <QWindow>

void giveKeyboardFocus(QWindow *window)
{
    if (window)
        window->requestActivate();
}
