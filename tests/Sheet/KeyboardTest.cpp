#include "SheetFixture.h"

#include "Vellora/Paper/FocusRing.h"
#include "Vellora/Sheet/BacklogList.h"
#include "Vellora/Sheet/BacklogView.h"
#include "Vellora/Sheet/NoteBar.h"
#include "Vellora/Sheet/SlotField.h"
#include "Vellora/Sheet/UndoHistory.h"

#include <functional>

using namespace SheetTest;

namespace {

using KeyboardTest = SheetFixture;

// What a person sees after a key: which widget has the keyboard focus, as a row id, a field's row or a name.
QString focusName()
{
    const QWidget *focus = QApplication::focusWidget();
    return focus ? focus->objectName() : QString();
}

void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget *focus = QApplication::focusWidget();
    ASSERT_TRUE(focus);
    QTest::keyClick(focus, key, modifiers);
    QCoreApplication::processEvents();
}

} // namespace

TEST_F(KeyboardTest, theKeysOfAFocusedRowActOnItsTask)
{
    struct Case
    {
        const char *name;
        QString focused;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::function<void()> check;
    };
    const auto shows = [this](const QString &title) {
        return std::any_of(SheetView::slotIds().begin(), SheetView::slotIds().end(),
                           [&](const QString &slot) { return titleIn(slot) == title; });
    };
    const auto doneOf = [this](const QString &title) {
        for (const QString &slot : SheetView::slotIds()) {
            if (titleIn(slot) == title)
                return row(slot)->item()->done;
        }
        return false;
    };
    const QList<Case> cases{
        {"Down moves the focus to the next row",
         "slot.3.0",
         Qt::Key_Down,
         {},
         [&, this] { EXPECT_EQ(focusName(), "slot.3.1"); }},
        {"Down leaves the big block", "slot.1.0", Qt::Key_Down, {}, [&, this] { EXPECT_EQ(focusName(), "slot.3.0"); }},
        {"Up at the first row stays", "slot.1.0", Qt::Key_Up, {}, [&, this] { EXPECT_EQ(focusName(), "slot.1.0"); }},
        {"Tab moves like Down", "slot.3.0", Qt::Key_Tab, {}, [&, this] { EXPECT_EQ(focusName(), "slot.3.1"); }},
        {"Shift+Tab moves like Up", "slot.3.0", Qt::Key_Backtab, Qt::ShiftModifier,
         [&, this] { EXPECT_EQ(focusName(), "slot.1.0"); }},
        {"Enter edits",
         "slot.3.0",
         Qt::Key_Return,
         {},
         [&, this] {
             EXPECT_EQ(sheet()->editingSlot(), "slot.3.0");
             EXPECT_EQ(focusName(), "slot.3.0.field");
         }},
        {"F2 edits", "slot.3.1", Qt::Key_F2, {}, [&, this] { EXPECT_EQ(sheet()->editingSlot(), "slot.3.1"); }},
        {"Space ticks", "slot.3.0", Qt::Key_Space, {}, [&, this] { EXPECT_TRUE(doneOf("Book the dentist")); }},
        {"Delete deletes, says so, and can be undone",
         "slot.3.0",
         Qt::Key_Delete,
         {},
         [&, this] {
             EXPECT_EQ(titleIn("slot.3.0"), "Call mum");
             EXPECT_EQ(window->notes()->note(), "Deleted “Book the dentist”");
             window->history()->undo();
             settle();
             EXPECT_TRUE(shows("Book the dentist"));
         }},
        {"Alt+Down steps down", "slot.3.0", Qt::Key_Down, Qt::AltModifier,
         [&, this] { EXPECT_EQ(titleIn("slot.3.1"), "Book the dentist"); }},
        {"Alt+Up steps up", "slot.3.1", Qt::Key_Up, Qt::AltModifier,
         [&, this] { EXPECT_EQ(titleIn("slot.3.0"), "Call mum"); }},
        {"Ctrl+B sends to the Backlog, undoably", "slot.3.0", Qt::Key_B, Qt::ControlModifier,
         [&, this] {
             ASSERT_EQ(store->backlogItems().size(), 1);
             EXPECT_EQ(store->backlogItems().first().title, "Book the dentist");
             window->history()->undo();
             settle();
             EXPECT_TRUE(shows("Book the dentist"));
         }},
        {"a letter on a task opens the first free row",
         "slot.3.0",
         Qt::Key_X,
         {},
         [&, this] {
             EXPECT_EQ(titleIn("slot.3.0"), "Book the dentist");
             EXPECT_EQ(sheet()->editingSlot(), "slot.3.2");
             EXPECT_EQ(row("slot.3.2")->draft(), "x");
         }},
        {"a letter on an empty row starts it",
         "slot.5.2",
         Qt::Key_X,
         {},
         [&, this] {
             EXPECT_EQ(sheet()->editingSlot(), "slot.5.2");
             EXPECT_EQ(row("slot.5.2")->draft(), "x");
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        put("Plan the week", Bucket::big, 0);
        put("Book the dentist", Bucket::medium, 1);
        put("Call mum", Bucket::medium, 2);
        row(c.focused)->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(focusName(), c.focused);
        press(c.key, c.modifiers);
        c.check();
    }
}

TEST_F(KeyboardTest, theFocusRingShowsForTheKeyboardOnlyAndComesBackAfterAKeyboardEdit)
{
    put("Book the dentist", Bucket::medium, 1);
    sheet()->setFocus(Qt::MouseFocusReason);
    press(Qt::Key_Down);
    ASSERT_EQ(focusName(), "slot.1.0");
    EXPECT_TRUE(FocusRing::shown(row("slot.1.0")));
    press(Qt::Key_Down);
    press(Qt::Key_Return);
    ASSERT_EQ(focusName(), "slot.3.0.field");
    press(Qt::Key_Escape);
    EXPECT_EQ(focusName(), "slot.3.0");
    EXPECT_TRUE(FocusRing::shown(row("slot.3.0")));

    // A click opens the row; when it closes, no row shows a ring.
    click(sheet(), centreOf("slot.3.0"));
    settle();
    ASSERT_EQ(sheet()->editingSlot(), "slot.3.0");
    press(Qt::Key_Escape);

    for (const QString &slot : SheetView::slotIds())
        EXPECT_FALSE(FocusRing::shown(row(slot))) << slot.toStdString();
}

TEST_F(KeyboardTest, onTheBacklogArrowsMoveEnterBringsBackAndDeleteDeletes)
{
    const DayItem first = putInBacklog("Renew the passport", Bucket::medium, 1);
    const DayItem second = putInBacklog("Fix the bike", Bucket::small, 2);
    const DayItem third = putInBacklog("Paint the hall", Bucket::big, 3);
    window->showBacklog();
    settle();
    const QList<BacklogRow *> rows = window->backlog()->list()->visibleRows();
    ASSERT_EQ(rows.size(), 3);
    rows[0]->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Down);
    const auto focusedItem = [] {
        const auto *row = qobject_cast<BacklogRow *>(QApplication::focusWidget());
        return row ? row->entry().item.id : QString();
    };
    EXPECT_EQ(focusedItem(), second.id);
    press(Qt::Key_Return);
    EXPECT_FALSE(store->item(second.id)->isInBacklog());
    // The focus stays where it was, on the item that took the row's place.
    EXPECT_EQ(focusedItem(), third.id);
    press(Qt::Key_Up);
    EXPECT_EQ(focusedItem(), first.id);
    press(Qt::Key_Delete);
    EXPECT_FALSE(store->item(first.id));
    EXPECT_EQ(window->backlog()->list()->entries().size(), 1u);
}
