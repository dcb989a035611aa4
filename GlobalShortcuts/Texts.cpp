#include "GlobalShortcuts/Texts.h"

#include <QCoreApplication>

#include <cstring>

namespace GlobalShortcuts {

namespace {

struct Text
{
    const char *key;
    const char *english;
};

constexpr Text kTexts[] = {
    {"record_shortcut", QT_TRANSLATE_NOOP("GlobalShortcuts", "Record shortcut")},
    {"press_shortcut", QT_TRANSLATE_NOOP("GlobalShortcuts", "Press a shortcut…")},
    {"modifier_needed", QT_TRANSLATE_NOOP("GlobalShortcuts", "Add Ctrl, Alt or Super")},
    {"keyboard_shortcut_used_by_menu_item",
     QT_TRANSLATE_NOOP("GlobalShortcuts", "This shortcut cannot be used because the “%1” menu item already uses it.")},
    {"keyboard_shortcut_used_by_system",
     QT_TRANSLATE_NOOP("GlobalShortcuts", "This shortcut is already used by the desktop or another application.")},
    {"keyboard_shortcuts_can_be_changed",
     QT_TRANSLATE_NOOP("GlobalShortcuts",
                       "If you use it anyway, it may not work here. Desktop-wide shortcuts can be changed in "
                       "your desktop's keyboard settings.")},
    {"keyboard_shortcut_disallowed", QT_TRANSLATE_NOOP("GlobalShortcuts", "This shortcut cannot be used.")},
    {"ok", QT_TRANSLATE_NOOP("GlobalShortcuts", "OK")},
    {"force_use_shortcut", QT_TRANSLATE_NOOP("GlobalShortcuts", "Use Anyway")},
    {"space_key", QT_TRANSLATE_NOOP("GlobalShortcuts", "space")},
};

} // namespace

QString localizedText(const char *key)
{
    for (const Text &text : kTexts) {
        if (std::strcmp(text.key, key) == 0)
            return QCoreApplication::translate("GlobalShortcuts", text.english);
    }
    return QString::fromUtf8(key);
}

} // namespace GlobalShortcuts
