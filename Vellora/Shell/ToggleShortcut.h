#pragma once

#include "GlobalShortcuts/GlobalShortcuts.h"

#include <QString>

#include <optional>

// The global shortcut that shows or hides the main window from any application: the name "toggleWindow",
// Ctrl+Shift+D until the user records another one on the Settings page.
namespace ToggleShortcut {

const GlobalShortcuts::Name &name();

// Why the shortcut does not act right now, and what the user can do instead; none while it acts, and while the
// user has cleared it.
std::optional<QString> unavailableNote();

} // namespace ToggleShortcut
