#include "StoreTestSupport.h"

#include "Vellora/DayData/StoreFile.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

QString saveOf(const QString &id)
{
    return "save " + id;
}

QString deleteOf(const QString &id)
{
    return "delete " + id;
}

} // namespace

TEST(DayStore, AddingEditingAndTickingSaveAndQueueEachChange)
{
    StoreFixture f;
    auto store = f.make();
    EXPECT_FALSE(store->addItem(" \n\t ", Block::small));
    EXPECT_FALSE(QFile::exists(f.file));
    const auto item = store->addItem("  Call Anna \n", Block::medium);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->title, "Call Anna");
    EXPECT_EQ(item->id, item->id.toUpper());
    EXPECT_EQ(f.told, QStringList{saveOf(item->id)});
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
    EXPECT_TRUE(f.told.contains(deleteOf(f.id("c"))));
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
    store->applyItem(ahead.id, ahead);
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
    EXPECT_TRUE(f.told.contains(saveOf(first.id)));
    EXPECT_EQ(StoreFile::load(f.file).saved->items.at(first.id), *store->item(first.id));
}

// Starting a new day: done items go, open ones wait in the Backlog, after what already waited there.
// At launch, one item of an earlier day starts a new day, which clears the sheet but not a later day's item.
TEST(DayStore, ANewDayStartsAtLaunchOnlyAfterTheDayOfAnItem)
{
    StoreFixture f;
    auto store = f.make();
    f.given(*store, "s:done0* s:done1* b:open m:open2 s:open3 b:waiting* m:later");
    DayItem later = *store->item(f.id("later"));
    later.day = "2025-03-07"; // a day that a computer elsewhere can have reached
    store->applyItem(later.id, later);
    store->save();
    const DayStore::Saved before = store->saved();
    store.reset();

    store = f.make();
    EXPECT_EQ(store->saved(), before) << "the same day changes nothing";
    EXPECT_EQ(layout(*store), "open / open2,later / done0*,done1*,open3 | b:waiting*") << "a later day shows on Today";
    store.reset();

    f.clock = f.clock.addDays(1);
    auto next = f.make();
    EXPECT_EQ(next->day(), "2025-03-06");
    // After what already waited: the sheet in its order, big to small; the later day's item stays where it stood.
    EXPECT_EQ(layout(*next), " / later /  | b:waiting*,b:open,m:open2,s:open3");
    const auto pending = f.told;
    for (const char *title : {"done0", "done1"})
        EXPECT_TRUE(pending.contains(deleteOf(f.id(title)))) << title;
    for (const char *title : {"open", "open2", "open3"})
        EXPECT_TRUE(pending.contains(saveOf(f.id(title)))) << title;
}

// This computer's own date starts a new day, never the day of an item another computer wrote (a time zone further
// west, a wrong clock): that one shows on Today, and the sheet and its done tasks stay. A file that does not say
// which day it showed last is judged by its items, as before.
TEST(DayStore, OnlyThisComputersOwnDateStartsANewDay)
{
    StoreFixture f;
    auto store = f.make();
    f.given(*store, "s:mine* m:open");
    const DayItem west{newItemId(), "west", false, Block::small, "2025-03-04", f.clock, std::nullopt};
    store->applyItem(west.id, west); // as sync puts a fetched item
    store->save();
    EXPECT_EQ(layout(*store), " / open / mine*,west | ");
    const DayStore::Saved before = store->saved();
    store.reset();

    store = f.make();
    EXPECT_EQ(store->saved(), before) << "a launch on the same date, as every command-line call is";
    store.reset();

    const std::string cleared = " /  /  | m:open,s:west";
    for (const std::optional<QString> &shown : {std::optional<QString>(), std::optional<QString>("someday")}) {
        DayStore::Saved old = before;
        old.shownDay = shown;
        ASSERT_FALSE(StoreFile::save(f.file, old));
        store = f.make();
        EXPECT_EQ(layout(*store), cleared) << "a file without the day it showed, or with one that is no day";
        store.reset();
    }

    ASSERT_FALSE(StoreFile::save(f.file, before));
    f.clock = f.clock.addDays(1);
    store = f.make();
    EXPECT_EQ(layout(*store), cleared) << "a launch on a later date of its own";
    EXPECT_EQ(StoreFile::load(f.file).saved->shownDay, "2025-03-06");
}

