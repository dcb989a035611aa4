#include "StoreTestSupport.h"

#include "Vellora/DayData/StoreFile.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>

using SyncKit::PendingRecordZoneChange;

namespace {

QList<PendingRecordZoneChange> queued(const DayStore &store)
{
    return store.engine()->state().pendingRecordZoneChanges();
}

PendingRecordZoneChange saveOf(const QString &id)
{
    return PendingRecordZoneChange::save({id, syncZoneID()});
}

PendingRecordZoneChange deleteOf(const QString &id)
{
    return PendingRecordZoneChange::remove({id, syncZoneID()});
}

class DayStoreTest : public testing::Test
{
protected:
    StoreFixture fixture;
};

} // namespace

TEST_F(DayStoreTest, AddItemTrimsAndQueuesOneSaveAndABlankTitleMakesNothing)
{
    auto store = fixture.make(true, true);
    EXPECT_FALSE(store->addItem(" \n\t ", Bucket::small));
    EXPECT_FALSE(QFile::exists(fixture.filePath()));
    const auto item = store->addItem("  Call Anna \n", Bucket::medium);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->title, "Call Anna");
    EXPECT_EQ(item->day, store->day());
    EXPECT_EQ(item->id, item->id.toUpper());
    EXPECT_EQ(queued(*store), QList{saveOf(item->id)});
    EXPECT_EQ(StoreFile::load(fixture.filePath()).saved->items.size(), 1u);
}

TEST_F(DayStoreTest, FullBlockSendsNewItemToTheBacklog)
{
    auto store = fixture.make();
    store->addItem("First", Bucket::big);
    const auto second = store->addItem("Second", Bucket::big);
    EXPECT_EQ(second->day, kOpenDay);
    EXPECT_EQ(second->bucket, Bucket::big);
    EXPECT_EQ(titles(store->backlogItems()), QStringList{"Second"});
}

TEST_F(DayStoreTest, RowsFollowTheTimeOfTheLastChange)
{
    auto store = fixture.make();
    const auto a = store->addItem("a", Bucket::medium);
    store->addItem("b", Bucket::medium);
    store->addItem("c", Bucket::medium);
    EXPECT_EQ(titles(store->itemsIn(Bucket::medium)), (QStringList{"a", "b", "c"}));

    store->toggleDone(a->id);
    EXPECT_EQ(titles(store->itemsIn(Bucket::medium)), (QStringList{"b", "c", "a"}));
    EXPECT_TRUE(store->item(a->id)->done);
    store->toggleDone(a->id);
    EXPECT_FALSE(store->item(a->id)->done) << "a toggle goes both ways";

    // The same text still counts as a change and moves the item to the last occupied row.
    store->updateTitle(store->itemsIn(Bucket::medium).first().id, "b");
    EXPECT_EQ(titles(store->itemsIn(Bucket::medium)), (QStringList{"c", "a", "b"}));
}

TEST_F(DayStoreTest, UpdatesAndDeletesQueueTheirRecords)
{
    auto store = fixture.make(true, true);
    const auto a = store->addItem("a", Bucket::small);
    store->updateTitle(a->id, "  renamed ");
    EXPECT_EQ(store->item(a->id)->title, "renamed");

    store->updateTitle(a->id, "   ");
    EXPECT_FALSE(store->item(a->id));
    EXPECT_EQ(queued(*store), QList{deleteOf(a->id)}) << "the delete replaces the queued save";

    // Deleting an id that has no item still writes the file and queues a delete.
    QFile::remove(fixture.filePath());
    store->deleteItem("NO-SUCH-ID");
    EXPECT_TRUE(QFile::exists(fixture.filePath()));
    EXPECT_TRUE(queued(*store).contains(deleteOf("NO-SUCH-ID")));

    store->updateTitle("NO-SUCH-ID", "text");
    store->toggleDone("NO-SUCH-ID");
    EXPECT_FALSE(store->item("NO-SUCH-ID"));
}

TEST_F(DayStoreTest, WithoutEngineNothingIsQueuedAndWithoutFileNothingIsWritten)
{
    auto synced = fixture.make(true, false);
    EXPECT_EQ(synced->engine(), nullptr);
    synced->addItem("a", Bucket::big);

    StoreFixture memoryOnly;
    auto store = memoryOnly.make(false, true);
    EXPECT_EQ(store->engine(), nullptr) << "a store without a file never syncs";
    const auto item = store->addItem("a", Bucket::big);
    store->toggleDone(item->id);
    store->startNewDay(memoryOnly.clock);
    EXPECT_TRUE(QDir(memoryOnly.dir.path()).isEmpty());
}

