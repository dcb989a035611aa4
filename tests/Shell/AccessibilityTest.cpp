#include "PageFixture.h"

#include <QAccessible>

// The window as a screen reader reads it: the names, roles and states of the rows, buttons and switches.

namespace {

struct Node
{
    QAccessible::Role role;
    QString name;
    QAccessible::State state;
};

void collect(QAccessibleInterface *node, QList<Node> &into)
{
    if (!node || !node->isValid())
        return;
    into.append({node->role(), node->text(QAccessible::Name), node->state()});
    for (int i = 0; i < node->childCount(); ++i)
        collect(node->child(i), into);
}

class AccessibilityTest : public PageFixture
{
protected:
    QList<Node> nodes() const
    {
        QList<Node> all;
        collect(QAccessible::queryAccessibleInterface(window.get()), all);
        return all;
    }

    std::optional<Node> named(const QString &name) const
    {
        for (const Node &node : nodes()) {
            if (node.name == name)
                return node;
        }
        ADD_FAILURE() << "nothing is named " << name.toStdString();
        return std::nullopt;
    }
};

TEST_F(AccessibilityTest, RowsButtonsAndSwitchesSayWhatTheyAreAndHold)
{
    SheetTest::putItem(*store, "Plan the week", Bucket::big, store->day(), 1, true);
    SheetTest::putItem(*store, "Book the dentist", Bucket::medium, store->day(), 2);
    SheetTest::putItem(*store, "Fix the bike", Bucket::big, kOpenDay, 3);
    open();
    const auto done = named("Big task 1 of 1: Plan the week, done");
    ASSERT_TRUE(done);
    EXPECT_EQ(done->role, QAccessible::ListItem);
    EXPECT_TRUE(done->state.checked);
    const auto waiting = named("Medium task 1 of 3: Book the dentist");
    ASSERT_TRUE(waiting);
    EXPECT_FALSE(waiting->state.checked);
    named("Small task 5 of 5: empty");
    // The hover buttons are named by their task, never by their glyphs.
    named("Delete Book the dentist");
    named("Move down Book the dentist");
    for (const Node &node : nodes()) {
        for (const char16_t *glyph : {u"↑", u"↓", u"×", u"⚙", u"← Backlog"})
            EXPECT_NE(node.name, QString::fromUtf16(glyph));
    }

    click("sheet.backlog");
    named("Big task: Fix the bike, waits for a free row");
    named("Delete Fix the bike");

    click("backlog.today");
    click("sheet.settings");
    for (const char *name : {"Show in taskbar", "Show icon in the system tray", "Launch at login"}) {
        const auto control = named(name);
        ASSERT_TRUE(control);
        EXPECT_TRUE(control->state.checkable) << name << " reads as a switch";
        EXPECT_EQ(bool(control->state.checked), QString(name) == "Show in taskbar") << name;
    }
}

} // namespace
