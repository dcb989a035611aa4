#include "SyncTestSupport.h"
#include "tests/WaitFor.h"

#include "Vellora/Sync/ItemRecord.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace SyncKit;

namespace {

class SyncDriverTest : public MemoryCloudTest
{
protected:
    Device &makeDevice()
    {
        mac = device("mac", account);
        return *mac;
    }

    // A record as another device would have saved it.
    Record serverRecord(const QString &name, const QString &title, const QDateTime &modifiedAt)
    {
        DayItem item{name, title, false, Block::medium, clock.now.toString("yyyy-MM-dd"), modifiedAt, {}};
        Record record = makeRecord(item);
        record.setSystemFields("t-server", modifiedAt, modifiedAt);
        return record;
    }

    void deliver(const SyncEngineEvent &event) { mac->driver().handleEvent(event, mac->engine()); }

    static SyncEvent::SentRecordZoneChanges failedSaves(QList<SyncEvent::FailedRecordSave> failures)
    {
        SyncEvent::SentRecordZoneChanges event;
        event.failedRecordSaves = std::move(failures);
        return event;
    }

    std::unique_ptr<Device> mac;
};

} // namespace

TEST_F(SyncDriverTest, TheZoneIsQueuedOnceAndQueuedChangesSurviveAQuit)
{
    Device &device = makeDevice();
    EXPECT_EQ(device.engine().state().pendingDatabaseChanges(), QList{PendingDatabaseChange::saveZone(syncZoneID())});
    EXPECT_EQ(device.fileState()->databaseChanges.size(), 1); // already in the file
    device.engine().syncChanges();
    EXPECT_TRUE(cloud.hasZone("anna", syncZoneID()));
    EXPECT_EQ(device.fileState(), device.engine().state().serialization()) << "the engine's own work is written";

    // Quit at once, without the event loop ever running: the change is in the file, the zone is not queued again.
    const auto item = device->addItem("Survives", Block::medium);
    const auto serialization = device.engine().state().serialization();
    EXPECT_EQ(device.fileState(), serialization);
    device.restart();
    EXPECT_EQ(device.engine().state().serialization(), serialization);
    EXPECT_TRUE(device.engine().state().pendingDatabaseChanges().isEmpty());
    device.engine().syncChanges();
    EXPECT_TRUE(cloud.record("anna", idOf(item->id)));
}

TEST_F(SyncDriverTest, FetchedRecordsReplaceLocalItemsAndOtherTypesAreSkipped)
{
    Device &device = makeDevice();
    const auto local = device->addItem("Local", Block::small);
    const QDateTime earlier = clock.now.addSecs(-3600);

    // A copy changed before ours loses to it, and ours goes to the server again; a later one wins.
    const Record note(QStringLiteral("Note"), idOf("N1"));
    auto &state = device.engine().state();
    state.remove(state.pendingRecordZoneChanges());
    deliver(SyncEvent::FetchedRecordZoneChanges{{serverRecord(local->id, "Older", earlier)}, {}});
    EXPECT_EQ(device->item(local->id)->title, "Local");
    EXPECT_EQ(state.pendingRecordZoneChanges(), QList{PendingRecordZoneChange::save(idOf(local->id))});
    QFile::remove(device.path());
    const QDateTime later = clock.now.addSecs(60);
    deliver(SyncEvent::FetchedRecordZoneChanges{{note, serverRecord(local->id, "From elsewhere", later)}, {}});
    EXPECT_EQ(device->saved().items.size(), 1);
    EXPECT_EQ(device->item(local->id)->title, "From elsewhere");
    EXPECT_EQ(device->item(local->id)->modifiedAt, later);
    // Written with the state update that ends the batch, in one write that holds the items and the new token:
    // never a token without the items fetched before it.
    EXPECT_FALSE(QFile::exists(device.path()));
    SyncKit::SyncEngineState::Serialization withToken = device.engine().state().serialization();
    withToken.zoneTokens.insert(syncZoneID(), QByteArrayLiteral("token-after-the-batch"));
    deliver(SyncEvent::StateUpdate{withToken});
    EXPECT_EQ(device.file().items, device->saved().items);
    EXPECT_EQ(device.fileState(), withToken);

    // A change with no state update after it is written when the fetch ends.
    QFile::remove(device.path());
    deliver(SyncEvent::FetchedRecordZoneChanges{{serverRecord(local->id, "Later", later.addSecs(1))}, {}});
    deliver(SyncEvent::DidFetchChanges{});
    EXPECT_TRUE(QFile::exists(device.path()));
    EXPECT_EQ(device.file().items, device->saved().items);
    const DayStore::Saved before = device->saved();

    // Deletions: of an unknown id nothing, of a known one the item, whatever type the deletion names.
    deliver(SyncEvent::FetchedRecordZoneChanges{{}, {{idOf("UNKNOWN"), "DayItem"}}});
    EXPECT_EQ(device->saved(), before);
    deliver(SyncEvent::FetchedRecordZoneChanges{{}, {{idOf(local->id), "Other"}}});
    EXPECT_TRUE(device->saved().items.empty());
}

