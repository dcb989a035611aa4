#include "SheetFixture.h"

#include "Vellora/Files/AtomicFile.h"
#include "Vellora/Sheet/NoteBar.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QTemporaryDir>

namespace {

QAccessibleInterface *readOf(QWidget *widget)
{
    return QAccessible::queryAccessibleInterface(widget);
}

// A screen reader hears a note as a notification named by its text, and the note's button says what it acts on,
// not only "Undo" or "Put in Backlog". (That it is read out as it appears is checked over AT-SPI.)
TEST_F(SheetFixture, aNoteReadsAsANotificationAndItsButtonSaysWhatItActsOn)
{
    put("Book", Block::medium, 1);
    put("Pen", Block::medium, 2);
    QWidget *note = find<QWidget>("notes.text");
    QAbstractButton *action = find<QAbstractButton>("notes.action");
    for (const char *title : {"Book", "Pen"}) {
        row("slot.3.0")->setFocus(Qt::TabFocusReason);
        QTest::keyClick(row("slot.3.0"), Qt::Key_Delete);
        settle();
        EXPECT_EQ(readOf(note)->role(), QAccessible::Notification);
        EXPECT_EQ(readOf(note)->text(QAccessible::Name), QString("Deleted “%1”").arg(title));
        EXPECT_EQ(readOf(action)->text(QAccessible::Name), QString("Undo delete of “%1”").arg(title));
    }
    window->history()->undo();
    settle();
    EXPECT_EQ(readOf(action)->text(QAccessible::Name), "Undo delete of “Book”"); // what Undo does next

    for (int i = 0; i < 9; ++i)
        put(QString("Task %1").arg(i), i == 0 ? Block::big : i < 4 ? Block::medium : Block::small, i);
    sheet()->setFocus();
    QTest::keyClicks(sheet(), "Bread");
    EXPECT_EQ(readOf(note)->text(QAccessible::Name), "The sheet is full: “Bread” can wait in the Backlog");
    EXPECT_EQ(readOf(action)->text(QAccessible::Name), "Put “Bread” in Backlog");
}

// The field of a row being edited reads as that row; what is typed is its text.
TEST_F(SheetFixture, aRowsFieldIsNamedAfterItsRow)
{
    put("Book", Block::medium, 1);
    for (const auto &[slot, name] : {std::pair("slot.3.0", "Medium task 1 of 3"), {"slot.5.4", "Small task 5 of 5"}}) {
        SlotField *field = open(slot);
        ASSERT_TRUE(field) << slot;
        EXPECT_EQ(readOf(field)->text(QAccessible::Name), name);
    }
}

// A save that fails is told as a notification too.
TEST(ReadAloudTest, aFailedSaveReadsAsANotification)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    DayStore::Options options;
    options.filePath = dir.filePath("vellora.json");
    DayStore store(std::move(options));
    NoteBar notes(store);
    auto *note = notes.findChild<QWidget *>("notes.saved");
    ASSERT_TRUE(note);
    AtomicFile::setFaultInjector([](AtomicFile::Step step) { return step == AtomicFile::Step::write ? ENOSPC : 0; });
    store.addItem("Ring Anna", Block::medium);
    AtomicFile::setFaultInjector({});
    ASSERT_TRUE(store.saveError());
    EXPECT_EQ(readOf(note)->role(), QAccessible::Notification);
    EXPECT_EQ(readOf(note)->text(QAccessible::Name), "Not saved: " + *store.saveError() + " \u2014 will retry");
}

} // namespace
