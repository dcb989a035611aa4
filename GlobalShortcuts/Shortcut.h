#pragma once

#include <QByteArray>
#include <QHashFunctions>
#include <QJsonObject>
#include <QKeyCombination>
#include <QList>
#include <QString>

#include <optional>

class QKeyEvent;

namespace GlobalShortcuts {

// The modifier bits a stored shortcut keeps. Command is the primary shortcut modifier (Ctrl on Linux and
// Windows); Control is the secondary one (Meta, the Super key).
namespace CarbonModifier {
inline constexpr qint64 kControl = 0x1000;
inline constexpr qint64 kOption = 0x800;
inline constexpr qint64 kShift = 0x200;
inline constexpr qint64 kCommand = 0x100;
inline constexpr qint64 kFunction = 0x20000;
} // namespace CarbonModifier

// Modifier flags of a key event in the module's device-independent encoding.
namespace EventFlag {
inline constexpr quint64 kCapsLock = 0x10000;
inline constexpr quint64 kShift = 0x20000;
inline constexpr quint64 kControl = 0x40000;
inline constexpr quint64 kOption = 0x80000;
inline constexpr quint64 kCommand = 0x100000;
inline constexpr quint64 kNumericPad = 0x200000;
inline constexpr quint64 kHelp = 0x400000;
inline constexpr quint64 kFunction = 0x800000;
} // namespace EventFlag

// Conversions by the fixed table of the five modifiers; every other bit is dropped.
qint64 carbonModifiersFromEventFlags(quint64 flags);
quint64 eventFlagsFromCarbonModifiers(qint64 carbonModifiers);
qint64 carbonModifiersFromQt(Qt::KeyboardModifiers modifiers);
Qt::KeyboardModifiers qtModifiersFromCarbon(qint64 carbonModifiers);

// A physical key by its key code; the named constants are the keys of an ANSI keyboard.
struct Key
{
    qint64 rawValue = 0;

    constexpr Key() = default;
    constexpr explicit Key(qint64 raw) : rawValue(raw) {}
    bool operator==(const Key &) const = default;

    static const Key a, b, c, d, e, f, g, h, i, j, k, l, m, n, o, p, q, r, s, t, u, v, w, x, y, z;
    static const Key zero, one, two, three, four, five, six, seven, eight, nine;
    static const Key equal, minus, rightBracket, leftBracket, quote, semicolon, backslash, comma, slash, period,
        backtick, section;
    static const Key returnKey, tab, space, deleteKey, escape, deleteForward, home, end, pageUp, pageDown, help;
    static const Key leftArrow, rightArrow, downArrow, upArrow;
    static const Key f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, f18, f19, f20;
    static const Key keypad0, keypad1, keypad2, keypad3, keypad4, keypad5, keypad6, keypad7, keypad8, keypad9,
        keypadDecimal, keypadMultiply, keypadPlus, keypadClear, keypadDivide, keypadEnter, keypadMinus, keypadEquals;
    static const Key volumeUp, volumeDown, mute;
};

// clang-format off
inline constexpr Key Key::a{0}, Key::b{11}, Key::c{8}, Key::d{2}, Key::e{14}, Key::f{3}, Key::g{5}, Key::h{4},
    Key::i{34}, Key::j{38}, Key::k{40}, Key::l{37}, Key::m{46}, Key::n{45}, Key::o{31}, Key::p{35}, Key::q{12},
    Key::r{15}, Key::s{1}, Key::t{17}, Key::u{32}, Key::v{9}, Key::w{13}, Key::x{7}, Key::y{16}, Key::z{6};
inline constexpr Key Key::zero{29}, Key::one{18}, Key::two{19}, Key::three{20}, Key::four{21}, Key::five{23},
    Key::six{22}, Key::seven{26}, Key::eight{28}, Key::nine{25};
inline constexpr Key Key::equal{24}, Key::minus{27}, Key::rightBracket{30}, Key::leftBracket{33}, Key::quote{39},
    Key::semicolon{41}, Key::backslash{42}, Key::comma{43}, Key::slash{44}, Key::period{47}, Key::backtick{50},
    Key::section{10};
inline constexpr Key Key::returnKey{36}, Key::tab{48}, Key::space{49}, Key::deleteKey{51}, Key::escape{53},
    Key::deleteForward{117}, Key::home{115}, Key::end{119}, Key::pageUp{116}, Key::pageDown{121}, Key::help{114};
inline constexpr Key Key::leftArrow{123}, Key::rightArrow{124}, Key::downArrow{125}, Key::upArrow{126};
inline constexpr Key Key::f1{122}, Key::f2{120}, Key::f3{99}, Key::f4{118}, Key::f5{96}, Key::f6{97}, Key::f7{98},
    Key::f8{100}, Key::f9{101}, Key::f10{109}, Key::f11{103}, Key::f12{111}, Key::f13{105}, Key::f14{107},
    Key::f15{113}, Key::f16{106}, Key::f17{64}, Key::f18{79}, Key::f19{80}, Key::f20{90};
inline constexpr Key Key::keypad0{82}, Key::keypad1{83}, Key::keypad2{84}, Key::keypad3{85}, Key::keypad4{86},
    Key::keypad5{87}, Key::keypad6{88}, Key::keypad7{89}, Key::keypad8{91}, Key::keypad9{92},
    Key::keypadDecimal{65}, Key::keypadMultiply{67}, Key::keypadPlus{69}, Key::keypadClear{71},
    Key::keypadDivide{75}, Key::keypadEnter{76}, Key::keypadMinus{78}, Key::keypadEquals{81};
inline constexpr Key Key::volumeUp{72}, Key::volumeDown{73}, Key::mute{74};
// clang-format on

// The keys that show a symbol of their own instead of the character they type.
// clang-format off
enum class SpecialKey {
    returnKey, deleteKey, deleteForward, end, escape, help, home, space, tab, pageUp, pageDown,
    upArrow, rightArrow, downArrow, leftArrow,
    f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, f18, f19, f20,
    keypad0, keypad1, keypad2, keypad3, keypad4, keypad5, keypad6, keypad7, keypad8, keypad9,
    keypadClear, keypadDecimal, keypadDivide, keypadEnter, keypadEquals, keypadMinus, keypadMultiply, keypadPlus,
};
// clang-format on

QList<SpecialKey> allSpecialKeys();
std::optional<SpecialKey> specialKey(qint64 keyCode);
qint64 keyCode(SpecialKey key);
QString displayText(SpecialKey key);
std::optional<QString> menuKeyEquivalent(SpecialKey key);

// A key with modifiers, stored as the key code and the modifier bits.
struct Shortcut
{
    qint64 carbonKeyCode = 0;
    qint64 carbonModifiers = 0;

