#include "Vellora/Platform/WindowFocus.h"

#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWindow>

#include <xcb/xcb.h>

namespace {

xcb_connection_t *connection()
{
    const auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

void setFocus(xcb_connection_t *c, QWindow *window)
{
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, xcb_window_t(window->winId()), XCB_CURRENT_TIME);
    xcb_flush(c);
}

// Waits for the window to be on screen (the focus goes only to a mapped window), then gives it the focus.
class FocusWhenExposed : public QObject
{
public:
    explicit FocusWhenExposed(QWindow *window) : QObject(window), m_window(window)
    {
        window->installEventFilter(this);
        // A window that never comes on screen is not waited for.
        QTimer::singleShot(2000, this, [this] { deleteLater(); });
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && m_window && m_window->isExposed()) {
            if (xcb_connection_t *c = connection())
                setFocus(c, m_window);
            m_window->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

private:
    QPointer<QWindow> m_window;
};

} // namespace

void giveKeyboardFocus(QWindow *window)
{
    if (!window)
        return;
    window->requestActivate();
    xcb_connection_t *c = connection();
    if (!c)
        return;
    if (window->isExposed())
        setFocus(c, window);
    else
        new FocusWhenExposed(window);
}