TEST_F(DayStoreTest, ObserversHearOfRealChangesOnly)
{
    auto store = fixture.make();
    QSignalSpy day(store.get(), &DayStore::dayChanged);
    QSignalSpy saved(store.get(), &DayStore::savedChanged);
    QSignalSpy error(store.get(), &DayStore::syncErrorChanged);

    store->refreshDay(fixture.clock);
    EXPECT_EQ(day.count(), 0);

    store->setSyncError("offline");
    store->setSyncError("offline");
    EXPECT_EQ(error.count(), 1);

    store->deleteItem("NO-SUCH-ID");
    EXPECT_EQ(saved.count(), 1) << "every write of the saved record is told, also one that changes nothing";

    store->startNewDay(fixture.clock.addDays(1));
    EXPECT_EQ(day.count(), 1);
    EXPECT_EQ(store->day(), "2025-03-06");
}

// Starting a new day.

TEST_F(DayStoreTest, LaunchOnALaterDayClearsTheSheet)
{
    auto store = fixture.make(true, true);
    QStringList done, open;
    for (int i = 0; i < 2; ++i) {
        done.append(store->addItem(QString("done %1").arg(i), Bucket::small)->id);
        store->toggleDone(done.last());
    }
    for (Bucket bucket : kAllBuckets)
        open.append(store->addItem("open", bucket)->id);
    const QString backlogDone = store->addItem("second big", Bucket::big)->id;
    store->toggleDone(backlogDone); // a done item in the Backlog is left alone
    store->setState(store->engine()->state().serialization());
    store->save();
    store.reset();

    fixture.clock = fixture.clock.addDays(1);
    auto next = fixture.make(true, true);
    EXPECT_EQ(next->day(), "2025-03-06");
    for (const QString &id : done)
        EXPECT_FALSE(next->item(id));
    for (const QString &id : open) {
        const auto item = next->item(id);
        ASSERT_TRUE(item);
        EXPECT_EQ(item->day, kOpenDay);
        EXPECT_FALSE(item->done);
    }
    EXPECT_EQ(next->item(open[0])->bucket, Bucket::big);
    EXPECT_TRUE(next->item(backlogDone)->done);
    EXPECT_EQ(next->backlogItems().first().id, backlogDone) << "moved items come after older Backlog items";

    const auto pending = next->engine()->state().pendingRecordZoneChanges();
    for (const QString &id : done)
        EXPECT_TRUE(pending.contains(deleteOf(id)));
    for (const QString &id : open)
        EXPECT_TRUE(pending.contains(saveOf(id)));
}

TEST_F(DayStoreTest, LaunchOnTheSameDayOrWithOnlyLaterItemsKeepsEverything)
{
    auto store = fixture.make();
    const auto item = store->addItem("today", Bucket::big);
    DayItem later = *store->addItem("later", Bucket::small);
    later.day = "2025-03-09";
    store->setItem(later.id, later);
    store->save();
    const DayStore::Saved before = store->saved();
    store.reset();

    auto again = fixture.make();
    EXPECT_EQ(again->saved(), before);
    EXPECT_EQ(titles(again->itemsIn(Bucket::big)), QStringList{"today"});
    EXPECT_EQ(titles(again->itemsIn(Bucket::small)), QStringList{"later"}) << "a later day's item shows on Today";
    EXPECT_TRUE(again->backlogItems().isEmpty());

    // One item of an earlier day starts a new day, which clears the later one too.
    DayItem earlier = *again->item(item->id);
    earlier.day = "2025-03-01";
    again->setItem(earlier.id, earlier);
    again->save();
    again.reset();
    auto cleared = fixture.make();
    EXPECT_EQ(cleared->backlogItems().size(), 2);
}

TEST_F(DayStoreTest, NewDayByHandTwice)
{
    auto store = fixture.make();
    store->addItem("a", Bucket::big);
    store->startNewDay(fixture.clock);
    EXPECT_EQ(store->backlogItems().size(), 1);
    store->addItem("b", Bucket::big);
    store->startNewDay(fixture.clock);
    EXPECT_EQ(titles(store->backlogItems()), (QStringList{"a", "b"}));

    // The Backlog keeps its older items first, then the sheet's in its order: big, medium, small, top to bottom.
    for (const char *title : {"s1", "m1", "s2", "b1", "m2"})
        store->addItem(title, QByteArray(title).startsWith('b')   ? Bucket::big
                              : QByteArray(title).startsWith('m') ? Bucket::medium
                                                                  : Bucket::small);
    store->startNewDay(fixture.clock);
    EXPECT_EQ(titles(store->backlogItems()), (QStringList{"a", "b", "b1", "m1", "m2", "s1", "s2"}));

    QFile::remove(fixture.filePath());
    store->startNewDay(fixture.clock);
    EXPECT_TRUE(QFile::exists(fixture.filePath())) << "an empty sheet still writes the file";
}
