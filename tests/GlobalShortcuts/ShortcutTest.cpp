#include "GlobalShortcuts/Shortcut.h"
#include "GlobalShortcuts/KeyCodeTable.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QSet>

#include <gtest/gtest.h>

using namespace GlobalShortcuts;

namespace {

constexpr qint64 kCommandShift = CarbonModifier::kCommand | CarbonModifier::kShift;

} // namespace

TEST(ShortcutTest, DescriptionShowsModifierSymbolsInFixedOrderThenTheKey)
{
    EXPECT_EQ(Shortcut(Key::d, EventFlag::kShift | EventFlag::kCommand).description(), QString::fromUtf8("⇧⌘D"));
    // All five, whatever order the bits were given in.
    const qint64 all = CarbonModifier::kFunction | CarbonModifier::kCommand | CarbonModifier::kShift |
                       CarbonModifier::kOption | CarbonModifier::kControl;
    EXPECT_EQ(Shortcut(Key::a.rawValue, all).description(), QString::fromUtf8("⌃⌥⇧⌘\U0001F310\uFE0EA"));
    // Keys that type nothing: the modifiers, then the replacement character.
    EXPECT_EQ(Shortcut(63, CarbonModifier::kShift).description(), QString::fromUtf8("⇧\uFFFD"));
    EXPECT_EQ(Shortcut(-5, 0).description(), QString::fromUtf8("\uFFFD"));
}

// Every special key has a code of its own, that leads back to it, and a text.
TEST(ShortcutTest, SpecialKeysAndTheirCodesGoBothWays)
{
    QSet<qint64> codes;
    for (SpecialKey key : allSpecialKeys()) {
        codes.insert(keyCode(key));
        EXPECT_EQ(specialKey(keyCode(key)), key);
        EXPECT_FALSE(displayText(key).isEmpty());
    }
    EXPECT_EQ(codes.size(), allSpecialKeys().size());
    EXPECT_EQ(specialKey(Key::d.rawValue), std::nullopt);
}

TEST(ShortcutTest, OnlyTheFiveModifiersSurviveConversions)
{
    const quint64 flags = EventFlag::kCapsLock | EventFlag::kNumericPad | EventFlag::kHelp | EventFlag::kCommand |
                          EventFlag::kShift | 0x1;
    const Shortcut shortcut(Key::d, flags);
    EXPECT_EQ(shortcut.carbonModifiers, kCommandShift);
    EXPECT_EQ(shortcut.modifierFlags(), EventFlag::kCommand | EventFlag::kShift);
    for (qint64 bit : {CarbonModifier::kControl, CarbonModifier::kOption, CarbonModifier::kShift,
                       CarbonModifier::kCommand, CarbonModifier::kFunction})
        EXPECT_EQ(carbonModifiersFromEventFlags(eventFlagsFromCarbonModifiers(bit)), bit);
    // Command is Ctrl and Control is Meta, as in Qt's own shortcuts.
    EXPECT_EQ(carbonModifiersFromQt(Qt::ControlModifier | Qt::KeypadModifier | Qt::GroupSwitchModifier),
              CarbonModifier::kCommand);
    EXPECT_EQ(carbonModifiersFromQt(Qt::MetaModifier | Qt::AltModifier),
              CarbonModifier::kControl | CarbonModifier::kOption);
    EXPECT_EQ(qtModifiersFromCarbon(kCommandShift | CarbonModifier::kFunction),
              Qt::ControlModifier | Qt::ShiftModifier);
}

