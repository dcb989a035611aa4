#include "SheetFixture.h"

#include "tests/CaseName.h"

#include "Vellora/Paper/FocusRing.h"
#include "Vellora/Sheet/BacklogList.h"
#include "Vellora/Sheet/BacklogView.h"
#include "Vellora/Sheet/NoteBar.h"
#include "Vellora/Sheet/UndoHistory.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QMenu>

using KeyboardTest = SheetFixture;

namespace {

QString focusName()
{
    const QWidget *focus = QApplication::focusWidget();
    return focus ? focus->objectName() : QString();
}

void pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    ASSERT_TRUE(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    QCoreApplication::processEvents();
}

struct KeyCase
{
    const char *name;
    QString focused;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    QString focus;   // "" when not checked
    QString medium;  // the medium rows' titles after the key
    QString editing; // the row open for typing, "" for none
    QString draft;
    QString menu = {}; // a choice in the row's context menu instead of the key
};

const KeyCase kKeyCases[] = {
    {"Down moves on", "slot.3.0", Qt::Key_Down, {}, "slot.3.1", "Book,Call,", "", ""},
    {"Down leaves the big block", "slot.1.0", Qt::Key_Down, {}, "slot.3.0", "Book,Call,", "", ""},
    {"Up at the first row stays", "slot.1.0", Qt::Key_Up, {}, "slot.1.0", "Book,Call,", "", ""},
    {"Tab moves like Down", "slot.3.0", Qt::Key_Tab, {}, "slot.3.1", "Book,Call,", "", ""},
    {"Shift+Tab moves like Up", "slot.3.0", Qt::Key_Backtab, Qt::ShiftModifier, "slot.1.0", "Book,Call,", "", ""},
    {"Enter edits", "slot.3.0", Qt::Key_Return, {}, "slot.3.0.field", "Book,Call,", "slot.3.0", "Book"},
    {"Space ticks", "slot.3.0", Qt::Key_Space, {}, "slot.3.0", "Call,Book ✓,", "", ""},
    {"Delete deletes", "slot.3.0", Qt::Key_Delete, {}, "", "Call,,", "", ""},
    {"Alt+Down steps down", "slot.3.0", Qt::Key_Down, Qt::AltModifier, "", "Call,Book,", "", ""},
    {"Ctrl+B sends to the Backlog", "slot.3.0", Qt::Key_B, Qt::ControlModifier, "", "Call,,", "", ""},
    {"a letter on a task opens the first free row", "slot.3.0", Qt::Key_X, {}, "", "Book,Call,", "slot.3.2", "x"},
    {"a letter on an empty row starts it", "slot.5.2", Qt::Key_X, {}, "", "Book,Call,", "slot.5.2", "x"},
    {"the menu edits", "slot.3.1", Qt::Key_unknown, {}, "", "Book,Call,", "slot.3.1", "Call", "Edit"},
    {"the menu sends to the Backlog", "slot.3.0", Qt::Key_unknown, {}, "", "Call,,", "", "", "Move to Backlog"},
    {"an empty row has no menu", "slot.3.2", Qt::Key_unknown, {}, "", "Book,Call,", "", "", "none"},
};

class FocusedRowKeyTest : public SheetFixture, public testing::WithParamInterface<KeyCase>
{
};

} // namespace

