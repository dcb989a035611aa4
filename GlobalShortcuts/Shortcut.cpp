#include "GlobalShortcuts/Shortcut.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QKeySequence>

#include <array>

namespace GlobalShortcuts {

namespace {

constexpr Qt::KeyboardModifiers kKeptModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier | Qt::KeypadModifier;

Shortcut kept(Qt::KeyboardModifiers modifiers, int key)
{
    return Shortcut(modifiers & kKeptModifiers, Qt::Key(key));
}

// The old form's key codes 0 to 50 by the character the key types on a US layout; the rest by the table below.
constexpr char16_t kOldTypingKeys[] = u"ASDFHGZXCV§BQWERYT123465=97-80]OU[IP\0LJ'K;\\,/NM.\0 `";
constexpr std::array<qint16, 20> kOldFKeys = {122, 120, 99, 118, 96, 97, 98, 100, 101, 109,
                                              103, 111, 105, 107, 113, 106, 64, 79, 80, 90};
constexpr std::array<qint16, 10> kOldKeypadDigits = {82, 83, 84, 85, 86, 87, 88, 89, 91, 92};

struct OldKey
{
    qint16 code;
    int key;
    bool keypad = false;
};

constexpr std::array kOldKeys = std::to_array<OldKey>({
    {36, Qt::Key_Return},      {48, Qt::Key_Tab},         {51, Qt::Key_Backspace},    {53, Qt::Key_Escape},
    {117, Qt::Key_Delete},     {115, Qt::Key_Home},       {119, Qt::Key_End},         {116, Qt::Key_PageUp},
    {121, Qt::Key_PageDown},   {114, Qt::Key_Insert},     {123, Qt::Key_Left},        {126, Qt::Key_Up},
    {124, Qt::Key_Right},      {125, Qt::Key_Down},       {72, Qt::Key_VolumeUp},     {73, Qt::Key_VolumeDown},
    {74, Qt::Key_VolumeMute},  {65, Qt::Key_Period, true}, {67, Qt::Key_Asterisk, true}, {69, Qt::Key_Plus, true},
    {71, Qt::Key_Clear, true}, {75, Qt::Key_Slash, true}, {76, Qt::Key_Enter, true},  {78, Qt::Key_Minus, true},
    {81, Qt::Key_Equal, true},
});

std::optional<Shortcut> oldKey(qint64 code)
{
    if (code >= 0 && code < qint64(std::size(kOldTypingKeys)) - 1 && kOldTypingKeys[code] != u'\0')
        return Shortcut(Qt::Key(kOldTypingKeys[code]));
    for (size_t i = 0; i < kOldFKeys.size(); ++i) {
        if (kOldFKeys[i] == code)
            return Shortcut(Qt::Key(Qt::Key_F1 + int(i)));
    }
    for (size_t i = 0; i < kOldKeypadDigits.size(); ++i) {
        if (kOldKeypadDigits[i] == code)
            return Shortcut(Qt::KeypadModifier, Qt::Key(Qt::Key_0 + int(i)));
    }
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
    if (event.type() != QEvent::KeyPress && event.type() != QEvent::KeyRelease)
        return std::nullopt;
    const int key = event.key();
    if (key == 0 || key == Qt::Key_unknown || isModifierKey(key))
        return std::nullopt;
    return kept(event.modifiers(), key);
}

bool isModifierKey(int key)
{
    switch (key) {
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
        return true;
    default:
        return false;
    }
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
    if (sequence.count() != 1)
        return std::nullopt;
    const int key = sequence[0].key();
    if (key == 0 || key == Qt::Key_unknown || isModifierKey(key) || !hasShortcutModifier(sequence[0]))
        return std::nullopt;
    return kept(sequence[0].keyboardModifiers(), key);
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
    const std::pair<qint64, Qt::KeyboardModifier> kBits[] = {{0x100, Qt::ControlModifier},
                                                             {0x200, Qt::ShiftModifier},
                                                             {0x800, Qt::AltModifier},
                                                             {0x1000, Qt::MetaModifier}};
    for (const auto &[bit, modifier] : kBits) {
        if (*bits & bit)
            modifiers |= modifier;
    }
    const Shortcut shortcut(modifiers, key->key());
    return hasShortcutModifier(shortcut) ? std::optional(shortcut) : std::nullopt;
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