TEST_F(SyncDriverTest, ConflictsAreSettledByModificationTime)
{
    Device &device = makeDevice();
    auto &state = device.engine().state();
    struct Case
    {
        const char *name;
        bool local;
        std::optional<qint64> theirsOlderBy; // in ms; none: their copy carries no time
        bool serverRecordInError;
        const char *title;
        // An Undo or a swap: an older place, a later change (ms after the place).
        qint64 mineChangedAfter = 0;
        qint64 theirsChangedAfter = 0;
    };
    const Case cases[] = {
        {"equal times: the server's copy", true, 0, true, "Theirs"},
        {"ours later by a millisecond", true, 1, true, "Mine"},
        {"theirs later", true, -1, true, "Theirs"},
        {"theirs without a time", true, std::nullopt, true, "Mine"},
        {"no local item", false, std::nullopt, true, "Theirs"},
        {"no server record in the error", true, 0, false, "Mine"},
        {"ours an older place, a later change", true, -1000, true, "Mine", 2000},
        {"theirs an older place, a later change", true, 1000, true, "Theirs", 0, 2000},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString id = QStringLiteral("C%1").arg(++n);
        const QDateTime mine = clock.now;
        if (c.local) {
            device->applyItem(id, DayItem{id, "Mine", false, Block::small, kOpenDay, mine, {},
                                        laterChange(mine.addMSecs(c.mineChangedAfter), mine)});
        }
        const QDateTime theirTime = mine.addMSecs(-c.theirsOlderBy.value_or(0));
        Record theirs = serverRecord(id, "Theirs", theirTime);
        if (c.theirsChangedAfter) {
            // As a version that kept one time for the whole record wrote it.
            theirs.setValue("changedAt", theirTime.addMSecs(c.theirsChangedAfter));
            for (const char *part : {"titleChangedAt", "doneChangedAt", "placeChangedAt"})
                theirs.removeValue(part);
        }
        if (!c.theirsOlderBy)
            theirs.removeValue("modifiedAt");
        state.remove(state.pendingRecordZoneChanges());
        const CloudError changed = c.serverRecordInError ? CloudError(CloudError::Code::serverRecordChanged, {}, theirs)
                                                         : CloudError(CloudError::Code::serverRecordChanged);
        deliver(failedSaves({{theirs, changed}}));

        const auto item = device->item(id);
        ASSERT_TRUE(item);
        EXPECT_EQ(item->title, c.title);
        // Either way the server's bookkeeping is taken; ours goes again only when it won.
        const bool oursSentAgain = c.serverRecordInError && QString(c.title) == "Mine";
        const auto theirFields = archiveSystemFields(theirs);
        EXPECT_EQ(item->systemFields, c.serverRecordInError ? std::optional(theirFields) : std::nullopt);
        EXPECT_TRUE(!oursSentAgain || item->modifiedAt == mine);
        EXPECT_EQ(state.pendingRecordZoneChanges(),
                  oursSentAgain ? QList{PendingRecordZoneChange::save(idOf(id))} : QList<PendingRecordZoneChange>());
    }
}

// Tasks added in a row on a clock that stands still keep their order after a restart and on a second computer.
TEST_F(SyncDriverTest, TasksAddedInARowKeepTheirOrderAfterARestartAndOnAnotherComputer)
{
    Device &device = makeDevice();
    const QStringList added{"s1", "s2", "s3", "s4", "s5"};
    for (const QString &title : added)
        device->addItem(title, Block::small);
    const auto smallRows = [](Device &on) {
        QStringList titles;
        for (const DayItem &item : on->itemsIn(Block::small))
            titles.append(item.title);
        return titles;
    };
    EXPECT_EQ(smallRows(device), added);
    device.restart();
    EXPECT_EQ(smallRows(device), added);
    device.engine().syncChanges();

    Device other(dir.filePath("other.json"), manualSetup(cloud, account), clock);
    other.engine().syncChanges();
    EXPECT_EQ(smallRows(other), added);
    other.restart();
    EXPECT_EQ(smallRows(other), added);
}

