#include "SheetFixture.h"

#include "Vellora/DayData/SheetText.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Sheet/SwipeSign.h"

#include <QClipboard>

#include <cstdlib>

using SlotRowTest = SheetFixture;

// Return and Tab commit and open the next row (Shift+Tab the previous one), so that a list can be typed row after
// row (the big row leads to the first medium one, the last row ends editing); a blank commit deletes, an unchanged
// one stores nothing, and Escape stores nothing either.
TEST_F(SlotRowTest, returnCommitsWhatWasTypedAndOpensTheNextRow)
{
    const DayItem kept = put("Keep me", Block::medium, 1);
    const DayItem blanked = put("Blank me", Block::small, 2);
    struct Case
    {
        QString slot, typed; // typed replaces the row's text
        std::optional<QString> next;
        Qt::Key key = Qt::Key_Return;
    };
    for (const Case &c :
         {Case{"slot.3.1", "Buy bread", "slot.3.2"}, Case{"slot.3.2", "Tabbed", "slot.5.0", Qt::Key_Tab},
          Case{"slot.5.1", "Back", "slot.5.0", Qt::Key_Backtab}, Case{"slot.1.0", "Big one", "slot.3.0"},
          Case{"slot.3.0", "Beta", std::nullopt, Qt::Key_Escape}, Case{"slot.3.0", "Keep me", "slot.3.1"},
          Case{"slot.5.0", "", "slot.5.1"}, Case{"slot.5.2", "   ", "slot.5.3"},
          Case{"slot.5.4", "Last", std::nullopt}}) {
        SlotField *edit = open(c.slot);
        ASSERT_TRUE(edit && edit->hasFocus()) << qPrintable(c.slot);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, c.typed);
        QTest::keyClick(edit, c.key, c.key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
        settle();
        EXPECT_EQ(sheet()->editingSlot(), c.next) << qPrintable(c.slot);
        if (c.next) {
            EXPECT_EQ(QApplication::focusWidget(), find<SlotField>(*c.next + ".field")) << qPrintable(c.slot);
        }
        sheet()->finishOpenEdit();
    }
    EXPECT_EQ(store->item(kept.id), kept); // the same change time: nothing was stored
    EXPECT_FALSE(store->item(blanked.id));
    QStringList titles;
    for (const auto &[id, item] : store->saved().items)
        titles.append(item.title);
    titles.sort();
    EXPECT_EQ(titles, (QStringList{"Back", "Big one", "Buy bread", "Keep me", "Last", "Tabbed"}));
}

// Lines pasted into an empty row are a list: a task each, in the block's free rows and the rest in the Backlog with
// a note, in one change that one Undo takes back. Into a task they are joined into its title. Every kind of line
// break splits, and a tab is a space like any other.
TEST_F(SlotRowTest, pastedLinesMakeATaskEachInAnEmptyRowAndJoinInATask)
{
    put("Small one", Block::small, 1);
    put("Small two", Block::small, 2);
    put("Edit me", Block::medium, 3);
    const auto titles = [](const QList<DayItem> &items) {
        QStringList result;
        for (const DayItem &item : items)
            result.append(item.title);
        return result;
    };
    SlotField *edit = open("slot.5.2");
    QApplication::clipboard()->setText("one\ntwo\tbits\n\n  three\r\nfour\n");
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    settle();
    EXPECT_EQ(titles(store->itemsIn(Block::small)),
              (QStringList{"Small one", "Small two", "one", "two bits", "three"}));
    EXPECT_EQ(titles(store->backlogItems()), QStringList{"four"});
    EXPECT_EQ(window->notes()->note(), "1 pasted task went to the Backlog: its block is full");
    EXPECT_EQ(sheet()->editingSlot(), std::nullopt);
    window->history()->undo();
    settle();
    EXPECT_EQ(titles(store->itemsIn(Block::small)), (QStringList{"Small one", "Small two"}));
    EXPECT_TRUE(store->backlogItems().isEmpty());

    edit = open("slot.3.0");
    QApplication::clipboard()->setText(" and\nmore\ttoo");
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    settle();
    EXPECT_EQ(titles(store->itemsIn(Block::medium)), QStringList{"Edit me and more too"});
    EXPECT_EQ(sheet()->editingSlot(), "slot.3.1");

    EXPECT_EQ(joinedLines("\r\na\rb\u2028c\u2029d\u0085e\x0b"
                                   "f\x0cg\n"),
              "a b c d e f g");
    EXPECT_EQ(joinedLines("\n\n"), "");
    EXPECT_FALSE(containsLineBreak("no break \t here"));
}

