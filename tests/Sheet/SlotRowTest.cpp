#include "SheetFixture.h"

#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Paper/PaperPlainButton.h"
#include "Vellora/Sheet/SlotField.h"
#include "Vellora/Sheet/SwipeSign.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>

using namespace SheetTest;

namespace {

class SlotRowTest : public SheetFixture
{
protected:
    SlotField *field(const QString &slot) const { return find<SlotField>(slot + ".field"); }

    // Clicks the row and checks that it opened for typing.
    SlotField *open(const QString &slot)
    {
        click(sheet(), centreOf(slot));
        settle();
        EXPECT_EQ(sheet()->editingSlot(), slot);
        SlotField *edit = field(slot);
        EXPECT_NE(edit, nullptr);
        return edit;
    }

    void clear(SlotField *edit)
    {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
    }

    // Moves the pointer off the rows, then onto the row, so that the row sees it enter.
    void hover(const QString &slot)
    {
        moveTo(sheet(), QPoint(5, 5));
        moveTo(sheet(), centreOf(slot));
        settle();
    }

    bool shown(const QString &name) const
    {
        auto *widget = find<QWidget>(name);
        return widget && widget->isVisible();
    }

    QMenu *openContextMenu(const QString &slot)
    {
        SlotRow *target = row(slot);
        const QPoint centre = target->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, centre, target->mapToGlobal(centre));
        QApplication::sendEvent(target, &event);
        // The newest menu: one closed before may still wait for its deletion.
        const QList<QMenu *> menus = target->findChildren<QMenu *>();
        return menus.isEmpty() || menus.last()->isHidden() ? nullptr : menus.last();
    }
};

QStringList actionTexts(QMenu *menu)
{
    QStringList texts;
    for (QAction *action : menu->actions())
        texts.append(action->text());
    return texts;
}

} // namespace

// Return adds what was typed and opens the next row, so that a list can be typed row after row; the big row leads
// to the first medium one, and the last row of the sheet ends editing.
TEST_F(SlotRowTest, typingAndReturnAddsTheItemAndOpensTheNextRow)
{
    struct Case
    {
        QString slot, title;
        std::optional<QString> next;
    };
    for (const Case &c : {Case{"slot.3.0", "Buy bread", "slot.3.1"}, Case{"slot.3.1", "Post the letter", "slot.3.2"},
                          Case{"slot.1.0", "Big one", "slot.3.0"}, Case{"slot.5.4", "Last", std::nullopt}}) {
        SlotField *edit = open(c.slot);
        ASSERT_TRUE(edit);
        EXPECT_TRUE(edit->hasFocus());
        EXPECT_EQ(edit->toPlainText(), "");
        QTest::keyClicks(edit, c.title);
        QTest::keyClick(edit, Qt::Key_Return);
        settle();
        const auto &items = store->saved().items;
        EXPECT_TRUE(std::any_of(items.begin(), items.end(), [&](const auto &i) { return i.second.title == c.title; }));
        EXPECT_EQ(sheet()->editingSlot(), c.next);
        sheet()->finishOpenEdit();
    }
    EXPECT_EQ(store->itemsIn(Bucket::medium).size(), 2);
    EXPECT_EQ(store->saved().items.size(), 4u);
}

TEST_F(SlotRowTest, escapeRestoresTheTitleAndStoresNothing)
{
    const DayItem item = put("Alpha", Bucket::medium, 1);
    SlotField *edit = open("slot.3.0");
    EXPECT_EQ(edit->toPlainText(), "Alpha");
    clear(edit);
    QTest::keyClicks(edit, "Beta");
    QTest::keyClick(edit, Qt::Key_Escape);
    settle();

    EXPECT_EQ(sheet()->editingSlot(), std::nullopt);
    EXPECT_EQ(store->item(item.id), item);
    EXPECT_EQ(find<PaperLabel>("slot.3.0.text")->text(), "Alpha");
    EXPECT_TRUE(find<PaperLabel>("slot.3.0.text")->isVisible());
    EXPECT_EQ(open("slot.3.0")->toPlainText(), "Alpha");
}