// Today's rows, a done one with a '*'.
static QStringList sheetOf(Device &on)
{
    QStringList titles;
    for (Block block : kAllBlocks) {
        for (const DayItem &item : on->itemsIn(block))
            titles.append(item.title + (item.done ? "*" : ""));
    }
    return titles;
}

// A computer a day behind (Honolulu against Kiritimati, or a wrong clock) adds a task: the other shows it and keeps
// its sheet, at a launch too, until its own date moves on.
TEST_F(SyncDriverTest, ATaskOfAnEarlierDayFromAnotherComputerLeavesTheSheetAndItsDoneTasksAlone)
{
    // 22:00 on 5 March in the east, 22:00 on 4 March in the west.
    Device east(dir.filePath("east.json"), manualSetup(cloud, account), clock, "Pacific/Kiritimati");
    Device west(dir.filePath("west.json"), manualSetup(cloud, account), clock, "Pacific/Honolulu");
    const auto done = east->addItem("Done", Block::small);
    east->toggleDone(done->id);
    east->addItem("Open", Block::medium);
    east.engine().syncChanges();
    clock.advance(60);
    west.engine().syncChanges();
    EXPECT_EQ(west->addItem("From the west", Block::small)->day, "2025-03-04");
    west.engine().syncChanges();
    east.engine().syncChanges();

    const QStringList sheet{"Open", "Done*", "From the west"};
    EXPECT_EQ(sheetOf(east), sheet);
    EXPECT_EQ(sheetOf(west), sheet);
    const auto items = east->saved().items;
    east.restart();
    EXPECT_EQ(east->saved().items, items) << "a launch on the same date";

    clock.advance(24 * 3600);
    east.restart();
    EXPECT_TRUE(sheetOf(east).isEmpty()) << "a launch on a later date of its own";
    EXPECT_FALSE(east->item(done->id));
    EXPECT_EQ(east->backlogItems().size(), 2);
}

// Two computers each add a big task while apart: the one placed later goes to the top of the Backlog, with a note,
// on both, and the move reaches the cloud in the same round whose fetch settled it.
TEST_F(SyncDriverTest, TwoBigTasksFromTwoComputersBothStayOnAPage)
{
    Device desk(dir.filePath("desk.json"), manualSetup(cloud, account), clock);
    Device laptop(dir.filePath("laptop.json"), manualSetup(cloud, account), clock);
    desk->addItem("Desk", Block::big);
    desk->addItem("Waiting", Block::big); // the block is full
    desk.engine().syncChanges();
    clock.advance(1);
    const QString late = laptop->addItem("Laptop", Block::big)->id;
    QList<DayItem> noted;
    laptop.onOverflow = [&](const QList<DayItem> &moved) { noted += moved; };
    laptop.engine().syncChanges();
    EXPECT_TRUE(laptop.engine().state().pendingRecordZoneChanges().isEmpty()) << "the round sent what it settled";
    desk.engine().syncChanges();

    for (Device *device : {&desk, &laptop}) {
        EXPECT_EQ(sheetOf(*device), QStringList{"Desk"});
        QStringList backlog;
        for (const DayItem &item : (*device)->backlogItems())
            backlog.append(item.title);
        EXPECT_EQ(backlog, (QStringList{"Laptop", "Waiting"}));
        EXPECT_TRUE(device->engine().state().pendingRecordZoneChanges().isEmpty());
    }
    ASSERT_EQ(noted.size(), 1);
    EXPECT_EQ(noted.first().id, late);
    EXPECT_TRUE(dayItemFromRecord(*cloud.record("anna", idOf(late))).isInBacklog());
}

