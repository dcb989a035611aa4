#include "SyncTestSupport.h"
#include "tests/WaitFor.h"

#include "Vellora/Sync/ItemRecord.h"

#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace SyncKit;

namespace {

RecordID idOf(const QString &name)
{
    return RecordID{name, syncZoneID()};
}

class SyncDriverTest : public testing::Test
{
protected:
    void SetUp() override
    {
        cloud.setClock(clock.clock());
        account = cloud.addAccount("anna");
    }

    Device &makeDevice(const QString &name)
    {
        devices.push_back(std::make_unique<Device>(dir.filePath(name + ".json"), manualSetup(cloud, account), clock));
        return *devices.back();
    }

    // A record as another device would have saved it.
    Record serverRecord(const QString &name, const QString &title, const QDateTime &modifiedAt)
    {
        DayItem item{name, title, false, Bucket::medium, clock.now.toString("yyyy-MM-dd"), modifiedAt, {}};
        Record record = makeRecord(item);
        record.setSystemFields("t-server", modifiedAt, modifiedAt);
        return record;
    }

    void deliver(Device &device, const SyncEngineEvent &event) { device.driver().handleEvent(event, device.engine()); }

    static SyncEvent::SentRecordZoneChanges failedSaves(QList<SyncEvent::FailedRecordSave> failures)
    {
        SyncEvent::SentRecordZoneChanges event;
        event.failedRecordSaves = std::move(failures);
        return event;
    }

    QTemporaryDir dir{storeFolderTemplate()};
    TestClock clock;
    MemoryCloud cloud;
    CloudAccount account;
    std::vector<std::unique_ptr<Device>> devices;
};

} // namespace

TEST_F(SyncDriverTest, TheFirstStartQueuesTheZoneOnceAndASavedStateQueuesNothing)
{
    Device &device = makeDevice("mac");
    EXPECT_EQ(device.engine().state().pendingDatabaseChanges(), QList{PendingDatabaseChange::saveZone(syncZoneID())});
    // Already in the file, before anything else happens.
    EXPECT_EQ(device.file().state->databaseChanges.size(), 1);

    device.restart();
    EXPECT_EQ(device.engine().state().pendingDatabaseChanges().size(), 1);
    device.engine().syncChanges();
    EXPECT_TRUE(cloud.hasZone("anna", syncZoneID()));
    device.restart();
    EXPECT_TRUE(device.engine().state().pendingDatabaseChanges().isEmpty());

    // A file without a state is a new device again.
    DayStore::Saved saved = device.file();
    saved.state.reset();
    device.stop();
    StoreFile::save(dir.filePath("mac.json"), saved);
    Device &again = makeDevice("mac");
    EXPECT_EQ(again.engine().state().pendingDatabaseChanges().size(), 1);
}

TEST_F(SyncDriverTest, AnEditReachesTheOtherDeviceAndBack)
{
    Device &mac = makeDevice("mac");
    Device &laptop = makeDevice("laptop");
    const auto item = mac->addItem("  Buy milk \n", Bucket::medium);
    ASSERT_TRUE(item);
    mac.engine().syncChanges();
    laptop.engine().syncChanges();
    ASSERT_EQ(laptop->itemsIn(Bucket::medium).size(), 1);
    EXPECT_EQ(laptop->itemsIn(Bucket::medium)[0].title, "Buy milk");

    clock.advance(10);
    laptop->toggleDone(item->id);
    laptop.engine().syncChanges();
    mac.engine().syncChanges();
    EXPECT_TRUE(mac->item(item->id)->done);
    // Both hold the server's latest bookkeeping, so the next edit on either is no conflict.
    EXPECT_EQ(mac->item(item->id)->systemFields, laptop->item(item->id)->systemFields);
    EXPECT_EQ(mac.file().items, mac->saved().items);

    mac->deleteItem(item->id);
    mac.engine().syncChanges();
    laptop.engine().syncChanges();
    EXPECT_FALSE(laptop->item(item->id));
    EXPECT_TRUE(cloud.records("anna", syncZoneID()).isEmpty());
}

