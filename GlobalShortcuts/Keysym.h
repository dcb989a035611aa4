#pragma once

#include "GlobalShortcuts/Shortcut.h"

#include <QtGlobal>

namespace GlobalShortcuts {

// The X keysym of the shortcut's key ('d' for Ctrl+Shift+D, KP_1 for a keypad 1); 0 when there is none. Both the
// X11 grabs and the portal's trigger text start from it.
quint32 keysym(Shortcut shortcut);

} // namespace GlobalShortcuts
