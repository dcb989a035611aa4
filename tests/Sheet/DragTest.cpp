#include "SheetFixture.h"

#include "Vellora/Sheet/LandingMark.h"

using namespace SheetTest;

namespace {

class DragTest : public SheetFixture
{
protected:
    // Presses on a row and moves, mostly vertically, to a point; the button stays down.
    void lift(const QString &slot, QPoint to)
    {
        const QPoint start = centreOf(slot);
        press(sheet(), start);
        moveTo(sheet(), start + QPoint(0, to.y() > start.y() ? 12 : -12));
        moveTo(sheet(), to);
        settle();
    }

    QStringList highlighted() const
    {
        QStringList result;
        for (const QString &slot : SheetView::slotIds()) {
            if (row(slot)->isHighlighted())
                result.append(slot);
        }
        return result;
    }
};

} // namespace

TEST_F(DragTest, aDragOntoAnotherItemSwapsTheTwoAcrossBlocks)
{
    const DayItem medium = put("medium", Bucket::medium, 1);
    put("s0", Bucket::small, 2);
    put("s1", Bucket::small, 3);
    const DayItem small = put("s2", Bucket::small, 4);

    lift("slot.3.0", centreOf("slot.5.2"));
    EXPECT_TRUE(row("slot.3.0")->isMoving());
    EXPECT_EQ(sheet()->dragged(), medium.id);
    EXPECT_EQ(sheet()->target(), "slot.5.2");
    EXPECT_EQ(highlighted(), QStringList{"slot.5.2"});
    release(sheet(), centreOf("slot.5.2"));
    settle();

    EXPECT_EQ(idIn("slot.3.0"), small.id);
    EXPECT_EQ(idIn("slot.5.2"), medium.id);
    EXPECT_EQ(store->item(medium.id)->bucket, Bucket::small);
    EXPECT_EQ(store->item(small.id)->bucket, Bucket::medium);
    EXPECT_FALSE(row("slot.3.0")->isMoving());
    EXPECT_EQ(row("slot.3.0")->moveOffset(), QPointF());
    EXPECT_EQ(sheet()->dragged(), std::nullopt);
    EXPECT_EQ(sheet()->target(), std::nullopt);
    EXPECT_TRUE(highlighted().isEmpty());
}

TEST_F(DragTest, aDropOnAnEmptyRowOfAnotherBlockLandsInItsFirstFreeRow)
{
    const DayItem big = put("big", Bucket::big, 1);
    put("s0", Bucket::small, 2);
    put("s1", Bucket::small, 3);

    lift("slot.1.0", centreOf("slot.5.4"));
    EXPECT_EQ(highlighted(), QStringList{"slot.5.4"}) << "an empty row is highlighted too";
    release(sheet(), centreOf("slot.5.4"));
    settle();

    EXPECT_EQ(idIn("slot.5.2"), big.id);
    EXPECT_EQ(idIn("slot.1.0"), "");
    EXPECT_EQ(store->item(big.id)->bucket, Bucket::small);
}

TEST_F(DragTest, aDropOnItsOwnBlockOrItsOwnRowChangesNothing)
{
    put("m0", Bucket::medium, 1);
    put("m1", Bucket::medium, 2);
    const auto before = store->saved();

    drag(sheet(), centreOf("slot.3.0"), centreOf("slot.3.2"));
    settle();
    EXPECT_EQ(store->saved(), before);

    // Back over its own starting place: nothing is highlighted, nothing changes.
    lift("slot.3.1", centreOf("slot.3.1") + QPoint(0, 15));
    EXPECT_TRUE(row("slot.3.1")->isMoving());
    EXPECT_TRUE(highlighted().isEmpty());
    release(sheet(), centreOf("slot.3.1") + QPoint(0, 15));
    settle();
    EXPECT_EQ(store->saved(), before);
}

TEST_F(DragTest, aReleaseOutsideEveryRowChangesNothing)
{
    put("big", Bucket::big, 1);
    put("medium", Bucket::medium, 2);
    const auto before = store->saved();

    // The header, the footer, and the heading between two blocks.
    const int mediumTop = SheetTest::centreIn(row("slot.3.0"), sheet()).y() - row("slot.3.0")->height() / 2;
    for (const QPoint &point : {QPoint(centreOf("slot.1.0").x(), 5), QPoint(10, sheet()->height() - 5),
                                QPoint(centreOf("slot.3.0").x(), mediumTop - 10)}) {
        ASSERT_EQ(sheet()->slotAt(point), std::nullopt);
        lift("slot.3.0", point);
        EXPECT_TRUE(highlighted().isEmpty());
        release(sheet(), point);
        settle();
        EXPECT_EQ(store->saved(), before);
        EXPECT_FALSE(row("slot.3.0")->isMoving());
    }
}