TEST(ShortcutTest, KeyEventsGiveShortcutsWithoutFunction)
{
    const QKeyEvent press(QEvent::KeyPress, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Shortcut::fromKeyEvent(press), Shortcut(2, kCommandShift));
    const QKeyEvent release(QEvent::KeyRelease, Qt::Key_F5, Qt::NoModifier);
    EXPECT_EQ(Shortcut::fromKeyEvent(release), Shortcut(Key::f5.rawValue, 0));
    // The shifted symbol names its key on a US layout.
    const QKeyEvent exclam(QEvent::KeyPress, Qt::Key_Exclam, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Shortcut::fromKeyEvent(exclam), Shortcut(Key::one.rawValue, kCommandShift));
    const QKeyEvent keypad(QEvent::KeyPress, Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier);
    EXPECT_EQ(Shortcut::fromKeyEvent(keypad), Shortcut(Key::keypad1.rawValue, CarbonModifier::kCommand));
    const QKeyEvent keypadNoNumLock(QEvent::KeyPress, Qt::Key_End, Qt::KeypadModifier);
    EXPECT_EQ(Shortcut::fromKeyEvent(keypadNoNumLock), Shortcut(Key::keypad1.rawValue, 0));
    const QKeyEvent modifierOnly(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
    EXPECT_EQ(Shortcut::fromKeyEvent(modifierOnly), std::nullopt);
    const QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(Shortcut::fromKeyEvent(override), std::nullopt);
}

TEST(ShortcutTest, MenuShortcutsConvertWithTheShiftTheirSymbolImplies)
{
    EXPECT_EQ(Shortcut::fromKeyCombination(QKeySequence(QStringLiteral("Ctrl+Shift+D"))[0]),
              Shortcut(Key::d.rawValue, kCommandShift));
    EXPECT_EQ(Shortcut::fromKeyCombination(QKeySequence(QStringLiteral("Ctrl+?"))[0]),
              Shortcut(Key::slash.rawValue, kCommandShift));
    EXPECT_EQ(Shortcut::fromKeyCombination(QKeySequence(QStringLiteral("Ctrl+1"))[0]),
              Shortcut(Key::one.rawValue, CarbonModifier::kCommand));
    EXPECT_EQ(Shortcut::fromKeyCombination(QKeyCombination(Qt::Key_MediaPlay)), std::nullopt);
}

TEST(ShortcutTest, NativeTextIsThePlatformsOwn)
{
    EXPECT_EQ(Shortcut(Key::d, Qt::ControlModifier | Qt::ShiftModifier).nativeText(),
              QKeySequence(QStringLiteral("Ctrl+Shift+D")).toString(QKeySequence::NativeText));
    EXPECT_EQ(Shortcut(Key::f5, quint64(0)).nativeText(), QStringLiteral("F5"));
    // A key Qt has no name for falls back to the symbol form.
    EXPECT_EQ(Shortcut(63, CarbonModifier::kCommand).nativeText(), QString::fromUtf8("⌘\uFFFD"));
}

TEST(ShortcutTest, JsonFormHasExactlyTheTwoIntegerKeys)
{
    const Shortcut shortcut(Key::d, EventFlag::kShift | EventFlag::kCommand);
    EXPECT_EQ(shortcut.toJsonText(), R"({"carbonKeyCode":2,"carbonModifiers":768})");
    EXPECT_EQ(Shortcut::fromJsonText(shortcut.toJsonText()), shortcut);
    EXPECT_EQ(Shortcut::fromJsonText(R"({"carbonModifiers":768,"carbonKeyCode":2,"other":true})"), shortcut);

    for (const char *bad :
         {"", "not json", "[2,768]", R"({"carbonKeyCode":2})", R"({"carbonKeyCode":"2","carbonModifiers":0})",
          R"({"carbonKeyCode":2.5,"carbonModifiers":0})", R"({"carbonKeyCode":1e30,"carbonModifiers":0})",
          R"({"carbonKeyCode":null,"carbonModifiers":0})"})
        EXPECT_EQ(Shortcut::fromJsonText(bad), std::nullopt) << bad;
}

TEST(ShortcutTest, KeysymTableGoesBothWays)
{
    for (qint64 code = -1; code < 130; ++code) {
        const quint32 keysym = KeyCodeTable::keysymForKeyCode(code);
        if (keysym != 0) {
            EXPECT_EQ(KeyCodeTable::keyCodeForKeysym(keysym), code) << code;
        }
        if (const auto qtKey = KeyCodeTable::qtKeyForKeyCode(code)) {
            const auto back = KeyCodeTable::keyCodeForQtKey(qtKey->key, qtKey->keypad);
            ASSERT_TRUE(back) << code;
            EXPECT_EQ(back->keyCode, code);
        }
    }
    EXPECT_EQ(KeyCodeTable::keyCodeForKeysym('D'), Key::d.rawValue);
    EXPECT_EQ(KeyCodeTable::keyCodeForKeysym('?'), Key::slash.rawValue);
    EXPECT_EQ(KeyCodeTable::keyCodeForKeysym(0x12345), std::nullopt);
}
