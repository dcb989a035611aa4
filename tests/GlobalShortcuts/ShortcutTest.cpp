#include "GlobalShortcuts/Shortcut.h"

#include <QKeyEvent>
#include <QKeySequence>

#include <gtest/gtest.h>

using namespace GlobalShortcuts;

namespace {

constexpr Qt::KeyboardModifiers kCtrlShift = Qt::ControlModifier | Qt::ShiftModifier;

} // namespace

// Key events give the key with the modifiers a shortcut keeps; a modifier alone, or an event that is no press or
// release, gives none.
TEST(ShortcutTest, KeyEventsGiveTheCombination)
{
    struct Case
    {
        QEvent::Type type;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::optional<Shortcut> expected;
    };
    const Case cases[] = {
        {QEvent::KeyPress, Qt::Key_D, kCtrlShift, Shortcut(kCtrlShift, Qt::Key_D)},
        {QEvent::KeyRelease, Qt::Key_F5, Qt::NoModifier, Shortcut(Qt::Key_F5)},
        {QEvent::KeyPress, Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier | Qt::GroupSwitchModifier,
         Shortcut(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_1)},
        {QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier, std::nullopt},
        {QEvent::KeyPress, Qt::Key_unknown, Qt::ControlModifier, std::nullopt},
        {QEvent::ShortcutOverride, Qt::Key_D, Qt::ControlModifier, std::nullopt},
    };
    for (const Case &c : cases) {
        const QKeyEvent event(c.type, c.key, c.modifiers);
        EXPECT_EQ(shortcutFromKeyEvent(event), c.expected) << c.key;
    }
}

// The stored text is Qt's portable text; what a person may write there reads back only when it is one combination
// with Ctrl, Alt or Super (or an F-key), so that no plain key is taken from typing.
TEST(ShortcutTest, StoredTextReadsBackOnlyAsAShortcut)
{
    EXPECT_EQ(portableText(Shortcut(kCtrlShift, Qt::Key_D)), "Ctrl+Shift+D");
    EXPECT_EQ(portableText(Shortcut(Qt::MetaModifier | Qt::KeypadModifier, Qt::Key_1)), "Meta+Num+1");
    const std::pair<const char *, std::optional<Shortcut>> cases[] = {
        {"Ctrl+Shift+D", Shortcut(kCtrlShift, Qt::Key_D)},
        {"shift+ctrl+d", Shortcut(kCtrlShift, Qt::Key_D)},
        {"F5", Shortcut(Qt::Key_F5)},
        {"Shift+F12", Shortcut(Qt::ShiftModifier, Qt::Key_F12)},
        {"Meta+Num+1", Shortcut(Qt::MetaModifier | Qt::KeypadModifier, Qt::Key_1)},
        {"Alt+?", Shortcut(Qt::AltModifier, Qt::Key_Question)},
        {"D", std::nullopt},
        {"Shift+D", std::nullopt},
        {"Ctrl+", std::nullopt},
        {"Ctrl+Shift", std::nullopt},
        {"Ctrl+A, Ctrl+B", std::nullopt},
        {"", std::nullopt},
        {"not a shortcut", std::nullopt},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(fromPortableText(QString::fromUtf8(text)), expected) << text;
}

// The earlier form: a key code and modifier bits of another platform, in JSON text.
TEST(ShortcutTest, TheEarlierFormReadsAsTheSameKeys)
{
    const std::pair<const char *, std::optional<Shortcut>> cases[] = {
        {R"({"carbonKeyCode":2,"carbonModifiers":768})", Shortcut(kCtrlShift, Qt::Key_D)},
        {R"({"carbonModifiers":6400,"carbonKeyCode":96,"other":true})",
         Shortcut(Qt::MetaModifier | Qt::AltModifier | Qt::ControlModifier, Qt::Key_F5)},
        {R"({"carbonKeyCode":96,"carbonModifiers":131072})", Shortcut(Qt::Key_F5)},
        {R"({"carbonKeyCode":18,"carbonModifiers":256})", Shortcut(Qt::ControlModifier, Qt::Key_1)},
        {R"({"carbonKeyCode":49,"carbonModifiers":2048})", Shortcut(Qt::AltModifier, Qt::Key_Space)},
        {R"({"carbonKeyCode":83,"carbonModifiers":256})",
         Shortcut(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_1)},
        {R"({"carbonKeyCode":126,"carbonModifiers":4096})", Shortcut(Qt::MetaModifier, Qt::Key_Up)},
        {R"({"carbonKeyCode":2,"carbonModifiers":512})", std::nullopt},
        {R"({"carbonKeyCode":63,"carbonModifiers":256})", std::nullopt},
        {R"({"carbonKeyCode":2})", std::nullopt},
        {R"({"carbonKeyCode":"2","carbonModifiers":256})", std::nullopt},
        {R"({"carbonKeyCode":2.5,"carbonModifiers":256})", std::nullopt},
        {R"({"carbonKeyCode":1e30,"carbonModifiers":256})", std::nullopt},
        {"[2,768]", std::nullopt},
    };
    for (const auto &[json, expected] : cases)
        EXPECT_EQ(fromOldStoredForm(QString::fromUtf8(json)), expected) << json;
}

// A menu writes "Ctrl+?" for the press that Qt reports as Ctrl+Shift+?; letters keep Shift apart.
TEST(ShortcutTest, MenuItemsMatchThePressThatTypesTheirSymbol)
{
    const auto menu = [](const char *text) { return QKeySequence(QString::fromUtf8(text))[0]; };
    EXPECT_TRUE(menuItemMatches(menu("Ctrl+?"), Shortcut(kCtrlShift, Qt::Key_Question)));
    EXPECT_TRUE(menuItemMatches(menu("Ctrl+Shift+D"), Shortcut(kCtrlShift, Qt::Key_D)));
    EXPECT_FALSE(menuItemMatches(menu("Ctrl+D"), Shortcut(kCtrlShift, Qt::Key_D)));
    EXPECT_FALSE(menuItemMatches(menu("Ctrl+1"), Shortcut(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_1)));
    EXPECT_FALSE(menuItemMatches(menu("Ctrl+?"), Shortcut(Qt::AltModifier | Qt::ShiftModifier, Qt::Key_Question)));
}
