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

// While a row is lifted, the row it would land on is highlighted and marked (the mark lies above the lifted row,
// which would otherwise hide it); the drop swaps it with another item, puts it in the first free row of another
// block, or changes nothing within its own block.
TEST_F(DragTest, aDropSwapsOrLandsInTheFirstFreeRowAndTheLandingIsMarked)
{
    struct Case
    {
        QString from, over, landing; // landing "": nothing changes
    };
    for (const auto &[from, over, landing] : QList<Case>{{"slot.3.0", "slot.5.1", "slot.5.1"}, // a swap across blocks
                                                         {"slot.1.0", "slot.5.4", "slot.5.2"}, // first free row
                                                         {"slot.3.0", "slot.3.2", ""},         // its own block
                                                         {"slot.3.0", "slot.3.0", ""}}) {      // its own row
        SCOPED_TRACE((from + " over " + over).toStdString());
        TearDown();
        SetUp();
        put("big", Bucket::big, 1);
        put("m0", Bucket::medium, 2);
        put("s0", Bucket::small, 3);
        put("s1", Bucket::small, 4);
        const auto before = store->saved();
        const QString moved = idIn(from), displaced = idIn(landing.isEmpty() ? from : landing);

        lift(from, centreOf(over) + (from == over ? QPoint(0, 15) : QPoint()));
        ASSERT_TRUE(row(from)->isMoving());
        EXPECT_EQ(sheet()->dragged(), moved);
        if (!landing.isEmpty() || from == over) {
            EXPECT_EQ(highlighted(), landing.isEmpty() ? QStringList() : QStringList{over});
        }
        auto *mark = sheet()->findChild<LandingMark *>("sheet.landing");
        ASSERT_NE(mark, nullptr);
        EXPECT_EQ(mark->isVisible(), !landing.isEmpty());
        if (!landing.isEmpty()) {
            EXPECT_EQ(mark->markedSlot(), landing);
            EXPECT_EQ(mark->geometry(), row(landing)->slotRect());
            const QObjectList stack = mark->parentWidget()->children();
            EXPECT_GT(stack.indexOf(mark), stack.indexOf(row(from))) << "drawn over the lifted row";
        }
        release(sheet(), centreOf(over) + (from == over ? QPoint(0, 15) : QPoint()));
        settle();

        EXPECT_FALSE(mark->isVisible());
        EXPECT_FALSE(row(from)->isMoving());
        EXPECT_EQ(sheet()->dragged(), std::nullopt);
        EXPECT_TRUE(highlighted().isEmpty());
        if (landing.isEmpty()) {
            EXPECT_EQ(store->saved(), before);
        } else {
            EXPECT_EQ(idIn(landing), moved);
            EXPECT_EQ(idIn(from), displaced == moved ? QString() : displaced);
        }
    }
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
