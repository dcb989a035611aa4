#include "GlobalShortcuts/Shortcut.h"

#include "GlobalShortcuts/KeyCodeTable.h"
#include "GlobalShortcuts/Texts.h"

#include <QJsonDocument>
#include <QKeyEvent>
#include <QKeySequence>

#include <array>

namespace GlobalShortcuts {

namespace {

struct ModifierRow
{
    qint64 carbon;
    quint64 eventFlag;
    Qt::KeyboardModifier qt; // Qt::NoModifier: Qt has none for it
    const char16_t *symbol;
};

// In display order: Control, Option, Shift, Command, Function.
constexpr std::array kModifiers = std::to_array<ModifierRow>({
    {CarbonModifier::kControl, EventFlag::kControl, Qt::MetaModifier, u"⌃"},
    {CarbonModifier::kOption, EventFlag::kOption, Qt::AltModifier, u"⌥"},
    {CarbonModifier::kShift, EventFlag::kShift, Qt::ShiftModifier, u"⇧"},
    {CarbonModifier::kCommand, EventFlag::kCommand, Qt::ControlModifier, u"⌘"},
    {CarbonModifier::kFunction, EventFlag::kFunction, Qt::NoModifier, u"\U0001F310\uFE0E"},
});

struct SpecialRow
{
    SpecialKey key;
    qint16 keyCode;
    const char16_t *display; // nullptr: the space key's localized name
    const char16_t *menu;    // nullptr: none
};

constexpr std::array kSpecialKeys = std::to_array<SpecialRow>({
    {SpecialKey::returnKey, 36, u"↩", u"↩"},
    {SpecialKey::deleteKey, 51, u"⌫", u"⌫"},
    {SpecialKey::deleteForward, 117, u"⌦", u"⌦"},
    {SpecialKey::end, 119, u"↘", u"↘"},
    {SpecialKey::escape, 53, u"⎋", u"⎋"},
    {SpecialKey::help, 114, u"?\u20DD", u"?\u20DD"},
    {SpecialKey::home, 115, u"↖", u"↖"},
    {SpecialKey::space, 49, nullptr, u" "},
    {SpecialKey::tab, 48, u"⇥", u"⇥"},
    {SpecialKey::pageUp, 116, u"⇞", u"⇞"},
    {SpecialKey::pageDown, 121, u"⇟", u"⇟"},
    {SpecialKey::upArrow, 126, u"↑", u"↑"},
    {SpecialKey::rightArrow, 124, u"→", u"→"},
    {SpecialKey::downArrow, 125, u"↓", u"↓"},
    {SpecialKey::leftArrow, 123, u"←", u"←"},
    {SpecialKey::f1, 122, u"F1", u"\uF704"},
    {SpecialKey::f2, 120, u"F2", u"\uF705"},
    {SpecialKey::f3, 99, u"F3", u"\uF706"},
    {SpecialKey::f4, 118, u"F4", u"\uF707"},
    {SpecialKey::f5, 96, u"F5", u"\uF708"},
    {SpecialKey::f6, 97, u"F6", u"\uF709"},
    {SpecialKey::f7, 98, u"F7", u"\uF70A"},
    {SpecialKey::f8, 100, u"F8", u"\uF70B"},
    {SpecialKey::f9, 101, u"F9", u"\uF70C"},
    {SpecialKey::f10, 109, u"F10", u"\uF70D"},
    {SpecialKey::f11, 103, u"F11", u"\uF70E"},
    {SpecialKey::f12, 111, u"F12", u"\uF70F"},
    {SpecialKey::f13, 105, u"F13", u"\uF710"},
    {SpecialKey::f14, 107, u"F14", u"\uF711"},
    {SpecialKey::f15, 113, u"F15", u"\uF712"},
    {SpecialKey::f16, 106, u"F16", u"\uF713"},
    {SpecialKey::f17, 64, u"F17", u"\uF714"},
    {SpecialKey::f18, 79, u"F18", u"\uF715"},
    {SpecialKey::f19, 80, u"F19", u"\uF716"},
    {SpecialKey::f20, 90, u"F20", u"\uF717"},
    {SpecialKey::keypad0, 82, u"0\u20E3", nullptr},
    {SpecialKey::keypad1, 83, u"1\u20E3", nullptr},
    {SpecialKey::keypad2, 84, u"2\u20E3", nullptr},
    {SpecialKey::keypad3, 85, u"3\u20E3", nullptr},
    {SpecialKey::keypad4, 86, u"4\u20E3", nullptr},
    {SpecialKey::keypad5, 87, u"5\u20E3", nullptr},
    {SpecialKey::keypad6, 88, u"6\u20E3", nullptr},
    {SpecialKey::keypad7, 89, u"7\u20E3", nullptr},
    {SpecialKey::keypad8, 91, u"8\u20E3", nullptr},
    {SpecialKey::keypad9, 92, u"9\u20E3", nullptr},
    {SpecialKey::keypadClear, 71, u"☒\u20E3", nullptr},
    {SpecialKey::keypadDecimal, 65, u".\u20E3", nullptr},
    {SpecialKey::keypadDivide, 75, u"/\u20E3", nullptr},
    {SpecialKey::keypadEnter, 76, u"↩\u20E3", nullptr},
    {SpecialKey::keypadEquals, 81, u"=\u20E3", nullptr},
    {SpecialKey::keypadMinus, 78, u"-\u20E3", nullptr},
    {SpecialKey::keypadMultiply, 67, u"*\u20E3", nullptr},
    {SpecialKey::keypadPlus, 69, u"+\u20E3", nullptr},
});

const SpecialRow &rowFor(SpecialKey key)
{
    for (const SpecialRow &row : kSpecialKeys) {
        if (row.key == key)
            return row;
    }
    Q_UNREACHABLE();
}

QString capitalized(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

// Keys whose events carry the Function flag: the F-keys and the editing and arrow keys of the extended block.
constexpr auto kFunctionFlagKeys =
    std::to_array<qint16>({122, 120, 99, 118, 96,  97,  98, 100, 101, 109, 103, 111, 105, 107, 113, 106,
                           64,  79,  80, 90,  114, 117, 71, 115, 119, 116, 121, 126, 124, 125, 123});

std::optional<qint64> integerField(const QJsonObject &json, const char *key)
{
    const QJsonValue value = json.value(QLatin1String(key));
    if (!value.isDouble())
        return std::nullopt;
    // Only whole numbers that fit a 64-bit integer decode: with two different fallbacks, anything else shows.
    const qint64 first = value.toInteger(0);
    if (first != value.toInteger(1))
        return std::nullopt;
    return first;
}

} // namespace

qint64 carbonModifiersFromEventFlags(quint64 flags)
{
    qint64 carbon = 0;
    for (const ModifierRow &row : kModifiers) {
        if (flags & row.eventFlag)
            carbon |= row.carbon;
    }
    return carbon;
}

quint64 eventFlagsFromCarbonModifiers(qint64 carbonModifiers)
{
    quint64 flags = 0;
    for (const ModifierRow &row : kModifiers) {
        if (carbonModifiers & row.carbon)
            flags |= row.eventFlag;
    }
    return flags;
}

qint64 carbonModifiersFromQt(Qt::KeyboardModifiers modifiers)
{
    qint64 carbon = 0;
    for (const ModifierRow &row : kModifiers) {
        if (row.qt != Qt::NoModifier && modifiers.testFlag(row.qt))
            carbon |= row.carbon;
    }
    return carbon;
}

Qt::KeyboardModifiers qtModifiersFromCarbon(qint64 carbonModifiers)
{
    Qt::KeyboardModifiers modifiers;
    for (const ModifierRow &row : kModifiers) {
        if (carbonModifiers & row.carbon)
            modifiers |= row.qt;
    }
    return modifiers;
}

QList<SpecialKey> allSpecialKeys()
{
    QList<SpecialKey> keys;
    for (const SpecialRow &row : kSpecialKeys)
        keys.append(row.key);
    return keys;
}

std::optional<SpecialKey> specialKey(qint64 keyCode)
{
    for (const SpecialRow &row : kSpecialKeys) {
        if (row.keyCode == keyCode)
            return row.key;
    }
    return std::nullopt;
}

qint64 keyCode(SpecialKey key)
{
    return rowFor(key).keyCode;
}

QString displayText(SpecialKey key)
{
    const SpecialRow &row = rowFor(key);
    if (!row.display)
        return capitalized(localizedText("space_key"));
    return QString::fromUtf16(row.display);
}

std::optional<QString> menuKeyEquivalent(SpecialKey key)
{
    const SpecialRow &row = rowFor(key);
    if (!row.menu)
        return std::nullopt;
    return QString::fromUtf16(row.menu);
}

bool dropsFunctionModifier(qint64 keyCode)
{
    for (qint16 code : kFunctionFlagKeys) {
        if (code == keyCode)
            return true;
    }
    return false;
}

Shortcut::Shortcut(Key key, quint64 eventFlags)
    : carbonKeyCode(key.rawValue), carbonModifiers(carbonModifiersFromEventFlags(eventFlags))
{
}

Shortcut::Shortcut(Key key, Qt::KeyboardModifiers modifiers)
    : carbonKeyCode(key.rawValue), carbonModifiers(carbonModifiersFromQt(modifiers))
{
}

std::optional<Shortcut> Shortcut::fromKeyEvent(const QKeyEvent &event)
{
    if (event.type() != QEvent::KeyPress && event.type() != QEvent::KeyRelease)
        return std::nullopt;
    const bool keypad = event.modifiers().testFlag(Qt::KeypadModifier);
    const auto code = KeyCodeTable::keyCodeForQtKey(event.key(), keypad);
    if (!code)
        return std::nullopt;
    // Qt reports no Function modifier, so the shortcut never holds one.
    return Shortcut(code->keyCode, carbonModifiersFromQt(event.modifiers()));
}

std::optional<Shortcut> Shortcut::fromKeyCombination(QKeyCombination combination)
{
    const bool keypad = combination.keyboardModifiers().testFlag(Qt::KeypadModifier);
    const auto code = KeyCodeTable::keyCodeForQtKey(combination.key(), keypad);
    if (!code)
        return std::nullopt;
    qint64 modifiers = carbonModifiersFromQt(combination.keyboardModifiers());
    if (code->impliesShift)
        modifiers |= CarbonModifier::kShift;
    return Shortcut(code->keyCode, modifiers);
}

QString Shortcut::description() const
{
    QString text;
    for (const ModifierRow &row : kModifiers) {
        if (carbonModifiers & row.carbon)
            text += QString::fromUtf16(row.symbol);
    }
    if (const auto special = specialKey(carbonKeyCode))
        return text + displayText(*special);
    if (const auto character = KeyCodeTable::characterForKeyCode(carbonKeyCode))
        return text + capitalized(QString(*character));
    return text + QChar(0xFFFD);
}

std::optional<QString> Shortcut::menuKeyEquivalent() const
{
    if (const auto special = specialKey(carbonKeyCode))
        return GlobalShortcuts::menuKeyEquivalent(*special);
    if (const auto character = KeyCodeTable::characterForKeyCode(carbonKeyCode))
        return QString(*character);
    return std::nullopt;
}

std::optional<QKeyCombination> Shortcut::keyCombination() const
{
    const auto qtKey = KeyCodeTable::qtKeyForKeyCode(carbonKeyCode);
    if (!qtKey)
        return std::nullopt;
    Qt::KeyboardModifiers modifiers = qtModifiers();
    if (qtKey->keypad)
        modifiers |= Qt::KeypadModifier;
    return QKeyCombination(modifiers, Qt::Key(qtKey->key));
}

QString Shortcut::nativeText() const
{
    const auto combination = keyCombination();
    if (!combination)
        return description();
    return QKeySequence(*combination).toString(QKeySequence::NativeText);
}

QJsonObject Shortcut::toJson() const
{
    return QJsonObject{{QStringLiteral("carbonKeyCode"), carbonKeyCode},
                       {QStringLiteral("carbonModifiers"), carbonModifiers}};
}

std::optional<Shortcut> Shortcut::fromJson(const QJsonObject &json)
{
    const auto keyCode = integerField(json, "carbonKeyCode");
    const auto modifiers = integerField(json, "carbonModifiers");
    if (!keyCode || !modifiers)
        return std::nullopt;
    return Shortcut(*keyCode, *modifiers);
}

QByteArray Shortcut::toJsonText() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<Shortcut> Shortcut::fromJsonText(const QByteArray &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return fromJson(document.object());
}

} // namespace GlobalShortcuts
