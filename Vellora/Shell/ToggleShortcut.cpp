#include "Vellora/Shell/ToggleShortcut.h"

namespace ToggleShortcut {

const GlobalShortcuts::Name &name()
{
    static const GlobalShortcuts::Name toggle(
        QStringLiteral("toggleWindow"),
        GlobalShortcuts::Shortcut(GlobalShortcuts::Key::d, Qt::ControlModifier | Qt::ShiftModifier));
    return toggle;
}

std::optional<QString> unavailableNote()
{
    if (!GlobalShortcuts::storedShortcut(name()) || GlobalShortcuts::isRegistered(name()))
        return std::nullopt;
    // Desktops without global hot keys for applications (Wayland) still run commands from their own shortcut
    // settings; the command line reaches the running app.
    if (!GlobalShortcuts::hotKeysAvailable())
        return QStringLiteral("This desktop does not let apps have global shortcuts. To show or hide Vellora with "
                              "keys, have your desktop's keyboard shortcut settings run the command: vellora toggle");
    return QStringLiteral("Another application uses this shortcut. Record another one, or have your desktop's "
                          "keyboard shortcut settings run the command: vellora toggle");
}

} // namespace ToggleShortcut
