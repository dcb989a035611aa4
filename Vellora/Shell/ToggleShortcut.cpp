#include "Vellora/Shell/ToggleShortcut.h"

namespace ToggleShortcut {

const GlobalShortcuts::Name &name()
{
    static const GlobalShortcuts::Name toggle(
        QStringLiteral("toggleWindow"),
        QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_D));
    return toggle;
}

std::optional<QString> unavailableNote()
{
    // Desktops that refuse an app its keys still run commands from their own shortcut settings; the command line
    // reaches the running app.
    switch (GlobalShortcuts::refusal(name())) {
    case GlobalShortcuts::Refusal::none:
        return std::nullopt;
    case GlobalShortcuts::Refusal::noHotKeys:
        return QStringLiteral("This desktop does not let apps have global shortcuts. To show or hide Vellora with "
                              "keys, have your desktop's keyboard shortcut settings run the command: vellora toggle");
    case GlobalShortcuts::Refusal::declinedByDesktop:
        return QStringLiteral("The desktop did not allow this shortcut. To show or hide Vellora with keys, have "
                              "your desktop's keyboard shortcut settings run the command: vellora toggle");
    case GlobalShortcuts::Refusal::takenByAnotherApplication:
        break;
    }
    return QStringLiteral("Another application uses this shortcut. Record another one, or have your desktop's "
                          "keyboard shortcut settings run the command: vellora toggle");
}

} // namespace ToggleShortcut
