#include "GlobalShortcuts/PortalHotKeyBackend.h"
#include "GlobalShortcuts/X11HotKeyBackend.h"

#include <QGuiApplication>

namespace GlobalShortcuts {

std::unique_ptr<HotKeyBackend> makePlatformHotKeyBackend()
{
    // A Wayland session: the application runs on Wayland, or on the desktop's X11 compatibility server, where a key
    // grab only sees the keys typed into X11 windows. Without the portal a Wayland session has no hot keys for
    // applications, and the host tells the user how to bind a command instead.
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland")) ||
        (platform == QLatin1String("xcb") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")))
        return std::make_unique<PortalHotKeyBackend>(QDBusConnection::sessionBus());
    return std::make_unique<X11HotKeyBackend>();
}

} // namespace GlobalShortcuts
