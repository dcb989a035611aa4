#pragma once

#include "GlobalShortcuts/GlobalShortcuts.h"

class QAction;

namespace GlobalShortcuts {

// Lets a menu item that runs a name's action show the name's stored shortcut, and follow it when it is recorded,
// reset or cleared (no shortcut then). Until the module has its storage the item keeps the shortcut it has.
// A recorder of the same name does not count the item as a conflict: it is the same action.
void followShortcut(QAction *action, const Name &name);

// The name whose shortcut the item follows; empty when it follows none.
QString followedName(const QAction &action);

} // namespace GlobalShortcuts
