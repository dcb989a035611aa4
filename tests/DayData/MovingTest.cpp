#include "StoreTestSupport.h"

#include <gtest/gtest.h>

using SyncKit::PendingRecordZoneChange;

namespace {

class MovingTest : public testing::Test
{
protected:
    StoreFixture fixture;
    std::unique_ptr<DayStore> store = fixture.make(true, true);

    QString add(const QString &title, Bucket bucket) { return store->addItem(title, bucket)->id; }
    QList<PendingRecordZoneChange> queued() const { return store->engine()->state().pendingRecordZoneChanges(); }
    void clearQueue() { store->engine()->state().remove(queued()); }
};

} // namespace

TEST_F(MovingTest, MoveItemChecksRoomAndOwnBlock)
{
    const QString big = add("big", Bucket::big);
    const QString small = add("small", Bucket::small);
    const DayItem before = *store->item(small);

    EXPECT_TRUE(store->moveItem(small, Bucket::small));
    EXPECT_EQ(*store->item(small), before) << "its own block: nothing changes";

    EXPECT_FALSE(store->moveItem(small, Bucket::big));
    EXPECT_EQ(*store->item(small), before);

    EXPECT_TRUE(store->moveItem(small, Bucket::medium));
    EXPECT_EQ(titles(store->itemsIn(Bucket::medium)), QStringList{"small"});
    EXPECT_FALSE(store->moveItem("NO-SUCH-ID", Bucket::medium));
    EXPECT_EQ(store->itemsIn(Bucket::big).first().id, big);
}

TEST_F(MovingTest, SwapExchangesBlocksAndRowsAndQueuesMovedFirst)
{
    const QString big = add("big", Bucket::big);
    add("m0", Bucket::medium);
    const QString m1 = add("m1", Bucket::medium);
    store->toggleDone(big);
    clearQueue();
    const QDateTime bigRow = store->item(big)->modifiedAt, m1Row = store->item(m1)->modifiedAt;

    store->placeItem(m1, big, Bucket::big);
    EXPECT_EQ(store->item(m1)->modifiedAt, bigRow);
    EXPECT_EQ(store->item(big)->modifiedAt, m1Row);
    EXPECT_EQ(titles(store->itemsIn(Bucket::big)), QStringList{"m1"});
    EXPECT_EQ(titles(store->itemsIn(Bucket::medium)), (QStringList{"m0", "big"}));
    EXPECT_TRUE(store->item(big)->done) << "done stays with its item";
    EXPECT_EQ(queued(), (QList{PendingRecordZoneChange::save({m1, syncZoneID()}),
                               PendingRecordZoneChange::save({big, syncZoneID()})}));

    // Onto itself or onto nothing: a move into the block.
    store->placeItem(m1, m1, Bucket::big);
    EXPECT_EQ(titles(store->itemsIn(Bucket::big)), QStringList{"m1"});
    store->placeItem(m1, QString("NO-SUCH-ID"), Bucket::small);
    EXPECT_EQ(titles(store->itemsIn(Bucket::small)), QStringList{"m1"});
}

TEST_F(MovingTest, SwapWithABacklogItemBringsItToToday)
{
    const QString today = add("today", Bucket::big);
    const QString waiting = add("waiting", Bucket::big);
    store->placeItem(waiting, today, Bucket::big);
    EXPECT_EQ(store->item(today)->day, store->day());
    EXPECT_EQ(store->item(waiting)->day, store->day());
}

TEST_F(MovingTest, StepWalksTheNineRows)
{
    const QString big = add("big", Bucket::big);
    const QString m0 = add("m0", Bucket::medium);
    const QString m1 = add("m1", Bucket::medium);
    const QString m2 = add("m2", Bucket::medium);
    const auto before = store->saved();

    store->stepItem(big, -1);
    EXPECT_EQ(store->saved(), before) << "up from the first row does nothing";

    // Down onto the empty first small row.
    store->stepItem(m2, +1);
    EXPECT_EQ(titles(store->itemsIn(Bucket::small)), QStringList{"m2"});

    // Down on the second of two medium items: an empty row of its own block, so nothing.
    const auto twoMedium = store->saved();
    store->stepItem(m1, +1);
    EXPECT_EQ(store->saved(), twoMedium);

    // Up from the first medium row swaps with the big item.
    store->stepItem(m0, -1);
    EXPECT_EQ(titles(store->itemsIn(Bucket::big)), QStringList{"m0"});
    EXPECT_EQ(titles(store->itemsIn(Bucket::medium)), (QStringList{"big", "m1"}));

    // Up from the first small row into a medium block with a free row lands in its first free row.
    store->stepItem(m2, -1);
    EXPECT_EQ(titles(store->itemsIn(Bucket::medium)), (QStringList{"big", "m1", "m2"}));
}

TEST_F(MovingTest, StepIgnoresTheLastRowSurplusAndBacklogItems)
{
    QStringList small;
    for (int i = 0; i < 5; ++i)
        small.append(add(QString("s%1").arg(i), Bucket::small));
    const QString waiting = add("waiting", Bucket::small);
    const auto before = store->saved();
    store->stepItem(small.last(), +1);
    store->stepItem(waiting, -1);
    EXPECT_EQ(store->saved(), before);

    // A surplus item from another device has no row and does not step.
    DayItem surplus = *store->item(waiting);
    surplus.day = store->day();
    store->setItem(surplus.id, surplus);
    const auto withSurplus = store->saved();
    store->stepItem(surplus.id, -1);
    EXPECT_EQ(store->saved(), withSurplus);
}

TEST_F(MovingTest, BringToTodayNeedsARowInTheItemsBlock)
{
    QStringList small;
    for (int i = 0; i < 5; ++i)
        small.append(add(QString("s%1").arg(i), Bucket::small));
    const QString waiting = add("waiting", Bucket::small);
    EXPECT_FALSE(store->bringToToday(waiting));
    EXPECT_FALSE(store->bringToToday(small.first())) << "not in the Backlog";

    store->deleteItem(small[1]);
    EXPECT_TRUE(store->bringToToday(waiting));
    EXPECT_EQ(store->itemsIn(Bucket::small).at(4).id, waiting);
}

TEST_F(MovingTest, SendToBacklogUnticksAndKeepsTheBlock)
{
    add("older", Bucket::big);
    const QString done = add("done", Bucket::medium);
    store->toggleDone(done);
    store->sendToBacklog(done);
    const auto item = store->item(done);
    EXPECT_EQ(item->day, kOpenDay);
    EXPECT_FALSE(item->done);
    EXPECT_EQ(item->bucket, Bucket::medium);
    store->sendToBacklog("NO-SUCH-ID");
}