// A click on another row or beside the rows ends the edit and keeps what was typed.
TEST_F(SlotRowTest, aClickElsewhereEndsTheEditAndKeepsWhatWasTyped)
{
    QTest::keyClicks(open("slot.3.0"), "First");
    SlotField *second = open("slot.5.2");
    EXPECT_TRUE(second->hasFocus());
    QTest::keyClicks(second, "Second");
    click(sheet(), QPoint(sheet()->width() / 2, 3)); // the sheet's top padding
    settle();
    EXPECT_EQ(sheet()->editingSlot(), std::nullopt);
    EXPECT_EQ(titleIn("slot.3.0"), "First");
    EXPECT_EQ(titleIn("slot.5.0"), "Second");
}

namespace {

struct SwipeCase
{
    QString slot;
    int sideways;
    QString word;                  // "": no sign, and nothing happens
    std::optional<bool> doneAfter; // nullopt: deleted
    bool struckAfter = false;      // the second row's text is struck out afterwards
};

class SwipeTest : public SheetFixture, public testing::WithParamInterface<SwipeCase>
{
};

} // namespace

// Past 60 points, and only while the button is held, the uncovered edge says what letting go will do; letting go
// there acts, and the row springs back.
TEST_P(SwipeTest, aSwipePastItsThresholdSaysWhatItWillDoAndDoesIt)
{
    const SwipeCase &c = GetParam();
    put("Tick me", Block::medium, 1);
    put("Ticked", Block::medium, 2, true);
    const QString id = idIn(c.slot);
    const QPoint centre = centreOf(c.slot);
    press(sheet(), centre);
    moveTo(sheet(), centre + QPoint(c.sideways / 2, 0));
    moveTo(sheet(), centre + QPoint(c.sideways, 0));
    auto *sign = sheet()->findChild<SwipeSign *>(c.slot + ".swipe");
    ASSERT_NE(sign, nullptr);
    EXPECT_EQ(sign->isVisible(), !c.word.isEmpty());
    if (!c.word.isEmpty()) {
        EXPECT_EQ(sign->word(), c.word);
    }
    release(sheet(), centre + QPoint(c.sideways, 0));
    settle();
    EXPECT_FALSE(sign->isVisible());
    EXPECT_EQ(store->item(id) ? std::optional(store->item(id)->done) : std::nullopt, c.doneAfter);
    EXPECT_EQ(row(c.slot)->offset(), 0);
    EXPECT_EQ(row(c.slot)->mode(), std::nullopt);
    if (c.struckAfter) {
        EXPECT_TRUE(find<PaperLabel>("slot.3.1.text")->isStruckOut());
    }
}

INSTANTIATE_TEST_SUITE_P(Swipes, SwipeTest,
                         testing::Values(SwipeCase{"slot.3.0", 60, "", false}, SwipeCase{"slot.3.0", 61, "Done", true},
                                         SwipeCase{"slot.3.1", 90, "Not done", false},
                                         SwipeCase{"slot.3.0", -60, "", false},
                                         SwipeCase{"slot.3.1", -61, "Delete", std::nullopt, true}),
                         [](const testing::TestParamInfo<SwipeCase> &info) {
                             const SwipeCase &c = info.param;
                             return (c.slot.mid(5).replace('.', '_') + (c.sideways < 0 ? "_left_" : "_right_") +
                                     QString::number(std::abs(c.sideways)))
                                 .toStdString();
                         });

// A wobble under the threshold, a drag from an empty row, and a drag on the row being edited change nothing.
TEST_F(SlotRowTest, gesturesThatMustDoNothing)
{
    put("Stay", Block::medium, 1);
    const auto before = store->saved();
    const QPoint centre = centreOf("slot.3.0");
    for (const QPoint &step : {QPoint(7, 0), QPoint(0, 7), QPoint(-5, 5)}) {
        press(sheet(), centre);
        moveTo(sheet(), centre + step);
        EXPECT_EQ(row("slot.3.0")->mode(), std::nullopt);
        EXPECT_EQ(sheet()->dragged(), std::nullopt);
        release(sheet(), centre + step);
    }
    drag(sheet(), centreOf("slot.3.2"), centreOf("slot.3.2") + QPoint(80, 0));
    drag(sheet(), centreOf("slot.3.2"), centreOf("slot.5.0"));
    settle();
    EXPECT_EQ(store->saved(), before);
    EXPECT_EQ(sheet()->editingSlot(), std::nullopt);

    open("slot.3.0");
    const QPoint start = centre + QPoint(-120, 0);
    drag(sheet(), start, start + QPoint(-80, 0));
    settle();
    EXPECT_EQ(row("slot.3.0")->offset(), 0);
    EXPECT_EQ(row("slot.3.0")->mode(), std::nullopt);
    EXPECT_EQ(store->saved(), before);
}
