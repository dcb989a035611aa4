#include "GlobalShortcuts/KeyCodeTable.h"

#include <Qt>

#include <array>

namespace GlobalShortcuts::KeyCodeTable {

namespace {

struct Entry
{
    qint16 keyCode;
    quint32 keysym;
    int qtKey;
    bool keypad;
};

// One row per key: key code, the keysym it carries unshifted on a US layout, the Qt key of an unshifted press.
// Printable keys have keysyms equal to their Latin-1 character, which is also the character the key types.
constexpr std::array kEntries = std::to_array<Entry>({
    {0, 'a', Qt::Key_A, false},
    {11, 'b', Qt::Key_B, false},
    {8, 'c', Qt::Key_C, false},
    {2, 'd', Qt::Key_D, false},
    {14, 'e', Qt::Key_E, false},
    {3, 'f', Qt::Key_F, false},
    {5, 'g', Qt::Key_G, false},
    {4, 'h', Qt::Key_H, false},
    {34, 'i', Qt::Key_I, false},
    {38, 'j', Qt::Key_J, false},
    {40, 'k', Qt::Key_K, false},
    {37, 'l', Qt::Key_L, false},
    {46, 'm', Qt::Key_M, false},
    {45, 'n', Qt::Key_N, false},
    {31, 'o', Qt::Key_O, false},
    {35, 'p', Qt::Key_P, false},
    {12, 'q', Qt::Key_Q, false},
    {15, 'r', Qt::Key_R, false},
    {1, 's', Qt::Key_S, false},
    {17, 't', Qt::Key_T, false},
    {32, 'u', Qt::Key_U, false},
    {9, 'v', Qt::Key_V, false},
    {13, 'w', Qt::Key_W, false},
    {7, 'x', Qt::Key_X, false},
    {16, 'y', Qt::Key_Y, false},
    {6, 'z', Qt::Key_Z, false},
    {29, '0', Qt::Key_0, false},
    {18, '1', Qt::Key_1, false},
    {19, '2', Qt::Key_2, false},
    {20, '3', Qt::Key_3, false},
    {21, '4', Qt::Key_4, false},
    {23, '5', Qt::Key_5, false},
    {22, '6', Qt::Key_6, false},
    {26, '7', Qt::Key_7, false},
    {28, '8', Qt::Key_8, false},
    {25, '9', Qt::Key_9, false},
    {24, '=', Qt::Key_Equal, false},
    {27, '-', Qt::Key_Minus, false},
    {30, ']', Qt::Key_BracketRight, false},
    {33, '[', Qt::Key_BracketLeft, false},
    {39, '\'', Qt::Key_Apostrophe, false},
    {41, ';', Qt::Key_Semicolon, false},
    {42, '\\', Qt::Key_Backslash, false},
    {43, ',', Qt::Key_Comma, false},
    {44, '/', Qt::Key_Slash, false},
    {47, '.', Qt::Key_Period, false},
    {50, '`', Qt::Key_QuoteLeft, false},
    {10, 0xa7, Qt::Key_section, false},
    {49, ' ', Qt::Key_Space, false},
    {36, 0xff0d, Qt::Key_Return, false},
    {48, 0xff09, Qt::Key_Tab, false},
    {51, 0xff08, Qt::Key_Backspace, false},
    {53, 0xff1b, Qt::Key_Escape, false},
    {117, 0xffff, Qt::Key_Delete, false},
    {115, 0xff50, Qt::Key_Home, false},
    {119, 0xff57, Qt::Key_End, false},
    {116, 0xff55, Qt::Key_PageUp, false},
    {121, 0xff56, Qt::Key_PageDown, false},
    // The help key sits where PC keyboards have Insert.
    {114, 0xff63, Qt::Key_Insert, false},
    {123, 0xff51, Qt::Key_Left, false},
    {126, 0xff52, Qt::Key_Up, false},
    {124, 0xff53, Qt::Key_Right, false},
    {125, 0xff54, Qt::Key_Down, false},
    {122, 0xffbe, Qt::Key_F1, false},
    {120, 0xffbf, Qt::Key_F2, false},
    {99, 0xffc0, Qt::Key_F3, false},
    {118, 0xffc1, Qt::Key_F4, false},
    {96, 0xffc2, Qt::Key_F5, false},
    {97, 0xffc3, Qt::Key_F6, false},
    {98, 0xffc4, Qt::Key_F7, false},
    {100, 0xffc5, Qt::Key_F8, false},
    {101, 0xffc6, Qt::Key_F9, false},
    {109, 0xffc7, Qt::Key_F10, false},
    {103, 0xffc8, Qt::Key_F11, false},
    {111, 0xffc9, Qt::Key_F12, false},
    {105, 0xffca, Qt::Key_F13, false},
    {107, 0xffcb, Qt::Key_F14, false},
    {113, 0xffcc, Qt::Key_F15, false},
    {106, 0xffcd, Qt::Key_F16, false},
    {64, 0xffce, Qt::Key_F17, false},
    {79, 0xffcf, Qt::Key_F18, false},
    {80, 0xffd0, Qt::Key_F19, false},
    {90, 0xffd1, Qt::Key_F20, false},
    {82, 0xffb0, Qt::Key_0, true},
    {83, 0xffb1, Qt::Key_1, true},
    {84, 0xffb2, Qt::Key_2, true},
    {85, 0xffb3, Qt::Key_3, true},
    {86, 0xffb4, Qt::Key_4, true},
    {87, 0xffb5, Qt::Key_5, true},
    {88, 0xffb6, Qt::Key_6, true},
    {89, 0xffb7, Qt::Key_7, true},
    {91, 0xffb8, Qt::Key_8, true},
    {92, 0xffb9, Qt::Key_9, true},
    {65, 0xffae, Qt::Key_Period, true},
    {67, 0xffaa, Qt::Key_Asterisk, true},
    {69, 0xffab, Qt::Key_Plus, true},
    {71, 0xff0b, Qt::Key_Clear, true},
    {75, 0xffaf, Qt::Key_Slash, true},
    {76, 0xff8d, Qt::Key_Enter, true},
    {78, 0xffad, Qt::Key_Minus, true},
    {81, 0xffbd, Qt::Key_Equal, true},
    {72, 0x1008ff13, Qt::Key_VolumeUp, false},
    {73, 0x1008ff11, Qt::Key_VolumeDown, false},
    {74, 0x1008ff12, Qt::Key_VolumeMute, false},
});

struct Alias
{
    int qtKey;
    bool keypad;
    qint16 keyCode;
    bool impliesShift;
};

// Qt keys that name a key by another symbol: the shifted symbols of a US layout, and the keypad with NumLock off.
constexpr std::array kAliases = std::to_array<Alias>({
    {Qt::Key_Exclam, false, 18, true},     {Qt::Key_At, false, 19, true},
    {Qt::Key_NumberSign, false, 20, true}, {Qt::Key_Dollar, false, 21, true},
    {Qt::Key_Percent, false, 23, true},    {Qt::Key_AsciiCircum, false, 22, true},
    {Qt::Key_Ampersand, false, 26, true},  {Qt::Key_Asterisk, false, 28, true},
    {Qt::Key_ParenLeft, false, 25, true},  {Qt::Key_ParenRight, false, 29, true},
    {Qt::Key_Underscore, false, 27, true}, {Qt::Key_Plus, false, 24, true},
    {Qt::Key_BraceLeft, false, 33, true},  {Qt::Key_BraceRight, false, 30, true},
    {Qt::Key_Bar, false, 42, true},        {Qt::Key_Colon, false, 41, true},
    {Qt::Key_QuoteDbl, false, 39, true},   {Qt::Key_Less, false, 43, true},
    {Qt::Key_Greater, false, 47, true},    {Qt::Key_Question, false, 44, true},
    {Qt::Key_AsciiTilde, false, 50, true}, {Qt::Key_Backtab, false, 48, false},
    {Qt::Key_Help, false, 114, false},     {Qt::Key_Enter, false, 76, false},
    {Qt::Key_Insert, true, 82, false},     {Qt::Key_End, true, 83, false},
    {Qt::Key_Down, true, 84, false},       {Qt::Key_PageDown, true, 85, false},
    {Qt::Key_Left, true, 86, false},       {Qt::Key_Right, true, 88, false},
    {Qt::Key_Home, true, 89, false},       {Qt::Key_Up, true, 91, false},
    {Qt::Key_PageUp, true, 92, false},     {Qt::Key_Delete, true, 65, false},
    {Qt::Key_Comma, true, 65, false},
});

const Entry *entryFor(qint64 keyCode)
{
    for (const Entry &entry : kEntries) {
        if (entry.keyCode == keyCode)
            return &entry;
    }
    return nullptr;
}

bool isPrintable(quint32 keysym)
{
    return keysym >= 0x20 && keysym <= 0xff && keysym != 0x7f;
}

} // namespace

quint32 keysymForKeyCode(qint64 keyCode)
{
    const Entry *entry = entryFor(keyCode);
    return entry ? entry->keysym : 0;
}

std::optional<qint64> keyCodeForKeysym(quint32 keysym)
{
    // Upper-case letters are the shifted keysyms of their keys.
    if (keysym >= 'A' && keysym <= 'Z')
        keysym += 'a' - 'A';
    for (const Entry &entry : kEntries) {
        if (entry.keysym == keysym)
            return entry.keyCode;
    }
    // Shifted punctuation keysyms equal the Latin-1 code of the symbol, like the Qt keys of the same symbols.
    for (const Alias &alias : kAliases) {
        if (alias.impliesShift && quint32(alias.qtKey) == keysym)
            return alias.keyCode;
    }
    return std::nullopt;
}

std::optional<QtKey> qtKeyForKeyCode(qint64 keyCode)
{
    const Entry *entry = entryFor(keyCode);
    if (!entry)
        return std::nullopt;
    return QtKey{entry->qtKey, entry->keypad};
}

std::optional<KeyCodeFromQt> keyCodeForQtKey(int qtKey, bool keypad)
{
    for (const Entry &entry : kEntries) {
        if (entry.qtKey == qtKey && entry.keypad == keypad)
            return KeyCodeFromQt{entry.keyCode, false};
    }
    for (const Alias &alias : kAliases) {
        if (alias.qtKey == qtKey && alias.keypad == keypad)
            return KeyCodeFromQt{alias.keyCode, alias.impliesShift};
    }
    // A keypad flag on a key the keypad does not have (some layouts set it on odd keys): take the main key.
    if (keypad)
        return keyCodeForQtKey(qtKey, false);
    return std::nullopt;
}

std::optional<QChar> characterForKeyCode(qint64 keyCode)
{
    const Entry *entry = entryFor(keyCode);
    if (!entry || entry->keypad || !isPrintable(entry->keysym))
        return std::nullopt;
    return QChar(char16_t(entry->keysym));
}

bool isModifierQtKey(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch:
        return true;
    default:
        return false;
    }
}

bool isFunctionQtKey(int qtKey)
{
    return qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35;
}

} // namespace GlobalShortcuts::KeyCodeTable
