#include "SheetFixture.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Paper/PaperPlainButton.h"
#include "Vellora/Sheet/BacklogList.h"
#include "Vellora/Sheet/BacklogView.h"
#include "Vellora/Sheet/NoteBar.h"
#include "Vellora/Sheet/UndoHistory.h"

#include "tests/WaitFor.h"

#include <QAbstractButton>
#include <QTimer>

#include <cmath>
#include <tuple>

namespace {

class UndoTest : public SheetFixture
{
protected:
    UndoHistory &history() const { return *window->history(); }
    QString note() const { return window->notes()->note(); }
    // Runs out the time a short note stays, as if the person had waited.
    void letNotesExpire()
    {
        auto *expiry = window->notes()->findChild<QTimer *>("notes.expiry");
        ASSERT_NE(expiry, nullptr);
        if (expiry->isActive()) {
            expiry->start(0);
            ASSERT_EVENTUALLY(!expiry->isActive());
        }
        settle();
    }

    // What the person sees: every row's title (ticked ones marked) and the Backlog in its order.
    QStringList seen() const
    {
        QStringList lines;
        for (const QString &slot : SheetView::slotIds())
            lines.append(titleIn(slot) + (row(slot)->item() && row(slot)->item()->done ? " ✓" : ""));
        for (const DayItem &item : store->backlogItems())
            lines.append("backlog: " + item.title);
        return lines;
    }
    void type(const QString &slot, const QString &text)
    {
        SlotField *field = open(slot);
        ASSERT_NE(field, nullptr);
        field->selectAll();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
        settle();
    }
    void hoverAndClick(const QString &control)
    {
        moveTo(sheet(), QPoint(5, 5));
        moveTo(sheet(), centreOf(control.section('.', 0, 2)));
        settle();
        click(find<QWidget>(control));
        settle();
    }
    void swipe(const QString &slot, int dx)
    {
        drag(sheet(), centreOf(slot), centreOf(slot) + QPoint(dx, 0));
        settle();
    }
};

// Every change the window makes, undone and redone by the person; each leaves the sheet and the Backlog as they
// were seen before and after, every task in the row it stood in.
class EveryChangeUndoTest : public UndoTest, public testing::WithParamInterface<size_t>
{
protected:
    using Self = EveryChangeUndoTest;
    struct Case
    {
        const char *name;
        std::function<void(Self &)> act;
    };
    static const std::vector<Case> &cases()
    {
        static const std::vector<Case> all{
            {"add", [](Self &t) { t.type("slot.5.1", "Call Anna"); }},
            {"edit", [](Self &t) { t.type("slot.3.0", "Write to Ben"); }},
            {"tick", [](Self &t) { t.swipe("slot.3.0", 80); }},
            {"deleteBySwipe", [](Self &t) { t.swipe("slot.3.0", -80); }},
            {"deleteByTheCross", [](Self &t) { t.hoverAndClick("slot.3.0.delete"); }},
            {"toTheBacklog",
             [](Self &t) {
                 t.row("slot.3.0")->setFocus(Qt::TabFocusReason);
                 QTest::keyClick(t.row("slot.3.0"), Qt::Key_B, Qt::ControlModifier);
             }},
            {"step", [](Self &t) { t.hoverAndClick("slot.3.1.up"); }},
            {"drag", [](Self &t) { drag(t.sheet(), t.centreOf("slot.1.0"), t.centreOf("slot.3.0")); }},
            {"bringBack",
             [](Self &t) {
                 t.window->showBacklog();
                 t.settle();
                 click(t.window->backlog()->list()->visibleRows().first()->findChild<PaperPlainButton *>(
                     "backlog.toToday"));
                 t.settle();
                 t.window->showToday();
             }},
            {"newDay",
             [](Self &t) {
                 t.history().record(UndoHistory::Kind::newDay, [&] { t.store->startNewDay(fixedNow().addDays(1)); });
             }},
        };
        return all;
    }

public:
    static std::string nameOf(const testing::TestParamInfo<size_t> &info) { return cases()[info.param].name; }
    static size_t count() { return cases().size(); }
};

TEST_P(EveryChangeUndoTest, isUndoneAndRedoneAsOneStep)
{
    const Case &c = cases()[GetParam()];
    put("Plan the week", Block::big, 1);
    put("Pay rent", Block::medium, 2);
    put("Ring Anna", Block::medium, 3);
    put("Water plants", Block::small, 4, true);
    putInBacklog("Someday", Block::small, 5);
    const QStringList before = seen();
    c.act(*this);
    settle();
    const QStringList after = seen();
    ASSERT_NE(after, before);
    ASSERT_TRUE(history().canUndo());
    history().undo();
    settle();
    EXPECT_EQ(seen(), before);
    history().redo();
    settle();
    EXPECT_EQ(seen(), after);
    EXPECT_FALSE(history().canRedo());
}

INSTANTIATE_TEST_SUITE_P(Changes, EveryChangeUndoTest, testing::Range(size_t(0), EveryChangeUndoTest::count()),
                         EveryChangeUndoTest::nameOf);

// A change made meanwhile elsewhere (the command line, sync) stands: the step is dropped with a note, and a deleted
// task whose block has filled up meanwhile comes back into the Backlog.
TEST_F(UndoTest, aStepWhoseItemChangedElsewhereIsSkipped)
{
    const DayItem item = put("Ring Anna", Block::big, 1);
    swipe("slot.1.0", -80);
    type("slot.1.0", "Something bigger");
    store->updateTitle(store->itemsIn(Block::big).first().id, "From the command line");
    settle();
    history().undo();
    settle();
    EXPECT_EQ(titleIn("slot.1.0"), "From the command line");
    EXPECT_EQ(note(), "Not undone: “Something bigger” was changed elsewhere");
    history().undo();
    settle();
    ASSERT_TRUE(store->item(item.id));
    EXPECT_TRUE(store->item(item.id)->isInBacklog());
    EXPECT_EQ(note(), "“Ring Anna” went to the Backlog: its block is full");
    EXPECT_FALSE(history().canUndo());
}

// A new day undone after one of its tasks was brought back elsewhere (`vellora bring` through the running app)
// brings back every other task, the done ones it dropped too, each in its row, and names the one kept as changed.
// Its step outlasts the history's limit.
TEST_F(UndoTest, aNewDayUndoneAfterAChangeElsewhereBringsBackTheRest)
{
    put("Plan the week", Block::big, 1);
    put("Pay rent", Block::medium, 2, true);
    const DayItem ring = put("Ring Anna", Block::medium, 3);
    put("Call Ben", Block::medium, 4);
    put("Water plants", Block::small, 5, true);
    history().record(UndoHistory::Kind::newDay, [&] { store->startNewDay(fixedNow()); });
    ASSERT_EQ(store->backlogItems().size(), 3);
    ASSERT_TRUE(store->bringToToday(ring.id));
    for (int i = 0; i < UndoHistory::kMaxSteps; ++i)
        history().record(UndoHistory::Kind::add, [&] { store->addItem(QString("Later %1").arg(i), Block::small); });
    settle();

    while (history().canUndo())
        history().undo();
    settle();
    EXPECT_EQ(seen(), QStringList({"Plan the week", "Pay rent ✓", "Call Ben", "Ring Anna", "Water plants ✓",
                                   "Later 0", "", "", ""}));
    EXPECT_EQ(note(), "New day undone; kept as changed elsewhere: “Ring Anna”");
}

// Typing with no row open on a full sheet offers the Backlog, and the note waits as long as the typed text does:
// Return or the note's button puts it there, however long the person took.
TEST_F(UndoTest, typingOnAFullSheetWaitsInANoteForTheBacklog)
{
    for (int i = 0; i < 9; ++i)
        put(QString("Task %1").arg(i), i == 0 ? Block::big : i < 4 ? Block::medium : Block::small, i);
    sheet()->setFocus();
    QTest::keyClicks(sheet(), "Slow taskk");
    QTest::keyClick(sheet(), Qt::Key_Backspace);
    EXPECT_EQ(note(), "The sheet is full: “Slow task” can wait in the Backlog");
    letNotesExpire();
    EXPECT_EQ(note(), "The sheet is full: “Slow task” can wait in the Backlog");
    QTest::keyClick(sheet(), Qt::Key_Return);
    settle();

    QTest::keyClicks(sheet(), "Buy bread");
    letNotesExpire();
    click(find<QAbstractButton>("notes.action"));
    settle();
    QStringList backlog;
    for (const DayItem &item : store->backlogItems())
        backlog.append(item.title);
    EXPECT_EQ(backlog, (QStringList{"Slow task", "Buy bread"}));
    EXPECT_EQ(note(), "");
}

// A title far past what the field takes, come from a file or sync, is kept whole unless edited, and drawn cut.
TEST_F(UndoTest, aHugeTitleIsDrawnCutAndKeptWholeUnlessEdited)
{
    const QString huge = QString("word ").repeated(1'000'000);
    const DayItem item = put(huge, Block::small, 1);
    EXPECT_LT(row("slot.5.0")->height(), 4 * Paper::rowHeight(Block::small, Paper::TextSize::medium));
    SlotField *field = open("slot.5.0");
    EXPECT_EQ(field->toPlainText().size(), Paper::kFieldMaxLength);
    QTest::keyClick(field, Qt::Key_Return);
    settle();
    EXPECT_EQ(store->item(item.id)->title, huge);

    field = open("slot.5.1");
    field->insertPlainText(QString("y").repeated(Paper::kFieldMaxLength + 50));
    EXPECT_EQ(note(), "1,000 characters: the most a task can hold");
    QTest::keyClick(field, Qt::Key_Return);
    settle();
    EXPECT_EQ(titleIn("slot.5.1").size(), Paper::kFieldMaxLength);
}

// A long title shows at most three lines of the row (two in the Small block), cut with "…".
TEST_F(UndoTest, aLongTitleTakesAtMostThreeLines)
{
    const QString long1000 = QString("many words ").repeated(100).left(Paper::kFieldMaxLength);
    put(long1000, Block::big, 1);
    put(long1000, Block::small, 2);
    for (const auto &[slot, block, lines] : {std::tuple{"slot.1.0", Block::big, 3}, {"slot.5.0", Block::small, 2}}) {
        const qreal line = PaperLabel::lineHeight(Paper::itemFont(block, Paper::TextSize::medium));
        EXPECT_LE(row(slot)->height(),
                  std::max(Paper::rowHeight(block, Paper::TextSize::medium), int(std::ceil(lines * line))))
            << slot;
    }
}

} // namespace