TEST_F(SlotRowTest, aBlankCommitDeletesTheItemAndSpacesInAnEmptyRowAddNothing)
{
    const DayItem item = put("Alpha", Bucket::small, 1);
    SlotField *edit = open("slot.5.0");
    clear(edit);
    QTest::keyClick(edit, Qt::Key_Return);
    settle();
    EXPECT_FALSE(store->item(item.id));

    SlotField *empty = open("slot.3.1");
    QTest::keyClicks(empty, "   ");
    QTest::keyClick(empty, Qt::Key_Return);
    settle();
    EXPECT_TRUE(store->saved().items.empty());
}

TEST_F(SlotRowTest, returnOnAnUnchangedTitleStoresNothingAndMovesOn)
{
    const DayItem item = put("Keep me", Bucket::medium, 1);
    put("Second", Bucket::medium, 2);
    QTest::keyClick(open("slot.3.0"), Qt::Key_Return);
    settle();
    EXPECT_EQ(store->item(item.id), item); // same change time, so the same row
    EXPECT_EQ(titleIn("slot.3.0"), "Keep me");
    EXPECT_EQ(sheet()->editingSlot(), "slot.3.1");
    EXPECT_EQ(field("slot.3.1")->toPlainText(), "Second");
}

TEST_F(SlotRowTest, pastedLinesAreJoinedWithSingleSpacesAndCommittedAtOnce)
{
    SlotField *edit = open("slot.5.0");
    QApplication::clipboard()->setText("one\ntwo\n\nthree");
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    settle();

    const QList<DayItem> small = store->itemsIn(Bucket::small);
    ASSERT_EQ(small.size(), 1);
    EXPECT_EQ(small[0].title, "one two three");
    EXPECT_EQ(sheet()->editingSlot(), "slot.5.1");
}

TEST_F(SlotRowTest, everyKindOfLineBreakSplitsAndEmptyPiecesAreDropped)
{
    EXPECT_EQ(SlotRow::joinedLines("one\ntwo\n\nthree"), "one two three");
    EXPECT_EQ(SlotRow::joinedLines("\r\na\rb\u2028c\u2029d\u0085e\x0b"
                                   "f\x0cg\n"),
              "a b c d e f g");
    EXPECT_EQ(SlotRow::joinedLines("\n\n"), "");
    EXPECT_FALSE(SlotRow::containsLineBreak("no break \t here"));
    EXPECT_TRUE(SlotRow::containsLineBreak(QString::fromUtf8("line\u2028separator")));
}

// A click on another row or beside the rows ends the edit and keeps what was typed.
TEST_F(SlotRowTest, aClickElsewhereEndsTheEditAndKeepsWhatWasTyped)
{
    QTest::keyClicks(open("slot.3.0"), "First");
    SlotField *second = open("slot.5.2");
    EXPECT_TRUE(second->hasFocus());
    EXPECT_FALSE(row("slot.3.0")->isEditing());
    QTest::keyClicks(second, "Second");
    click(sheet(), QPoint(sheet()->width() / 2, 3)); // the sheet's top padding
    settle();
    EXPECT_EQ(sheet()->editingSlot(), std::nullopt);
    EXPECT_EQ(titleIn("slot.3.0"), "First");
    EXPECT_EQ(titleIn("slot.5.0"), "Second");
}