    Shortcut() = default;
    Shortcut(qint64 keyCode, qint64 modifiers) : carbonKeyCode(keyCode), carbonModifiers(modifiers) {}
    // From a key and key-event flags; flags other than the five modifiers vanish.
    Shortcut(Key key, quint64 eventFlags);
    // From a key and Qt modifiers (Ctrl is Command, Meta is Control).
    Shortcut(Key key, Qt::KeyboardModifiers modifiers);

    // Only key presses and releases give one; a shortcut made from the keyboard never holds Function.
    static std::optional<Shortcut> fromKeyEvent(const QKeyEvent &event);
    // The shortcut of one key combination of a key sequence (a menu item's shortcut).
    static std::optional<Shortcut> fromKeyCombination(QKeyCombination combination);

    bool operator==(const Shortcut &) const = default;

    Key key() const { return Key(carbonKeyCode); }
    quint64 modifierFlags() const { return eventFlagsFromCarbonModifiers(carbonModifiers); }
    Qt::KeyboardModifiers qtModifiers() const { return qtModifiersFromCarbon(carbonModifiers); }

    // The symbol form: "⇧⌘D", "⌃⌥F5", "⌘1⃣".
    QString description() const;
    // What a menu item shows as its key equivalent; none for keys that type nothing and keypad keys.
    std::optional<QString> menuKeyEquivalent() const;
    // The Qt form of the shortcut, used to show it the platform's way ("Ctrl+Shift+D").
    std::optional<QKeyCombination> keyCombination() const;
    QString nativeText() const;

    QJsonObject toJson() const;
    static std::optional<Shortcut> fromJson(const QJsonObject &json);
    // The stored text: the JSON form in UTF-8.
    QByteArray toJsonText() const;
    static std::optional<Shortcut> fromJsonText(const QByteArray &text);
};

inline size_t qHash(const Shortcut &shortcut, size_t seed = 0)
{
    return qHashMulti(seed, shortcut.carbonKeyCode, shortcut.carbonModifiers);
}

// The keys whose events always carry the Function flag on keyboards that have a Function key.
bool dropsFunctionModifier(qint64 keyCode);

} // namespace GlobalShortcuts