TEST_F(SyncDriverTest, MissingRecordsAndZonesAreSentAgainAfterTheZone)
{
    Device &device = makeDevice();
    device.engine().syncChanges();
    const QString first = device->addItem("one", Block::small)->id;
    clock.advance(1);
    const QString second = device->addItem("two", Block::small)->id;
    device.engine().syncChanges();
    ASSERT_EQ(cloud.records("anna", syncZoneID()).size(), 2);

    // The zone vanished on the server: failures in one event queue the zone once, then the records in their order.
    cloud.deleteZone("anna", syncZoneID());
    auto &state = device.engine().state();
    const CloudError zoneNotFound(CloudError::Code::zoneNotFound);
    deliver(failedSaves({{makeRecord(*device->item(second)), zoneNotFound},
                         {makeRecord(*device->item(first)), zoneNotFound}}));
    EXPECT_EQ(state.pendingDatabaseChanges(), QList{PendingDatabaseChange::saveZone(syncZoneID())});
    EXPECT_EQ(state.pendingRecordZoneChanges(),
              QList({PendingRecordZoneChange::save(idOf(second)), PendingRecordZoneChange::save(idOf(first))}));
    EXPECT_FALSE(device->item(first)->systemFields || device->item(second)->systemFields);

    // An unknown record is sent again as new, also when the item is gone.
    deliver(failedSaves({{Record(kDayItemRecordType, idOf("NONE")), CloudError(CloudError::Code::unknownItem)}}));
    EXPECT_EQ(state.pendingRecordZoneChanges().size(), 3);
    EXPECT_EQ(state.pendingDatabaseChanges().size(), 1);

    // Sent for real, the zone goes first and the records follow it.
    device.engine().sendChanges();
    EXPECT_EQ(cloud.records("anna", syncZoneID()).size(), 2);
    EXPECT_TRUE(state.pendingRecordZoneChanges().isEmpty());
}

TEST_F(SyncDriverTest, SignOutSwitchAndZoneDeletionEmptyTheItemsAndKeepTheState)
{
    Device &device = makeDevice();
    device->addItem("today", Block::big);
    const auto backlog = device->addItem("waits", Block::big); // the block is full: to the Backlog
    ASSERT_TRUE(backlog->isInBacklog());
    device.engine().syncChanges();
    const auto stateBefore = device->saved().state;

    using ChangeType = SyncEvent::AccountChange::ChangeType;
    deliver(SyncEvent::AccountChange{ChangeType::signIn, std::nullopt, account});
    EXPECT_EQ(device->saved().items.size(), 2);

    deliver(SyncEvent::AccountChange{ChangeType::signOut, account, std::nullopt});
    EXPECT_TRUE(device->saved().items.empty());
    EXPECT_TRUE(device.file().items.empty());
    EXPECT_EQ(device.file().state, stateBefore);
    EXPECT_TRUE(device.engine().state().pendingRecordZoneChanges().isEmpty()); // nothing for the server

    const DayItem x{"X", "x", false, Block::small, kOpenDay, clock.now, {}};
    device->applyItem("X", x);
    deliver(SyncEvent::AccountChange{ChangeType::switchAccounts, account, cloud.addAccount("bert")});
    EXPECT_TRUE(device->saved().items.empty());
    // Only the deletion of the planner's own zone empties it.
    device->applyItem("X", x);
    deliver(SyncEvent::FetchedDatabaseChanges{{}, {RecordZoneID{"Other"}}});
    EXPECT_EQ(device->saved().items.size(), 1);
    deliver(SyncEvent::FetchedDatabaseChanges{{}, {RecordZoneID{"Other"}, syncZoneID()}});
    EXPECT_TRUE(device->saved().items.empty());
}

TEST_F(SyncDriverTest, BatchesCarryTheLatestContentAndSavedRecordsOnlyTheBookkeeping)
{
    Device &device = makeDevice();
    const auto first = device->addItem("first", Block::small);
    const auto second = device->addItem("second", Block::small);
    device->updateTitle(first->id, "first, edited");
    const QDateTime editedAt = device->item(first->id)->modifiedAt;
    device->applyItem(second->id, std::nullopt); // gone without a delete of its own, as by a fetch
    device->deleteItem("NEVER-EXISTED");

    const auto batch = device.driver().nextRecordZoneChangeBatch({}, device.engine());
    ASSERT_TRUE(batch);
    ASSERT_EQ(batch->recordsToSave().size(), 1);
    EXPECT_EQ(batch->recordsToSave()[0].stringValue("title"), "first, edited");
    ASSERT_EQ(batch->recordsToDelete().size(), 1);
    EXPECT_EQ(batch->recordsToDelete()[0].recordID(), idOf("NEVER-EXISTED"));
    EXPECT_EQ(device.engine().state().pendingRecordZoneChanges().size(), 2); // the save of `second` left

    SendChangesContext only; // the send context's scope decides what is offered
    only.options.scope = SendChangesScope::records({idOf("NEVER-EXISTED")});
    const auto scoped = device.driver().nextRecordZoneChangeBatch(only, device.engine());
    ASSERT_TRUE(scoped);
    EXPECT_TRUE(scoped->recordsToSave().isEmpty());

    // A saved record changes the item's bookkeeping, never its content, and brings back no item.
    SyncEvent::SentRecordZoneChanges saved;
    saved.savedRecords = {serverRecord(first->id, "Server title", clock.now.addDays(-1)),
                          serverRecord("NOT-HERE", "x", clock.now)};
    deliver(saved);
    EXPECT_EQ(device->item(first->id)->title, "first, edited");
    EXPECT_EQ(device->item(first->id)->modifiedAt, editedAt);
    EXPECT_EQ(device->item(first->id)->systemFields, archiveSystemFields(saved.savedRecords[0]));
    EXPECT_FALSE(device->item("NOT-HERE"));
}

