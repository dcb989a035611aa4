#pragma once

#include <QKeyCombination>
#include <QString>

#include <optional>

class QKeyEvent;

namespace GlobalShortcuts {

// A shortcut is a key with modifiers as Qt has it: Ctrl+Shift+D is QKeyCombination(Ctrl | Shift, Key_D). It keeps
// only Shift, Ctrl, Alt, Meta (the Super key) and the keypad flag.
using Shortcut = QKeyCombination;

// The combination of a key press or release; none for a modifier key alone or a key Qt does not know.
std::optional<Shortcut> shortcutFromKeyEvent(const QKeyEvent &event);
// Ctrl, Alt or Super held, or one of the F-keys: anything else would take a key away from typing ("Shift+A" is "A").
bool hasShortcutModifier(Shortcut shortcut);

// Qt's portable text ("Ctrl+Shift+D"): the stored form, which a person can read and edit.
QString portableText(Shortcut shortcut);
// None for text that is not exactly one combination a shortcut can be.
std::optional<Shortcut> fromPortableText(const QString &text);
// The platform's own text ("Shift+Ctrl+D" on Linux), as menus show it.
QString nativeText(Shortcut shortcut);
// The form stored by earlier versions: JSON text with the key code and modifier bits of another platform.
std::optional<Shortcut> fromOldStoredForm(const QString &json);

// Whether a menu item's combination is the one pressed. A menu writes a symbol typed with Shift without it
// ("Ctrl+?"), while the key event of that press carries Shift.
bool menuItemMatches(Shortcut menuItem, Shortcut pressed);

} // namespace GlobalShortcuts