TEST_F(SlotRowTest, swipesPastSixtyPointsTickAndDelete)
{
    const DayItem item = put("Tick me", Bucket::small, 1);
    const QPoint centre = centreOf("slot.5.0");

    drag(sheet(), centre, centre + QPoint(60, 0));
    settle();
    EXPECT_EQ(store->item(item.id), item) << "exactly 60 points springs back";
    EXPECT_EQ(row("slot.5.0")->offset(), 0);

    drag(sheet(), centre, centre + QPoint(61, 0));
    settle();
    EXPECT_TRUE(store->item(item.id)->done);
    EXPECT_TRUE(find<PaperLabel>("slot.5.0.text")->isStruckOut());

    drag(sheet(), centre, centre + QPoint(61, 0));
    settle();
    EXPECT_FALSE(store->item(item.id)->done) << "a second swipe unticks";

    drag(sheet(), centre, centre - QPoint(61, 0));
    settle();
    EXPECT_FALSE(store->item(item.id));
    EXPECT_EQ(row("slot.5.0")->offset(), 0);
    EXPECT_EQ(row("slot.5.0")->mode(), std::nullopt);
}

// Past the threshold, and only while the button is held, the uncovered edge says what letting go will do.
TEST_F(SlotRowTest, pastItsThresholdASwipeSaysWhatLettingGoWillDo)
{
    put("Tick me", Bucket::medium, 1);
    put("Ticked", Bucket::medium, 2, true);
    const auto before = store->saved();
    struct Case
    {
        QString slot;
        int sideways;
        QString word;
    };
    for (const auto &[slot, sideways, word] : QList<Case>{{"slot.3.0", 60, ""},
                                                          {"slot.3.0", 61, "Done"},
                                                          {"slot.3.1", 90, "Not done"},
                                                          {"slot.3.0", -60, ""},
                                                          {"slot.3.1", -61, "Delete"}}) {
        const std::string name = QStringLiteral("%1 by %2").arg(slot).arg(sideways).toStdString();
        const QPoint centre = centreOf(slot);
        press(sheet(), centre);
        moveTo(sheet(), centre + QPoint(sideways / 2, 0));
        moveTo(sheet(), centre + QPoint(sideways, 0));
        auto *sign = sheet()->findChild<SwipeSign *>(slot + ".swipe");
        ASSERT_NE(sign, nullptr) << name;
        EXPECT_EQ(sign->isVisible(), !word.isEmpty()) << name;
        if (!word.isEmpty()) {
            EXPECT_EQ(sign->word(), word) << name;
        }
        moveTo(sheet(), centre + QPoint(2, 0)); // back under the threshold: gone again, and letting go does nothing
        EXPECT_FALSE(sign->isVisible()) << name;
        release(sheet(), centre + QPoint(2, 0));
        settle();
    }
    EXPECT_EQ(store->saved(), before);

    drag(sheet(), centreOf("slot.3.0"), centreOf("slot.3.0") + QPoint(61, 0)); // let go past it: acted, and gone
    settle();
    EXPECT_FALSE(sheet()->findChild<SwipeSign *>("slot.3.0.swipe")->isVisible());
}

TEST_F(SlotRowTest, aDragOfSevenPointsDoesNothing)
{
    put("Stay", Bucket::medium, 1);
    const auto before = store->saved();
    const QPoint centre = centreOf("slot.3.0");
    for (const QPoint &step : {QPoint(7, 0), QPoint(0, 7), QPoint(-5, 5)}) {
        press(sheet(), centre);
        moveTo(sheet(), centre + step);
        EXPECT_EQ(row("slot.3.0")->mode(), std::nullopt);
        EXPECT_EQ(row("slot.3.0")->offset(), 0);
        EXPECT_EQ(sheet()->dragged(), std::nullopt);
        release(sheet(), centre + step);
    }
    settle();
    EXPECT_EQ(store->saved(), before);
    EXPECT_EQ(sheet()->editingSlot(), std::nullopt);
    EXPECT_EQ(row("slot.3.0")->offset(), 0);
    EXPECT_EQ(row("slot.3.0")->mode(), std::nullopt);
    EXPECT_FALSE(row("slot.3.0")->isMoving());
}

