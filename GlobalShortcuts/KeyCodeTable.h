#pragma once

#include <QChar>
#include <QtGlobal>

#include <optional>

// Translation between the module's key codes and the keys of the platforms it runs on: X keysyms, Qt keys and
// the character a key types on a US layout without modifiers. Shortcuts keep the same key codes everywhere, so
// a stored shortcut means the same key on every machine.
namespace GlobalShortcuts::KeyCodeTable {

// The keysym of the key on a US layout (its unshifted symbol), or 0 when the key has none.
quint32 keysymForKeyCode(qint64 keyCode);
// The key code of a keysym; shifted symbols of a US layout ("D", "!") give the key that types them.
std::optional<qint64> keyCodeForKeysym(quint32 keysym);

struct QtKey
{
    int key = 0;
    bool keypad = false; // the key only counts with Qt::KeypadModifier
};

std::optional<QtKey> qtKeyForKeyCode(qint64 keyCode);

struct KeyCodeFromQt
{
    qint64 keyCode = 0;
    bool impliesShift = false; // the Qt key is the shifted symbol of the key ("?" is Shift and "/")
};

// The key code of a Qt key as a key event or a key sequence carries it.
std::optional<KeyCodeFromQt> keyCodeForQtKey(int qtKey, bool keypad);

// The character the key types on a US layout with no modifier held, lower case.
std::optional<QChar> characterForKeyCode(qint64 keyCode);

bool isModifierQtKey(int qtKey);
bool isFunctionQtKey(int qtKey); // F1 to F35

} // namespace GlobalShortcuts::KeyCodeTable
