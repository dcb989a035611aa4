#include "SheetFixture.h"

#include "tests/CaseName.h"

#include "Vellora/Sheet/LandingMark.h"

namespace {

struct DragCase
{
    const char *name;
    QString from, over, landing; // over "": the point below; landing "": nothing changes
    QPoint point;
};

class DragTest : public SheetFixture, public testing::WithParamInterface<DragCase>
{
protected:
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
// block, or changes nothing within its own block or outside every row. A move that goes sideways after it started
// stays a move.
TEST_P(DragTest, aDropSwapsOrLandsInTheFirstFreeRowAndTheLandingIsMarked)
{
    const DragCase &c = GetParam();
    put("big", Block::big, 1);
    put("m0", Block::medium, 2);
    put("s0", Block::small, 3);
    put("s1", Block::small, 4);
    const auto before = store->saved();
    const QString moved = idIn(c.from), displaced = idIn(c.landing.isEmpty() ? c.from : c.landing);
    const QPoint to = c.over.isEmpty() ? QPoint(c.point.x(), (c.point.y() + sheet()->height()) % sheet()->height())
                                       : centreOf(c.over) + (c.from == c.over ? QPoint(0, 15) : QPoint(60, 0));
    const QPoint start = centreOf(c.from);
    press(sheet(), start);
    moveTo(sheet(), start + QPoint(0, to.y() > start.y() ? 12 : -12));
    moveTo(sheet(), to);
    settle();
    ASSERT_TRUE(row(c.from)->isMoving());
    EXPECT_EQ(sheet()->dragged(), moved);
    if (!c.landing.isEmpty() || c.from == c.over || c.over.isEmpty()) {
        EXPECT_EQ(highlighted(), c.landing.isEmpty() ? QStringList() : QStringList{c.over});
    }
    auto *mark = sheet()->findChild<LandingMark *>("sheet.landing");
    ASSERT_NE(mark, nullptr);
    EXPECT_EQ(mark->isVisible(), !c.landing.isEmpty());
    if (!c.landing.isEmpty()) {
        EXPECT_EQ(mark->markedSlot(), c.landing);
        EXPECT_EQ(mark->geometry(), row(c.landing)->slotRect());
        const QObjectList stack = mark->parentWidget()->children();
        EXPECT_GT(stack.indexOf(mark), stack.indexOf(row(c.from))) << "drawn over the lifted row";
    }
    release(sheet(), to);
    settle();

    EXPECT_FALSE(mark->isVisible());
    EXPECT_FALSE(row(c.from)->isMoving());
    EXPECT_EQ(sheet()->dragged(), std::nullopt);
    EXPECT_TRUE(highlighted().isEmpty());
    if (c.landing.isEmpty()) {
        EXPECT_EQ(store->saved(), before);
    } else {
        EXPECT_EQ(idIn(c.landing), moved);
        EXPECT_EQ(idIn(c.from), displaced == moved ? QString() : displaced);
    }
}

INSTANTIATE_TEST_SUITE_P(Drops, DragTest,
                         testing::Values(DragCase{"a swap across blocks", "slot.3.0", "slot.5.1", "slot.5.1", {}},
                                         DragCase{"the first free row", "slot.1.0", "slot.5.4", "slot.5.2", {}},
                                         DragCase{"its own block", "slot.3.0", "slot.3.2", "", {}},
                                         DragCase{"the footer", "slot.3.0", "", "", {10, -5}}),
                         CaseName());