TEST_F(SyncDriverTest, FetchedRecordsReplaceLocalItemsAndOtherTypesAreSkipped)
{
    Device &device = makeDevice("mac");
    const auto local = device->addItem("Local", Bucket::small);
    const QDateTime earlier = clock.now.addSecs(-3600);

    // Whatever the times and whether a change is queued: the fetched copy wins.
    Record fetched = serverRecord(local->id, "From elsewhere", earlier);
    Record note(QStringLiteral("Note"), idOf("N1"));
    note.setValue("title", QStringLiteral("not an item"));
    QFile::remove(device.path());
    deliver(device, SyncEvent::FetchedRecordZoneChanges{{note, fetched}, {}});
    EXPECT_EQ(device->saved().items.size(), 1);
    EXPECT_EQ(device->item(local->id)->title, "From elsewhere");
    EXPECT_EQ(device->item(local->id)->modifiedAt, earlier);
    // Written with the state update that ends the batch, in one write that holds the items and the new token:
    // never a token without the items fetched before it.
    EXPECT_FALSE(QFile::exists(device.path()));
    SyncKit::SyncEngineState::Serialization withToken = device.engine().state().serialization();
    withToken.zoneTokens.insert(syncZoneID(), QByteArrayLiteral("token-after-the-batch"));
    deliver(device, SyncEvent::StateUpdate{withToken});
    EXPECT_EQ(device.file().items, device->saved().items);
    EXPECT_EQ(device.file().state, withToken);

    // A change with no state update after it is written once the engine's turn is over.
    QFile::remove(device.path());
    deliver(device, SyncEvent::FetchedRecordZoneChanges{{serverRecord(local->id, "Later", earlier)}, {}});
    EXPECT_TRUE(waitFor([&] { return QFile::exists(device.path()); }));
    EXPECT_EQ(device.file().items, device->saved().items);
    const DayStore::Saved before = device->saved();

    // Deletions: of an unknown id nothing, of a known one the item, whatever type the deletion names.
        deliver(device, SyncEvent::FetchedRecordZoneChanges{{}, {{idOf("UNKNOWN"), "DayItem"}}});
    EXPECT_EQ(device->saved(), before);
    deliver(device, SyncEvent::FetchedRecordZoneChanges{{}, {{idOf(local->id), "Other"}}});
    EXPECT_TRUE(device->saved().items.empty());
}

TEST_F(SyncDriverTest, ConflictsAreSettledByModificationTime)
{
    Device &device = makeDevice("mac");
    device.engine().syncChanges();
    const auto item = device->addItem("Mine", Bucket::medium);
    const QDateTime mine = item->modifiedAt;
    device.engine().state().remove(device.engine().state().pendingRecordZoneChanges());

    // Equal times: the server's copy replaces ours, nothing is sent again.
    const Record equal = serverRecord(item->id, "Theirs", mine);
    deliver(device, failedSaves({{makeRecord(*item), CloudError(CloudError::Code::serverRecordChanged, {}, equal)}}));
    EXPECT_EQ(device->item(item->id)->title, "Theirs");
    EXPECT_EQ(device->item(item->id)->systemFields, archiveSystemFields(equal));
    EXPECT_TRUE(device.engine().state().pendingRecordZoneChanges().isEmpty());

    // Ours later by a millisecond: our content stays, the server's bookkeeping is taken, and it goes again.
    DayItem later = *device->item(item->id);
    later.title = "Mine again";
    later.modifiedAt = mine.addMSecs(1);
    device->setItem(item->id, later);
    const Record older = serverRecord(item->id, "Theirs, older", mine);
    deliver(device, failedSaves({{makeRecord(later), CloudError(CloudError::Code::serverRecordChanged, {}, older)}}));
    EXPECT_EQ(device->item(item->id)->title, "Mine again");
    EXPECT_EQ(device->item(item->id)->modifiedAt, mine.addMSecs(1));
    EXPECT_EQ(device->item(item->id)->systemFields, archiveSystemFields(older));
    EXPECT_EQ(device.engine().state().pendingRecordZoneChanges(), QList{PendingRecordZoneChange::save(idOf(item->id))});
}

