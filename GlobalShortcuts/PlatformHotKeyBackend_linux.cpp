#include "GlobalShortcuts/PortalHotKeyBackend.h"
#include "GlobalShortcuts/X11HotKeyBackend.h"

#include <QGuiApplication>

namespace GlobalShortcuts {

namespace {

// A Wayland session: the application runs on Wayland, or on the desktop's X11 compatibility server, where a key
// grab only sees the keys typed into X11 windows.
bool isWaylandSession()
{
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland")))
        return true;
    return platform == QLatin1String("xcb") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

std::unique_ptr<HotKeyBackend> makePlatformHotKeyBackend()
{
    // Without the portal a Wayland session has no hot keys for applications, and the host tells the user how to
    // bind a command instead.
    if (isWaylandSession())
        return std::make_unique<PortalHotKeyBackend>(QDBusConnection::sessionBus());
    return std::make_unique<X11HotKeyBackend>();
}

} // namespace GlobalShortcuts
