#include "StoreTestSupport.h"

#include "Vellora/DayData/StoreFile.h"

#include <QFile>

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

} // namespace

TEST(DayStore, AddingEditingAndTickingSaveAndQueueEachChange)
{
    StoreFixture f;
    auto store = f.make(true, true);
    EXPECT_FALSE(store->addItem(" \n\t ", Bucket::small));
    EXPECT_FALSE(QFile::exists(f.file));
    const auto item = store->addItem("  Call Anna \n", Bucket::medium);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->title, "Call Anna");
    EXPECT_EQ(item->id, item->id.toUpper());
    EXPECT_EQ(queued(*store), QList{saveOf(item->id)});
    EXPECT_EQ(StoreFile::load(f.file).saved->items.size(), 1u);

    // Rows follow the last change: a tick moves the item down; so does an edit to the same text.
    f.given(*store, "m:b m:c b:big b:second");
    EXPECT_EQ(layout(*store), "big / Call Anna,b,c /  | b:second") << "a full block sends a new item to the Backlog";
    store->toggleDone(item->id);
    EXPECT_EQ(layout(*store), "big / b,c,Call Anna* /  | b:second");
    store->toggleDone(item->id);
    store->updateTitle(f.id("b"), "b");
    EXPECT_EQ(layout(*store), "big / c,Call Anna,b /  | b:second") << "a second tick unticks";

    store->updateTitle(f.id("c"), "  renamed ");
    EXPECT_EQ(store->item(f.id("c"))->title, "renamed");
    store->updateTitle(f.id("c"), "   ");
    EXPECT_FALSE(store->item(f.id("c"))) << "an emptied title deletes the item";
    EXPECT_TRUE(queued(*store).contains(deleteOf(f.id("c"))));
    EXPECT_FALSE(queued(*store).contains(saveOf(f.id("c")))) << "the delete replaces the queued save";
    EXPECT_EQ(StoreFile::load(f.file).saved->items.size(), 4u);

    // A new day by hand: the sheet goes to the Backlog after what waited there, big to small, top to bottom.
    store->startNewDay(f.clock);
    EXPECT_EQ(layout(*store), " /  /  | b:second,b:big,m:Call Anna,m:b");
    QFile::remove(f.file);
    store->startNewDay(f.clock);
    EXPECT_TRUE(QFile::exists(f.file)) << "an empty sheet still writes the file";

    // What waits may carry a time ahead of this computer's clock (written on one whose clock runs fast): the sheet
    // still goes after it.
    DayItem ahead = *store->item(f.id("second"));
    ahead.modifiedAt = f.clock.addSecs(3600);
    store->setItem(ahead.id, ahead);
    f.given(*store, "s:today");
    store->startNewDay(f.clock);
    EXPECT_EQ(layout(*store), " /  /  | b:big,m:Call Anna,m:b,b:second,s:today");

    // Undo puts a task back with its own time, so in the place it left, as a change of now: queued and written.
    const DayItem first = *store->item(f.id("big"));
    store->deleteItem(first.id);
    store->restoreItems({first});
    EXPECT_EQ(layout(*store), " /  /  | b:big,m:Call Anna,m:b,b:second,s:today");
    EXPECT_EQ(store->item(first.id)->modifiedAt, first.modifiedAt);
    EXPECT_GT(store->item(first.id)->changeTime(), store->item(f.id("today"))->modifiedAt) << "later than any change";
    EXPECT_TRUE(queued(*store).contains(saveOf(first.id)));
    EXPECT_EQ(StoreFile::load(f.file).saved->items.at(first.id), *store->item(first.id));
}

// Starting a new day: done items go, open ones wait in the Backlog, after what already waited there.
// At launch, one item of an earlier day starts a new day, which clears the whole sheet, a later day's item too.
TEST(DayStore, ANewDayStartsAtLaunchOnlyAfterTheDayOfAnItem)
{
    StoreFixture f;
    auto store = f.make(true, true);
    f.given(*store, "s:done0* s:done1* b:open m:open2 s:open3 b:waiting* m:later");
    DayItem later = *store->item(f.id("later"));
    later.day = "2025-03-09";
    store->setItem(later.id, later);
    store->setState(store->engine()->state().serialization());
    store->save();
    const DayStore::Saved before = store->saved();
    store.reset();

    store = f.make(true, true);
    EXPECT_EQ(store->saved(), before) << "the same day changes nothing";
    EXPECT_EQ(layout(*store), "open / open2,later / done0*,done1*,open3 | b:waiting*") << "a later day shows on Today";
    store.reset();

    f.clock = f.clock.addDays(1);
    auto next = f.make(true, true);
    EXPECT_EQ(next->day(), "2025-03-06");
    // After what already waited: the later day's item, which stood on Today, then the earlier day's sheet in its
    // order, big to small.
    EXPECT_EQ(layout(*next), " /  /  | b:waiting*,m:later,b:open,m:open2,s:open3");
    const auto pending = queued(*next);
    for (const char *title : {"done0", "done1"})
        EXPECT_TRUE(pending.contains(deleteOf(f.id(title)))) << title;
    for (const char *title : {"open", "open2", "open3"})
        EXPECT_TRUE(pending.contains(saveOf(f.id(title)))) << title;
}