TEST_F(SyncDriverTest, ConflictsWithoutServerTimeOrServerRecord)
{
    Device &device = makeDevice("mac");
    const auto item = device->addItem("Mine", Bucket::medium);
    device.engine().state().remove(device.engine().state().pendingRecordZoneChanges());

    Record timeless = serverRecord(item->id, "Theirs", clock.now);
    timeless.removeValue("modifiedAt");
    const CloudError changed(CloudError::Code::serverRecordChanged, {}, timeless);
    deliver(device, failedSaves({{makeRecord(*item), changed}}));
    EXPECT_EQ(device->item(item->id)->title, "Mine");
    EXPECT_EQ(device.engine().state().pendingRecordZoneChanges().size(), 1);

    // Without a local item the server's copy is taken.
    Record gone = serverRecord("GONE", "Theirs", clock.now);
    gone.removeValue("modifiedAt");
    deliver(device, failedSaves({{gone, CloudError(CloudError::Code::serverRecordChanged, {}, gone)}}));
    EXPECT_EQ(device->item("GONE")->title, "Theirs");

    // Without a server record in the error nothing happens to that record.
    const DayStore::Saved before = device->saved();
    deliver(device, failedSaves({{makeRecord(*item), CloudError(CloudError::Code::serverRecordChanged)}}));
    EXPECT_EQ(device->saved().items, before.items);
}

TEST_F(SyncDriverTest, MissingRecordsAndZonesAreSentAgainAfterTheZone)
{
    Device &device = makeDevice("mac");
    device.engine().syncChanges();
    QStringList ids;
    for (const char *title : {"one", "two", "three"}) {
        clock.advance(1);
        ids << device->addItem(title, Bucket::small)->id;
    }
    device.engine().syncChanges();
    ASSERT_EQ(cloud.records("anna", syncZoneID()).size(), 3);

    // The zone vanished on the server: three failures in one event queue the zone once, then the three records.
    cloud.deleteZone("anna", syncZoneID());
    auto &state = device.engine().state();
    state.remove(state.pendingRecordZoneChanges());
    QList<SyncEvent::FailedRecordSave> failures;
    for (const QString &id : {ids[2], ids[0], ids[1]})
        failures.append({makeRecord(*device->item(id)), CloudError(CloudError::Code::zoneNotFound)});
    deliver(device, failedSaves(failures));
    EXPECT_EQ(state.pendingDatabaseChanges(), QList{PendingDatabaseChange::saveZone(syncZoneID())});
    EXPECT_EQ(state.pendingRecordZoneChanges(),
              QList({PendingRecordZoneChange::save(idOf(ids[2])), PendingRecordZoneChange::save(idOf(ids[0])),
                     PendingRecordZoneChange::save(idOf(ids[1]))}));
    for (const QString &id : ids)
        EXPECT_FALSE(device->item(id)->systemFields);

    // An unknown record is sent again as new, also when the item is gone.
    const Record none(kDayItemRecordType, idOf("NONE"));
    deliver(device, failedSaves({{none, CloudError(CloudError::Code::unknownItem)}}));
    EXPECT_EQ(state.pendingRecordZoneChanges().size(), 4);
    EXPECT_EQ(state.pendingDatabaseChanges().size(), 1);

    // Sent for real, the zone goes first and the records follow it.
    device.engine().sendChanges();
    EXPECT_TRUE(cloud.hasZone("anna", syncZoneID()));
    EXPECT_EQ(cloud.records("anna", syncZoneID()).size(), 3);
    EXPECT_TRUE(state.pendingRecordZoneChanges().isEmpty());
}

TEST_F(SyncDriverTest, AZoneThatVanishesUnderQueuedEditsIsMadeAgainBySending)
{
    Device &device = makeDevice("mac");
    device->addItem("one", Bucket::small);
    device.engine().syncChanges();
    cloud.deleteZone("anna", syncZoneID());
    clock.advance(1);
    const auto second = device->addItem("two", Bucket::small);
    // The edit meets the missing zone, queues it and itself again, and the same send delivers both.
    device.engine().sendChanges();
    EXPECT_TRUE(cloud.record("anna", idOf(second->id)));
    EXPECT_TRUE(device.engine().state().pendingRecordZoneChanges().isEmpty());
}