TEST_F(SyncDriverTest, AnUnhandledFailureIsKeptAsSyncError)
{
    Device &device = makeDevice();
    cloud.setQuota("anna", 1);
    device->addItem("fits", Block::small);
    clock.advance(1);
    const auto tooMany = device->addItem("too many", Block::small);
    device.engine().syncChanges();
    const QString quota = CloudError(CloudError::Code::quotaExceeded).description();
    EXPECT_EQ(device->syncError(), quota);
    EXPECT_TRUE(device.engine().state().pendingRecordZoneChanges().isEmpty()); // not queued again by the driver

    // Later successful sends leave the text alone; it is never written to the file.
    cloud.setQuota("anna", std::nullopt);
    device->updateTitle(tooMany->id, "too many, now fine");
    device.engine().syncChanges();
    EXPECT_EQ(cloud.records("anna", syncZoneID()).size(), 2);
    EXPECT_EQ(device->syncError(), quota);
    QFile file(device.path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_FALSE(file.readAll().contains("storage"));
}

// A sync state this version cannot read (a later version wrote it) costs no item: the store opens, does not sync,
// says why, and keeps the state as it was for the version that wrote it.
TEST_F(SyncDriverTest, AStateThatCannotBeReadKeepsTheItemsAndStopsSyncWithAWord)
{
    DayStore::Saved saved;
    saved.items.emplace("A", DayItem{"A", "Kept", false, Block::small, kOpenDay, clock.now, {}});
    saved.state = QJsonObject{{"version", 99}};
    ASSERT_FALSE(StoreFile::save(dir.filePath("mac.json"), saved));
    Device &device = makeDevice();
    EXPECT_EQ(device->item("A")->title, "Kept");
    EXPECT_FALSE(device->engine());
    ASSERT_TRUE(device->syncError());
    EXPECT_TRUE(device->syncError()->contains("cannot be read")) << qPrintable(*device->syncError());
    device->addItem("New", Block::big);
    EXPECT_EQ(device.file().items.size(), 2);
    EXPECT_EQ(device.file().state, saved.state);
}

// The engine sends at once, yet what one turn of the event loop changes (a new day, a pasted list, a script's adds)
// goes in one request: the store queues it all before the engine's round begins.
TEST_F(SyncDriverTest, ANewDayAndFiftyAddsInOneTurnAreOneRequest)
{
    SyncSetup setup = manualSetup(cloud, account);
    setup.automaticallySync = true;
    mac = std::make_unique<Device>(dir.filePath("mac.json"), setup, clock);
    Device &device = *mac;
    const auto left = device->addItem("Left undone", Block::medium);
    const auto settled = [&] {
        return device.engine().state().pendingRecordZoneChanges().isEmpty() && !device.engine().isWorking() &&
               !device.engine().isScheduled();
    };
    ASSERT_EVENTUALLY(settled() && cloud.record("anna", idOf(left->id)));
    const int requests = cloud.callCount(MemoryCloud::Call::modifyRecords);

    clock.advance(24 * 3600);
    device->refreshDay(clock.now);
    ASSERT_EQ(device->item(left->id)->day, kOpenDay); // the new day moved it
    for (int i = 0; i < 50; ++i)
        device->addItem(QStringLiteral("Task %1").arg(i), kAllBlocks[i % 3]);
    ASSERT_EVENTUALLY(settled());
    EXPECT_EQ(cloud.callCount(MemoryCloud::Call::modifyRecords), requests + 1);
    EXPECT_EQ(cloud.records("anna", syncZoneID()).size(), 51);
}
