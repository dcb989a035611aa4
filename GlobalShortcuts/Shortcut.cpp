#include "GlobalShortcuts/Shortcut.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QKeySequence>
#include <QList>

#include <array>

namespace GlobalShortcuts {

namespace {

constexpr Qt::KeyboardModifiers kKeptModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier | Qt::KeypadModifier;

bool isModifierKey(int key)
{
    static const QList<int> kModifierKeys = {Qt::Key_Shift,   Qt::Key_Control,  Qt::Key_Meta,    Qt::Key_Alt,
                                             Qt::Key_AltGr,   Qt::Key_CapsLock, Qt::Key_NumLock, Qt::Key_ScrollLock,
                                             Qt::Key_Super_L, Qt::Key_Super_R,  Qt::Key_Hyper_L, Qt::Key_Hyper_R};
    return kModifierKeys.contains(key);
}

// None for no key, a key Qt does not know, or a modifier key alone.
std::optional<Shortcut> kept(Qt::KeyboardModifiers modifiers, int key)
{
    if (key == 0 || key == Qt::Key_unknown || isModifierKey(key))
        return std::nullopt;
    return Shortcut(modifiers & kKeptModifiers, Qt::Key(key));
}

// The earlier form's key codes: 0 to 50 by the character the key types on a US layout, the others by the table.
constexpr char16_t kOldTypingKeys[] = u"ASDFHGZXCV§BQWERYT123465=97-80]OU[IP\0LJ'K;\\,/NM.\0 `";

struct OldKey
{
    qint16 code;
    int key;
    bool keypad = false;
};

// clang-format off
constexpr std::array kOldKeys = std::to_array<OldKey>({
    {36, Qt::Key_Return},  {48, Qt::Key_Tab},      {51, Qt::Key_Backspace}, {53, Qt::Key_Escape},
    {117, Qt::Key_Delete}, {115, Qt::Key_Home},    {119, Qt::Key_End},      {116, Qt::Key_PageUp},
    {121, Qt::Key_PageDown}, {114, Qt::Key_Insert}, {123, Qt::Key_Left},    {126, Qt::Key_Up},
    {124, Qt::Key_Right},  {125, Qt::Key_Down},    {122, Qt::Key_F1},       {120, Qt::Key_F2},
    {99, Qt::Key_F3},      {118, Qt::Key_F4},      {96, Qt::Key_F5},        {97, Qt::Key_F6},
    {98, Qt::Key_F7},      {100, Qt::Key_F8},      {101, Qt::Key_F9},       {109, Qt::Key_F10},
    {103, Qt::Key_F11},    {111, Qt::Key_F12},     {105, Qt::Key_F13},      {107, Qt::Key_F14},
    {113, Qt::Key_F15},    {106, Qt::Key_F16},     {64, Qt::Key_F17},       {79, Qt::Key_F18},
    {80, Qt::Key_F19},     {90, Qt::Key_F20},      {82, Qt::Key_0, true},   {83, Qt::Key_1, true},
    {84, Qt::Key_2, true}, {85, Qt::Key_3, true},  {86, Qt::Key_4, true},   {87, Qt::Key_5, true},
    {88, Qt::Key_6, true}, {89, Qt::Key_7, true},  {91, Qt::Key_8, true},   {92, Qt::Key_9, true},
    {65, Qt::Key_Period, true}, {67, Qt::Key_Asterisk, true}, {69, Qt::Key_Plus, true}, {71, Qt::Key_Clear, true},
    {75, Qt::Key_Slash, true},  {76, Qt::Key_Enter, true},    {78, Qt::Key_Minus, true}, {81, Qt::Key_Equal, true},
    {72, Qt::Key_VolumeUp}, {73, Qt::Key_VolumeDown}, {74, Qt::Key_VolumeMute},
});
// clang-format on

std::optional<Shortcut> oldKey(qint64 code)
{
    if (code >= 0 && code < qint64(std::size(kOldTypingKeys)) - 1 && kOldTypingKeys[code] != u'\0')
        return Shortcut(Qt::Key(kOldTypingKeys[code]));
    for (const OldKey &old : kOldKeys) {
        if (old.code == code)
            return Shortcut(old.keypad ? Qt::KeypadModifier : Qt::NoModifier, Qt::Key(old.key));
    }
    return std::nullopt;
}

std::optional<qint64> integerField(const QJsonObject &json, const char *key)
{
    const QJsonValue value = json.value(QLatin1String(key));
    // Only whole numbers decode: with two different fallbacks, anything else shows.
    if (!value.isDouble() || value.toInteger(0) != value.toInteger(1))
        return std::nullopt;
    return value.toInteger();
}

} // namespace

std::optional<Shortcut> shortcutFromKeyEvent(const QKeyEvent &event)
{
    const bool keyEvent = event.type() == QEvent::KeyPress || event.type() == QEvent::KeyRelease;
    return keyEvent ? kept(event.modifiers(), event.key()) : std::nullopt;
}

bool hasShortcutModifier(Shortcut shortcut)
{
    const int key = shortcut.key();
    return (shortcut.keyboardModifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) ||
           (key >= Qt::Key_F1 && key <= Qt::Key_F35);
}

QString portableText(Shortcut shortcut)
{
    return QKeySequence(shortcut).toString(QKeySequence::PortableText);
}

std::optional<Shortcut> fromPortableText(const QString &text)
{
    const QKeySequence sequence = QKeySequence::fromString(text, QKeySequence::PortableText);
    const std::optional<Shortcut> shortcut =
        sequence.count() == 1 ? kept(sequence[0].keyboardModifiers(), sequence[0].key()) : std::nullopt;
    return shortcut && hasShortcutModifier(*shortcut) ? shortcut : std::nullopt;
}

QString nativeText(Shortcut shortcut)
{
    return QKeySequence(shortcut).toString(QKeySequence::NativeText);
}

std::optional<Shortcut> fromOldStoredForm(const QString &json)
{
    const QJsonObject object = QJsonDocument::fromJson(json.toUtf8()).object();
    const auto code = integerField(object, "carbonKeyCode");
    const auto bits = integerField(object, "carbonModifiers");
    const std::optional<Shortcut> key = code ? oldKey(*code) : std::nullopt;
    if (!key || !bits)
        return std::nullopt;
    // Command was Ctrl here, and Control the Super key; the Function bit has no key of its own.
    Qt::KeyboardModifiers modifiers = key->keyboardModifiers();
    const std::pair<qint64, Qt::KeyboardModifier> kBits[] = {
        {0x100, Qt::ControlModifier}, {0x200, Qt::ShiftModifier}, {0x800, Qt::AltModifier}, {0x1000, Qt::MetaModifier}};
    for (const auto &[bit, modifier] : kBits) {
        if (*bits & bit)
            modifiers |= modifier;
    }
    return hasShortcutModifier(Shortcut(modifiers, key->key())) ? std::optional(Shortcut(modifiers, key->key()))
                                                                : std::nullopt;
}

bool menuItemMatches(Shortcut menuItem, Shortcut pressed)
{
    if (menuItem == pressed)
        return true;
    const int key = pressed.key();
    const bool typedSymbol = key < Qt::Key_Escape && !QChar::isLetterOrNumber(char32_t(key));
    return typedSymbol && pressed.keyboardModifiers().testFlag(Qt::ShiftModifier) &&
           menuItem == Shortcut(pressed.keyboardModifiers() & ~Qt::ShiftModifier, pressed.key());
}

} // namespace GlobalShortcuts
