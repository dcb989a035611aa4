#include "Vellora/Shell/WindowMemory.h"

#include "Vellora/Paper/Metrics.h"

#include <QEvent>
#include <QRect>
#include <QSettings>
#include <QWidget>
#include <QWindow>

namespace {

constexpr auto kGeometryKey = "windowGeometry";
// Moves come in bursts while the window is dragged: one write when it rests.
constexpr int kSaveDelayMs = 500;

} // namespace

WindowMemory::WindowMemory(QWidget *window, QSettings *settings)
    : QObject(window)
    , m_window(window)
    , m_settings(settings)
{
    const QByteArray stored =
        QByteArray::fromBase64(m_settings->value(QLatin1String(kGeometryKey)).toString().toLatin1());
    // Qt moves a place on a screen that no longer exists onto the nearest one that does.
    if (!stored.isEmpty() && m_window->restoreGeometry(stored))
        m_geometry = stored;
    m_pending.setSingleShot(true);
    m_pending.setInterval(kSaveDelayMs);
    connect(&m_pending, &QTimer::timeout, this, &WindowMemory::save);
    m_window->installEventFilter(this);
}

QSize WindowMemory::defaultSize(const QWidget &window, const QRect &available)
{
    const int room = available.height() - Paper::kWindowFrameAllowance;
    return QSize(Paper::kWindowWidth,
                 std::max(window.minimumSizeHint().height(), std::min(window.sizeHint().height(), room)));
}

void WindowMemory::save()
{
    m_pending.stop();
    if (m_geometry.isEmpty())
        return;
    m_settings->setValue(QLatin1String(kGeometryKey), QString::fromLatin1(m_geometry.toBase64()));
    m_settings->sync();
}

bool WindowMemory::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window)
        return false;
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
        if (m_window->isVisible()) {
            m_geometry = m_window->saveGeometry();
            m_pending.start();
        }
        break;
    case QEvent::Hide:
        // The place it had when last shown: the window manager may put a shown-again window anywhere.
        save();
        break;
    case QEvent::Show:
        if (!m_geometry.isEmpty()) {
            m_window->restoreGeometry(m_geometry);
            // Until the program itself has placed the window, Qt lets the window manager place it anew each time
            // it is shown, and a place unchanged since it was hidden does not count: on a first start the place it
            // was moved to would be lost. Placed now, before it is shown, it asks for that place.
            if (QWindow *handle = m_window->windowHandle())
                handle->setFramePosition(handle->framePosition());
        }
        break;
    default:
        break;
    }
    return false;
}