TEST_F(DragTest, aDragThatStartsSidewaysStaysASwipeAndNeverHighlights)
{
    put("medium", Bucket::medium, 1);
    put("small", Bucket::small, 2);
    const auto before = store->saved();
    const QPoint start = centreOf("slot.3.0");
    press(sheet(), start);
    moveTo(sheet(), start + QPoint(20, 5));
    moveTo(sheet(), centreOf("slot.5.0") + QPoint(20, 0));
    settle();
    EXPECT_EQ(row("slot.3.0")->mode(), SlotRow::Mode::swipe);
    EXPECT_FALSE(row("slot.3.0")->isMoving());
    EXPECT_EQ(sheet()->dragged(), std::nullopt);
    EXPECT_TRUE(highlighted().isEmpty());
    release(sheet(), centreOf("slot.5.0") + QPoint(20, 0));
    settle();
    EXPECT_EQ(store->saved(), before);
}

TEST_F(DragTest, aMoveStaysAMoveEvenWhenItLaterGoesSideways)
{
    const DayItem medium = put("medium", Bucket::medium, 1);
    const QPoint start = centreOf("slot.3.0");
    press(sheet(), start);
    moveTo(sheet(), start + QPoint(2, 20));
    moveTo(sheet(), start + QPoint(150, 25));
    settle();
    EXPECT_EQ(row("slot.3.0")->mode(), SlotRow::Mode::move);
    EXPECT_EQ(row("slot.3.0")->moveOffset(), QPointF(150, 25));
    EXPECT_EQ(row("slot.3.0")->offset(), 0);
    release(sheet(), start + QPoint(150, 25));
    settle();
    EXPECT_FALSE(store->item(medium.id)->done) << "a move never ticks";
}

TEST_F(DragTest, theLiftedRowIsDrawnAboveItsNeighbours)
{
    put("m0", Bucket::medium, 1);
    lift("slot.3.0", centreOf("slot.3.2"));
    const QWidget *parent = row("slot.3.0")->parentWidget();
    QWidget *top = parent->childAt(centreOf("slot.3.2") - parent->mapTo(sheet(), QPoint()));
    EXPECT_TRUE(top == row("slot.3.0") || row("slot.3.0")->isAncestorOf(top));
    EXPECT_NE(row("slot.3.0")->graphicsEffect(), nullptr);
    release(sheet(), centreOf("slot.3.2"));
    settle();
    EXPECT_EQ(row("slot.3.0")->graphicsEffect(), nullptr);
}

// The mark shows where the drop puts the item, which is not always the row under the pointer, and lies above the
// lifted row, which would otherwise hide it.
TEST_F(DragTest, theLandingPlaceIsMarkedWhileTheRowIsLifted)
{
    put("big", Bucket::big, 1);
    put("m0", Bucket::medium, 2);
    put("s0", Bucket::small, 3);
    struct Case
    {
        QString from, over, landing;
    };
    for (const auto &[from, over, landing] : QList<Case>{{"slot.1.0", "slot.3.0", "slot.3.0"}, // a swap
                                                         {"slot.1.0", "slot.5.2", "slot.5.1"}, // first free row
                                                         {"slot.3.0", "slot.3.2", ""},         // its own block
                                                         {"slot.3.0", "slot.3.0", ""}}) {      // its own row
        const std::string name = (from + " over " + over).toStdString();
        lift(from, centreOf(over));
        ASSERT_TRUE(row(from)->isMoving()) << name;
        auto *mark = sheet()->findChild<LandingMark *>("sheet.landing");
        ASSERT_NE(mark, nullptr) << name;
        EXPECT_EQ(mark->isVisible(), !landing.isEmpty()) << name;
        if (!landing.isEmpty()) {
            EXPECT_EQ(mark->markedSlot(), landing) << name;
            EXPECT_EQ(mark->geometry(), row(landing)->slotRect()) << name;
            const QObjectList stack = mark->parentWidget()->children();
            EXPECT_GT(stack.indexOf(mark), stack.indexOf(row(from))) << name << ": drawn over the lifted row";
        }
        release(sheet(), centreOf(from)); // back home: nothing changes
        settle();
        EXPECT_FALSE(mark->isVisible()) << name;
    }
}
