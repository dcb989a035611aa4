#include "GlobalShortcuts/Keysym.h"

#include <QChar>

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <utility>

namespace GlobalShortcuts {

namespace {

// clang-format off
constexpr auto kSpecialKeys = std::to_array<std::pair<int, quint32>>({
    {Qt::Key_Escape, XKB_KEY_Escape},       {Qt::Key_Tab, XKB_KEY_Tab},
    {Qt::Key_Backtab, XKB_KEY_ISO_Left_Tab}, {Qt::Key_Backspace, XKB_KEY_BackSpace},
    {Qt::Key_Return, XKB_KEY_Return},       {Qt::Key_Enter, XKB_KEY_KP_Enter},
    {Qt::Key_Insert, XKB_KEY_Insert},       {Qt::Key_Delete, XKB_KEY_Delete},
    {Qt::Key_Pause, XKB_KEY_Pause},         {Qt::Key_Print, XKB_KEY_Print},
    {Qt::Key_Home, XKB_KEY_Home},           {Qt::Key_End, XKB_KEY_End},
    {Qt::Key_Left, XKB_KEY_Left},           {Qt::Key_Up, XKB_KEY_Up},
    {Qt::Key_Right, XKB_KEY_Right},         {Qt::Key_Down, XKB_KEY_Down},
    {Qt::Key_PageUp, XKB_KEY_Prior},        {Qt::Key_PageDown, XKB_KEY_Next},
    {Qt::Key_Menu, XKB_KEY_Menu},           {Qt::Key_Help, XKB_KEY_Help},
    {Qt::Key_Clear, XKB_KEY_Clear},         {Qt::Key_VolumeUp, XKB_KEY_XF86AudioRaiseVolume},
    {Qt::Key_VolumeDown, XKB_KEY_XF86AudioLowerVolume}, {Qt::Key_VolumeMute, XKB_KEY_XF86AudioMute},
});
// clang-format on

// The keypad's own keysyms: its digits, operators, Enter and equals sign.
quint32 keypadKeysym(int key)
{
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return XKB_KEY_KP_0 + quint32(key - Qt::Key_0);
    if (key >= Qt::Key_Asterisk && key <= Qt::Key_Slash) // * + , - . / in the order of their keysyms
        return XKB_KEY_KP_Multiply + quint32(key - Qt::Key_Asterisk);
    if (key == Qt::Key_Equal)
        return XKB_KEY_KP_Equal;
    return key == Qt::Key_Enter ? XKB_KEY_KP_Enter : 0;
}

} // namespace

quint32 keysym(Shortcut shortcut)
{
    const int key = shortcut.key();
    if (shortcut.keyboardModifiers().testFlag(Qt::KeypadModifier))
        return keypadKeysym(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return XKB_KEY_F1 + quint32(key - Qt::Key_F1);
    for (const auto &[qtKey, sym] : kSpecialKeys) {
        if (qtKey == key)
            return sym;
    }
    // Qt names a typed key by its character in upper case; the keysym of the unshifted letter finds the same key.
    if (key > 0 && key < Qt::Key_Escape)
        return xkb_utf32_to_keysym(QChar::toLower(char32_t(key)));
    return 0;
}

} // namespace GlobalShortcuts
