#include "SheetFixture.h"

#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Sheet/CountBadge.h"


using namespace SheetTest;

namespace {

QString labelText(QWidget *window, const QString &name)
{
    auto *label = window->findChild<PaperLabel *>(name);
    return label ? label->text() : QStringLiteral("<missing %1>").arg(name);
}

} // namespace

TEST_F(SheetFixture, anEmptyStoreShowsNineEmptyRowsAndZeroItems)
{
    EXPECT_EQ(labelText(window.get(), "sheet.status"), "0 items");
    EXPECT_FALSE(find<CountBadge>("sheet.backlogCount")->isVisible());
    ASSERT_EQ(SheetView::slotIds().size(), 9);
    for (const QString &slot : SheetView::slotIds()) {
        auto *placeholder = find<PaperLabel>(slot + ".placeholder");
        ASSERT_NE(placeholder, nullptr) << qPrintable(slot);
        EXPECT_TRUE(placeholder->isVisible()) << qPrintable(slot);
        EXPECT_FALSE(find<PaperLabel>(slot + ".text")->isVisible());
    }
}

// The status line counts every item wherever it is; the badge only those in the Backlog.
TEST_F(SheetFixture, theStatusLineCountsEveryItemWhereverItIs)
{
    putInBacklog("waiting", Bucket::big, 1);
    EXPECT_EQ(labelText(window.get(), "sheet.status"), "1 item");
    EXPECT_EQ(find<CountBadge>("sheet.backlogCount")->text(), "1");

    put("today", Bucket::small, 2);
    SheetTest::putItem(*store, "another day", Bucket::small, "2020-01-01", 3);
    settle();
    EXPECT_EQ(labelText(window.get(), "sheet.status"), "3 items");

    // A medium block holding four items after a sync shows the three oldest; the fourth is only counted.
    put("m1", Bucket::medium, 10);
    put("m2", Bucket::medium, 11);
    put("m3", Bucket::medium, 12);
    put("m4", Bucket::medium, 13);
    EXPECT_EQ(labelText(window.get(), "sheet.status"), "7 items");
    EXPECT_EQ(titleIn("slot.3.0"), "m1");
    EXPECT_EQ(titleIn("slot.3.2"), "m3");
    const auto labels = window->findChildren<PaperLabel *>();
    EXPECT_EQ(std::count_if(labels.begin(), labels.end(), [](PaperLabel *l) { return l->text() == "m4"; }), 0);
    EXPECT_EQ(find<CountBadge>("sheet.backlogCount")->text(), "1");
}

TEST_F(SheetFixture, theDateLineShowsTheClocksDayNotTheStoresDay)
{
    EXPECT_EQ(labelText(window.get(), "sheet.date"), "Saturday, December 5");
    // The clock runs past midnight before the store starts a new day: the line follows the clock.
    sheet()->setClock([] { return QDateTime(QDate(2027, 1, 1), QTime(0, 5), Qt::UTC); });
    EXPECT_EQ(labelText(window.get(), "sheet.date"), "Friday, January 1");
    EXPECT_EQ(store->day(), "2026-12-05");
}

TEST_F(SheetFixture, rowRectanglesTouchAndACommonEdgeBelongsToTheLowerRow)
{
    const auto frames = sheet()->frames();
    ASSERT_EQ(frames.size(), 9);
    QRectF first, second, lastMedium, firstSmall;
    for (const auto &[slot, rect] : frames) {
        if (slot == "slot.5.0")
            first = rect;
        if (slot == "slot.5.1")
            second = rect;
        if (slot == "slot.3.2")
            lastMedium = rect;
        if (slot == "slot.5.0")
            firstSmall = rect;
    }
    ASSERT_EQ(first.bottom(), second.top());
    EXPECT_EQ(sheet()->slotAt(QPointF(first.center().x(), second.top())), "slot.5.1");
    EXPECT_EQ(sheet()->slotAt(QPointF(first.center().x(), second.top() - 0.5)), "slot.5.0");
    // The gap between two blocks, with the heading, belongs to no row.
    EXPECT_EQ(sheet()->slotAt(QPointF(first.center().x(), (lastMedium.bottom() + firstSmall.top()) / 2)), std::nullopt);
    // Nor do the header and the footer.
    EXPECT_EQ(sheet()->slotAt(QPointF(10, 10)), std::nullopt);
    EXPECT_EQ(sheet()->slotAt(QPointF(10, sheet()->height() - 5)), std::nullopt);
}

TEST_F(SheetFixture, aDropOnASlotThatDoesNotParseChangesNothing)
{
    const DayItem big = put("big", Bucket::big, 1);
    const auto before = store->saved();
    for (const char *slot : {"slot.3", "slot.4.0", "slot.3.-1", "slot.3.a", "slot.3.1.2", "", "...."})
        sheet()->dropDragged(big.id, slot);
    EXPECT_EQ(store->saved(), before);
    // A row index past every row is an empty row: the item moves into that block.
    sheet()->dropDragged(big.id, "slot.5.99999999999999999999");
    EXPECT_EQ(store->item(big.id)->bucket, Bucket::small);
}

