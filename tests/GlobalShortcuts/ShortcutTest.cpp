#include "GlobalShortcuts/Shortcut.h"

#include <QKeyEvent>
#include <QKeySequence>

#include <gtest/gtest.h>

using namespace GlobalShortcuts;

namespace {

constexpr qint64 kCommandShift = CarbonModifier::kCommand | CarbonModifier::kShift;

} // namespace

TEST(ShortcutTest, DescriptionShowsModifierSymbolsInFixedOrderThenTheKey)
{
    const qint64 all = CarbonModifier::kFunction | CarbonModifier::kCommand | CarbonModifier::kShift |
                       CarbonModifier::kOption | CarbonModifier::kControl;
    EXPECT_EQ(Shortcut(Key::a.rawValue, all).description(), QString::fromUtf8("⌃⌥⇧⌘\U0001F310\uFE0EA"));
    // A key that types nothing: the modifiers, then the replacement character.
    EXPECT_EQ(Shortcut(63, CarbonModifier::kShift).description(), QString::fromUtf8("⇧\uFFFD"));
}

// Key events and menu items give the key that was pressed with the modifiers held, never Function; a symbol that
// needs Shift on a US layout names its key with Shift.
TEST(ShortcutTest, KeyEventsAndMenuItemsGiveThePhysicalKey)
{
    struct Case
    {
        QEvent::Type type;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::optional<Shortcut> expected;
    };
    const Case cases[] = {
        {QEvent::KeyPress, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier, Shortcut(2, kCommandShift)},
        {QEvent::KeyRelease, Qt::Key_F5, Qt::NoModifier, Shortcut(Key::f5.rawValue, 0)},
        {QEvent::KeyPress, Qt::Key_Exclam, Qt::ControlModifier | Qt::ShiftModifier,
         Shortcut(Key::one.rawValue, kCommandShift)},
        {QEvent::KeyPress, Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier,
         Shortcut(Key::keypad1.rawValue, CarbonModifier::kCommand)},
        {QEvent::KeyPress, Qt::Key_End, Qt::KeypadModifier, Shortcut(Key::keypad1.rawValue, 0)},
        {QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier, std::nullopt},
        {QEvent::ShortcutOverride, Qt::Key_D, Qt::ControlModifier, std::nullopt},
    };
    for (const Case &c : cases) {
        const QKeyEvent event(c.type, c.key, c.modifiers);
        EXPECT_EQ(Shortcut::fromKeyEvent(event), c.expected) << c.key;
    }
    EXPECT_EQ(Shortcut::fromKeyCombination(QKeySequence(QStringLiteral("Ctrl+?"))[0]),
              Shortcut(Key::slash.rawValue, kCommandShift));
    EXPECT_EQ(Shortcut::fromKeyCombination(QKeySequence(QStringLiteral("Ctrl+1"))[0]),
              Shortcut(Key::one.rawValue, CarbonModifier::kCommand));
    EXPECT_EQ(Shortcut::fromKeyCombination(QKeyCombination(Qt::Key_MediaPlay)), std::nullopt);
    // Command is Ctrl and Control is Meta; bits other than the five modifiers vanish.
    EXPECT_EQ(carbonModifiersFromQt(Qt::MetaModifier | Qt::AltModifier | Qt::KeypadModifier),
              CarbonModifier::kControl | CarbonModifier::kOption);
    EXPECT_EQ(Shortcut(Key::d, EventFlag::kCapsLock | EventFlag::kCommand | EventFlag::kShift | 0x1).carbonModifiers,
              kCommandShift);
}

TEST(ShortcutTest, JsonFormHasExactlyTheTwoIntegerKeys)
{
    const Shortcut shortcut(Key::d, EventFlag::kShift | EventFlag::kCommand);
    EXPECT_EQ(shortcut.toJsonText(), R"({"carbonKeyCode":2,"carbonModifiers":768})");
    EXPECT_EQ(Shortcut::fromJsonText(R"({"carbonModifiers":768,"carbonKeyCode":2,"other":true})"), shortcut);
    for (const char *bad :
         {"", "[2,768]", R"({"carbonKeyCode":2})", R"({"carbonKeyCode":"2","carbonModifiers":0})",
          R"({"carbonKeyCode":2.5,"carbonModifiers":0})", R"({"carbonKeyCode":1e30,"carbonModifiers":0})"})
        EXPECT_EQ(Shortcut::fromJsonText(bad), std::nullopt) << bad;
}