// A file written while day keys followed the locale's calendar (a Thai computer's Buddhist years) names a day 543
// years ahead, for its items and the day it showed. Those items are of a later day, which stays on Today; the day
// shown is written anew at once, so that the next day's launch clears them into the Backlog.
TEST(DayStore, KeysOfAnotherCalendarStayOnTodayAndGoToTheBacklogOnTheNextDay)
{
    StoreFixture f;
    DayStore::Saved old;
    const DayItem buddhist{newItemId(), "buddhist", false, Block::medium, "2568-03-05", f.clock, std::nullopt};
    old.items.emplace(buddhist.id, buddhist);
    old.shownDay = "2568-03-05";
    ASSERT_FALSE(StoreFile::save(f.file, old));

    auto store = f.make();
    EXPECT_EQ(layout(*store), " / buddhist /  | ");
    EXPECT_EQ(store->day(), "2025-03-05");
    store.reset();
    EXPECT_EQ(StoreFile::load(f.file).saved->shownDay, "2025-03-05");

    f.clock = f.clock.addDays(1);
    store = f.make();
    EXPECT_EQ(layout(*store), " /  /  | m:buddhist");
}

// A computer a day behind the one that wrote some of its tasks (a time zone further west, a clock behind): at its
// own next day, and at a new day started by hand, the tasks written for that day or a later one stay on Today, done
// or not, and are not rewritten; those of its own earlier days are cleared.
TEST(DayStore, ANewDayLeavesTheTasksOfAComputerAheadWhereTheyStand)
{
    StoreFixture f;
    auto store = f.make();
    f.given(*store, "s:mine* m:open");
    const QDateTime written = f.clock.addSecs(60);
    for (const DayItem &ahead : {DayItem{newItemId(), "east", false, Block::medium, "2025-03-06", written, {}},
                                 DayItem{newItemId(), "east done", true, Block::small, "2025-03-06", written, {}},
                                 DayItem{newItemId(), "further", false, Block::big, "2025-03-07", written, {}}}) {
        store->applyItem(ahead.id, ahead); // as sync puts a fetched item
        f.ids.insert(ahead.title, ahead.id);
    }
    store->save();
    store.reset();

    f.clock = f.clock.addDays(1);
    store = f.make();
    EXPECT_EQ(store->day(), "2025-03-06");
    EXPECT_EQ(layout(*store), "further / east / east done* | m:open");
    for (const char *title : {"east", "east done", "further"}) {
        EXPECT_FALSE(f.told.contains(saveOf(f.id(title)))) << title;
        EXPECT_FALSE(f.told.contains(deleteOf(f.id(title)))) << title;
    }
    EXPECT_TRUE(f.told.contains(deleteOf(f.id("mine"))));

    // By hand on the same date, that date's tasks are this computer's own: cleared; the later day's one stays.
    store->startNewDay(f.clock);
    EXPECT_EQ(layout(*store), "further /  /  | m:open,m:east");
    EXPECT_FALSE(store->item(f.id("east done")));
    store.reset();

    f.clock = f.clock.addDays(2);
    store = f.make();
    EXPECT_EQ(layout(*store), " /  /  | m:open,m:east,b:further");
}

// A block that holds more items than rows (a file written by hand) shows them all at open: the latest placed go to
// the top of the Backlog as one new change, queued to sync, and the store says which.
TEST(DayStore, ItemsBeyondABlocksRowsGoToTheTopOfTheBacklogAtOpen)
{
    StoreFixture f;
    auto store = f.make();
    f.given(*store, "b:big b:waiting s:1 s:2 s:3 s:4 s:5");
    DayStore::Saved saved = store->saved();
    QList<DayItem> extra;
    for (const char *title : {"6", "7"}) {
        extra.append(DayItem{newItemId(), title, true, Block::small, store->day(), f.clock.addSecs(extra.size() + 1), {}});
        saved.items.emplace(extra.last().id, extra.last());
    }
    store.reset();
    ASSERT_FALSE(StoreFile::save(f.file, saved));

    store = f.make();
    EXPECT_EQ(layout(*store), "big /  / 1,2,3,4,5 | s:6*,s:7*,b:waiting");
    ASSERT_EQ(store->overflowAtOpen().size(), 2);
    EXPECT_EQ(store->overflowAtOpen().first().title, "6");
    for (const DayItem &before : extra) {
        EXPECT_GT(store->item(before.id)->changeTime(), before.modifiedAt) << "a new change, to win over the old place";
        EXPECT_TRUE(f.told.contains(saveOf(before.id)));
    }
    EXPECT_EQ(StoreFile::load(f.file).saved->items, store->saved().items);
    EXPECT_TRUE(store->settleOverflow().isEmpty());
}