TEST_F(SlotRowTest, dragsOnAnEmptyRowOrOnTheRowBeingEditedDoNothing)
{
    put("Item", Bucket::medium, 1);
    const auto before = store->saved();
    drag(sheet(), centreOf("slot.3.2"), centreOf("slot.3.2") + QPoint(80, 0));
    drag(sheet(), centreOf("slot.3.2"), centreOf("slot.5.0"));
    settle();
    EXPECT_EQ(store->saved(), before);
    EXPECT_EQ(row("slot.3.2")->offset(), 0);

    open("slot.3.0");
    const QPoint start = centreOf("slot.3.0") + QPoint(-120, 0);
    drag(sheet(), start, start + QPoint(-80, 0));
    settle();
    EXPECT_EQ(row("slot.3.0")->offset(), 0);
    EXPECT_EQ(row("slot.3.0")->mode(), std::nullopt);
}

TEST_F(SlotRowTest, hoverControlsShowOnlyOverAFilledRowAndFollowTheStepRules)
{
    const DayItem big = put("Big", Bucket::big, 1);
    put("Last small", Bucket::small, 2);
    for (int i = 0; i < 4; ++i)
        put(QString("small %1").arg(i), Bucket::small, 10 + i);
    ASSERT_EQ(titleIn("slot.5.4"), "small 3");

    hover("slot.1.0");
    EXPECT_TRUE(row("slot.1.0")->isHovering());
    EXPECT_FALSE(shown("slot.1.0.up")) << "the first row of the sheet has no step up";
    EXPECT_TRUE(shown("slot.1.0.down"));
    EXPECT_TRUE(shown("slot.1.0.delete"));
    EXPECT_FALSE(shown("slot.5.0.delete")) << "controls only under the pointer";

    hover("slot.5.4");
    EXPECT_TRUE(shown("slot.5.4.up"));
    EXPECT_FALSE(shown("slot.5.4.down")) << "the last row of the sheet has no step down";
    EXPECT_FALSE(shown("slot.1.0.delete"));

    hover("slot.3.1");
    EXPECT_FALSE(shown("slot.3.1.up") || shown("slot.3.1.down") || shown("slot.3.1.delete")) << "empty row";

    // Stepping the big item down puts it in the first medium row.
    hover("slot.1.0");
    click(find<PaperPlainButton>("slot.1.0.down"));
    settle();
    EXPECT_EQ(store->item(big.id)->bucket, Bucket::medium);
    EXPECT_EQ(idIn("slot.3.0"), big.id);

    hover("slot.3.0");
    click(find<PaperPlainButton>("slot.3.0.up"));
    settle();
    EXPECT_EQ(idIn("slot.1.0"), big.id);

    hover("slot.1.0");
    click(find<PaperPlainButton>("slot.1.0.delete"));
    settle();
    EXPECT_FALSE(store->item(big.id));

    // No controls while editing.
    open("slot.5.0");
    hover("slot.5.0");
    EXPECT_FALSE(shown("slot.5.0.delete"));
}

TEST_F(SlotRowTest, theContextMenuEditsTicksSendsToTheBacklogAndDeletes)
{
    const DayItem item = put("Done already", Bucket::medium, 1, true);
    const auto choose = [this](const QString &text) {
        QMenu *menu = openContextMenu("slot.3.0");
        if (!menu)
            return false;
        const QStringList texts = actionTexts(menu);
        const qsizetype index = texts.indexOf(text);
        if (index >= 0)
            menu->actions()[index]->trigger();
        menu->close();
        settle();
        return index >= 0;
    };
    ASSERT_TRUE(choose("Not done"));
    EXPECT_FALSE(store->item(item.id)->done);
    ASSERT_TRUE(choose("Edit"));
    EXPECT_EQ(sheet()->editingSlot(), "slot.3.0");
    sheet()->finishOpenEdit();
    ASSERT_TRUE(choose("Move to Backlog"));
    EXPECT_TRUE(store->item(item.id)->isInBacklog());

    const DayItem other = put("Another", Bucket::medium, 2);
    ASSERT_TRUE(choose("Delete task"));
    EXPECT_FALSE(store->item(other.id));

    EXPECT_EQ(openContextMenu("slot.3.1"), nullptr) << "an empty row has no menu";
}