TEST_F(SyncDriverTest, SignOutSwitchAndZoneDeletionEmptyTheItemsAndKeepTheState)
{
    Device &device = makeDevice("mac");
    device->addItem("today", Bucket::big);
    const auto backlog = device->addItem("waits", Bucket::big); // the block is full: to the Backlog
    ASSERT_TRUE(backlog->isInBacklog());
    device.engine().syncChanges();
    const auto stateBefore = device->saved().state;

    using ChangeType = SyncEvent::AccountChange::ChangeType;
    deliver(device, SyncEvent::AccountChange{ChangeType::signIn, std::nullopt, account});
    EXPECT_EQ(device->saved().items.size(), 2);

    deliver(device, SyncEvent::AccountChange{ChangeType::signOut, account, std::nullopt});
    EXPECT_TRUE(device->itemsIn(Bucket::big).isEmpty());
    EXPECT_TRUE(device->backlogItems().isEmpty());
    EXPECT_TRUE(device.file().items.empty());
    EXPECT_EQ(device.file().state, stateBefore);
    EXPECT_TRUE(device.engine().state().pendingRecordZoneChanges().isEmpty()); // nothing for the server

    device.engine().fetchChanges(); // the items come back only by fetching
    EXPECT_EQ(device->saved().items.size(), 0); // the token says nothing is new
    device->setItem("X", DayItem{"X", "x", false, Bucket::small, kOpenDay, clock.now, {}});
    deliver(device, SyncEvent::AccountChange{ChangeType::switchAccounts, account, cloud.addAccount("bert")});
    EXPECT_TRUE(device->saved().items.empty());

    device->setItem("X", DayItem{"X", "x", false, Bucket::small, kOpenDay, clock.now, {}});
    deliver(device, SyncEvent::FetchedDatabaseChanges{{}, {RecordZoneID{"Other"}}});
    EXPECT_EQ(device->saved().items.size(), 1);
    deliver(device, SyncEvent::FetchedDatabaseChanges{{}, {RecordZoneID{"Other"}, syncZoneID()}});
    EXPECT_TRUE(device->saved().items.empty());
}

TEST_F(SyncDriverTest, ASignOutInTheAccountFileEmptiesTheDevice)
{
    QTemporaryDir config;
    const QString accountFile = config.filePath("vellora-cloud/account.json");
    ASSERT_TRUE(account.writeFile(accountFile));
    SyncSetup setup = manualSetup(cloud, account);
    setup.accountFile = accountFile;
    setup.account.reset();
    Device device(dir.filePath("mac.json"), setup, clock);
    device->addItem("Buy milk", Bucket::small);
    device.engine().syncChanges();
    ASSERT_EQ(cloud.records("anna", syncZoneID()).size(), 1);

    ASSERT_TRUE(QFile::remove(accountFile));
    ASSERT_EVENTUALLY(device->saved().items.empty());
    EXPECT_EQ(cloud.records("anna", syncZoneID()).size(), 1);

    // Signing in again brings the items back.
    ASSERT_TRUE(account.writeFile(accountFile));
    ASSERT_EVENTUALLY(device.engine().account().has_value());
    device.engine().syncChanges();
    EXPECT_EQ(device->saved().items.size(), 1);
}

TEST_F(SyncDriverTest, BatchesCarryTheLatestContentAndDropSavesOfVanishedItems)
{
    Device &device = makeDevice("mac");
    const auto first = device->addItem("first", Bucket::small);
    const auto second = device->addItem("second", Bucket::small);
    device->updateTitle(first->id, "first, edited");
    device->setItem(second->id, std::nullopt); // gone without a delete of its own, as by a fetch
    device->deleteItem("NEVER-EXISTED");

    const auto batch = device.driver().nextRecordZoneChangeBatch({}, device.engine());
    ASSERT_TRUE(batch);
    ASSERT_EQ(batch->recordsToSave().size(), 1);
    EXPECT_EQ(batch->recordsToSave()[0].stringValue("title"), "first, edited");
    EXPECT_EQ(batch->recordIDsToDelete(), QList{idOf("NEVER-EXISTED")});
    EXPECT_EQ(device.engine().state().pendingRecordZoneChanges().size(), 2); // the save of `second` left

    // The send context's scope decides what is offered.
    SendChangesContext only;
    only.options.scope = SendChangesScope::records({idOf("NEVER-EXISTED")});
    const auto scoped = device.driver().nextRecordZoneChangeBatch(only, device.engine());
    ASSERT_TRUE(scoped);
    EXPECT_TRUE(scoped->recordsToSave().isEmpty());

    device.engine().syncChanges();
    EXPECT_EQ(cloud.records("anna", syncZoneID()).size(), 1);
    EXPECT_FALSE(device.driver().nextRecordZoneChangeBatch({}, device.engine()));
}