// Each key on a focused row, on a sheet of "Plan" (big), "Book", "Call" (medium): where the focus goes, what the
// rows then show, which row is open and with what draft; and the same through the row's context menu. Delete can
// be undone by the note's button.
TEST_P(FocusedRowKeyTest, actsOnItsTask)
{
    const KeyCase &c = GetParam();
    put("Plan", Block::big, 0);
    put("Book", Block::medium, 1);
    put("Call", Block::medium, 2);
    const auto before = store->saved();
    row(c.focused)->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(focusName(), c.focused);
    if (c.menu.isEmpty()) {
        pressKey(c.key, c.modifiers);
    } else {
        const QPoint centre = row(c.focused)->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Keyboard, centre, row(c.focused)->mapToGlobal(centre));
        QApplication::sendEvent(row(c.focused), &event);
        QMenu *menu = row(c.focused)->findChild<QMenu *>();
        ASSERT_EQ(menu != nullptr, c.menu != "none");
        for (QAction *action : menu ? menu->actions() : QList<QAction *>()) {
            if (action->text() == c.menu)
                action->trigger();
        }
        if (menu)
            menu->close();
        settle();
    }
    if (!c.focus.isEmpty()) {
        EXPECT_EQ(focusName(), c.focus);
    }
    QStringList medium;
    for (const QString slot : {"slot.3.0", "slot.3.1", "slot.3.2"}) {
        const auto &item = row(slot)->item();
        medium.append(item ? item->title + (item->done ? " ✓" : "") : QString());
    }
    EXPECT_EQ(medium.join(',').toStdString(), c.medium.toStdString());
    EXPECT_EQ(sheet()->editingSlot().value_or(QString()), c.editing);
    if (!c.editing.isEmpty()) {
        EXPECT_EQ(row(c.editing)->draft(), c.draft);
    }
    if (c.key == Qt::Key_B || c.menu == "Move to Backlog") {
        ASSERT_EQ(store->backlogItems().size(), 1);
        EXPECT_EQ(store->backlogItems().first().title, "Book");
    }
    if (c.key == Qt::Key_Delete) {
        EXPECT_EQ(window->notes()->note(), "Deleted “Book”");
        click(find<QAbstractButton>("notes.action")); // the note's Undo
        EXPECT_EQ(store->saved().items.size(), before.items.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, FocusedRowKeyTest, testing::ValuesIn(kKeyCases), CaseName());

TEST_F(KeyboardTest, onTheBacklogArrowsMoveEnterBringsBackAndDeleteDeletes)
{
    const DayItem first = putInBacklog("Renew the passport", Block::medium, 1);
    const DayItem second = putInBacklog("Fix the bike", Block::small, 2);
    const DayItem third = putInBacklog("Paint the hall", Block::big, 3);
    window->showBacklog();
    settle();
    const QList<BacklogRow *> rows = window->backlog()->list()->visibleRows();
    ASSERT_EQ(rows.size(), 3);
    rows[0]->setFocus(Qt::TabFocusReason);
    const auto focusedItem = [] {
        const auto *row = qobject_cast<BacklogRow *>(QApplication::focusWidget());
        return row ? row->entry().item.id : QString();
    };
    pressKey(Qt::Key_Down);
    EXPECT_EQ(focusedItem(), second.id);
    pressKey(Qt::Key_Return);
    EXPECT_FALSE(store->item(second.id)->isInBacklog());
    // The focus stays where it was, on the item that took the row's place.
    EXPECT_EQ(focusedItem(), third.id);
    pressKey(Qt::Key_Up);
    EXPECT_EQ(focusedItem(), first.id);
    pressKey(Qt::Key_Delete);
    EXPECT_FALSE(store->item(first.id));
}

// The focus goes with the task it steps, so that a second Alt+Up moves the same task on.
TEST_F(KeyboardTest, theFocusFollowsTheTaskItSteps)
{
    put("Book", Block::medium, 1);
    put("Call", Block::medium, 2);
    const DayItem dance = put("Dance", Block::medium, 3);
    row("slot.3.2")->setFocus(Qt::TabFocusReason);
    pressKey(Qt::Key_Up, Qt::AltModifier);
    pressKey(Qt::Key_Up, Qt::AltModifier);
    EXPECT_EQ(idIn("slot.3.0"), dance.id);
    EXPECT_EQ(focusName(), "slot.3.0");
}

TEST_F(KeyboardTest, aListTypedRowAfterRowEndsWithTheRingOnTheLastRow)
{
    sheet()->setFocus(Qt::MouseFocusReason);
    QWidget *const typing = nullptr; // the keys go where the keyboard is, as a person's do
    for (int task = 1; task <= 9; ++task) {
        for (const char c : QByteArray("Task ") + QByteArray::number(task))
            QTest::keyClick(typing, c);
        QTest::keyClick(typing, Qt::Key_Return);
        settle();
    }
    EXPECT_EQ(store->saved().items.size(), 9u);
    EXPECT_EQ(sheet()->editingSlot(), std::nullopt);
    EXPECT_EQ(focusName(), "slot.5.4");
    EXPECT_TRUE(FocusRing::shown(row("slot.5.4")));
}