TEST_F(SyncDriverTest, SavedRecordsOnlyUpdateTheBookkeeping)
{
    Device &device = makeDevice("mac");
    const auto item = device->addItem("Title", Bucket::small);
    Record saved = serverRecord(item->id, "Server title", clock.now.addDays(-1));
    SyncEvent::SentRecordZoneChanges event;
    event.savedRecords = {saved, serverRecord("NOT-HERE", "x", clock.now)};
    deliver(device, event);
    EXPECT_EQ(device->item(item->id)->title, "Title");
    EXPECT_EQ(device->item(item->id)->modifiedAt, item->modifiedAt);
    EXPECT_EQ(device->item(item->id)->systemFields, archiveSystemFields(saved));
    EXPECT_FALSE(device->item("NOT-HERE"));
}

TEST_F(SyncDriverTest, AnUnhandledFailureIsKeptAsSyncError)
{
    Device &device = makeDevice("mac");
    cloud.setQuota("anna", 1);
    device->addItem("fits", Bucket::small);
    clock.advance(1);
    const auto tooMany = device->addItem("too many", Bucket::small);
    QSignalSpy errorChanged(&device.store(), &DayStore::syncErrorChanged);
    device.engine().syncChanges();
    ASSERT_TRUE(device->syncError());
    EXPECT_EQ(*device->syncError(), CloudError(CloudError::Code::quotaExceeded).description());
    EXPECT_EQ(errorChanged.count(), 1);
    // Not queued again by the driver.
    EXPECT_TRUE(device.engine().state().pendingRecordZoneChanges().isEmpty());

    // Later successful sends leave the text alone; it is never written to the file.
    cloud.setQuota("anna", std::nullopt);
    device->updateTitle(tooMany->id, "too many, now fine");
    device.engine().syncChanges();
    EXPECT_EQ(cloud.records("anna", syncZoneID()).size(), 2);
    EXPECT_EQ(*device->syncError(), CloudError(CloudError::Code::quotaExceeded).description());
    QFile file(device.path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_FALSE(file.readAll().contains("storage"));
}

TEST_F(SyncDriverTest, TheStateReadsBackUnchangedAndQueuedChangesSurviveARestart)
{
    Device &device = makeDevice("mac");
    device.engine().syncChanges();
    const auto item = device->addItem("Survives", Bucket::medium);
    const auto serialization = device.engine().state().serialization();
    EXPECT_EQ(device->saved().state, serialization);
    EXPECT_EQ(device.file().state, serialization);

    // Quit at once, without the event loop ever running: the change is in the file.
    device.restart();
    EXPECT_EQ(device->saved().state, serialization);
    EXPECT_EQ(device.engine().state().serialization(), serialization);
    EXPECT_EQ(device.engine().state().pendingRecordZoneChanges(), QList{PendingRecordZoneChange::save(idOf(item->id))});
    device.engine().syncChanges();
    EXPECT_TRUE(cloud.record("anna", idOf(item->id)));
}

TEST_F(SyncDriverTest, ANewDayStartedAtLaunchReachesTheOtherDevices)
{
    Device &mac = makeDevice("mac");
    Device &laptop = makeDevice("laptop");
    const auto unfinished = mac->addItem("unfinished", Bucket::medium);
    const auto finished = mac->addItem("finished", Bucket::medium);
    mac->toggleDone(finished->id);
    mac.engine().syncChanges();
    laptop.engine().syncChanges();
    ASSERT_EQ(laptop->itemsIn(Bucket::medium).size(), 2);

    // The mac is launched the next morning: its new day moves and drops items, and tells the cloud.
    clock.advance(24 * 3600);
    mac.restart();
    EXPECT_TRUE(mac->item(unfinished->id)->isInBacklog());
    EXPECT_FALSE(mac->item(finished->id));
    mac.engine().syncChanges();
    laptop.engine().syncChanges();
    EXPECT_TRUE(laptop->item(unfinished->id)->isInBacklog());
    EXPECT_FALSE(laptop->item(finished->id));
}
