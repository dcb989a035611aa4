// The rules every cloud database of the app keeps, run against each of them: the one in the process and the
// vellora-cloud server through its network client.
#include "SyncKit/HttpCloud.h"
#include "tests/SyncKit/MemoryCloud.h"
#include "tests/Cloud/AwaitCloud.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/PostgresCluster.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace SyncKit;

namespace {

const RecordZoneID kZone{QStringLiteral("Vellora")};

RecordID idOf(const QString &name)
{
    return RecordID{name, kZone};
}

Record makeRecord(const QString &name, const QString &title)
{
    Record record(QStringLiteral("DayItem"), idOf(name));
    record.setValue("title", title);
    record.setValue("order", qint64(-9007199254740993));
    record.setValue("note", QByteArray("\0\xff bytes", 8));
    return record;
}

enum class Kind { memory, http, postgresql };

class CloudContractTest : public testing::TestWithParam<Kind>
{
protected:
    void SetUp() override
    {
        if (GetParam() == Kind::memory) {
            memory.setAnswersDeferred(true);
        } else {
            QString database;
            if (GetParam() == Kind::postgresql) {
                database = PostgresCluster::newSharedDatabase();
                ASSERT_FALSE(database.isEmpty());
            }
            server = std::make_unique<CloudServerProcess>(QStringList{}, database);
            ASSERT_TRUE(server->start()) << server->error().toStdString();
            client = std::make_unique<HttpCloud>(CloudAccount{server->url(), {}, {}});
        }
        account = addAccount("anna");
        ASSERT_FALSE(account.token.isEmpty());
        ASSERT_TRUE(zones({kZone}, {}).ok());
    }

    CloudDatabase &cloud() { return client ? static_cast<CloudDatabase &>(*client) : memory; }
    CloudAccount addAccount(const QString &user)
    {
        return server ? CloudAccount{server->url(), user, server->addUser(user)} : memory.addAccount(user);
    }
    // What emits databaseChanged for this account's user when its database changes.
    CloudDatabase *watch(const CloudAccount &user)
    {
        if (!server)
            return &memory;
        HttpCloud *watcher = watchers.emplace_back(std::make_unique<HttpCloud>(user)).get();
        EXPECT_TRUE(waitFor([&] { return watcher->isPushConnected(); }));
        return watcher;
    }

    template<typename T, typename Call> CloudResult<T> await(Call call)
    {
        return awaitAnswer<T>(call).value_or(CloudError(CloudError::Code::networkFailure, "no answer"));
    }
    CloudResult<ModifyZonesResult> zones(const QList<RecordZoneID> &saves, const QList<RecordZoneID> &deletes)
    {
        return await<ModifyZonesResult>([&](auto done) { cloud().modifyZones(*as, saves, deletes, done); });
    }
    // Deletes by identity alone, as older devices do.
    CloudResult<ModifyRecordsResult> modify(const QList<Record> &saves, const QList<RecordID> &deletes = {})
    {
        QList<Record> bare;
        for (const RecordID &recordID : deletes)
            bare.append(Record(QString(), recordID));
        return modifyWith(saves, bare);
    }
    CloudResult<ModifyRecordsResult> modifyWith(const QList<Record> &saves, const QList<Record> &tombstones)
    {
        return await<ModifyRecordsResult>([&](auto done) { cloud().modifyRecords(*as, saves, tombstones, done); });
    }
    CloudResult<ZoneChanges> zoneChanges(const QByteArray &token, int limit = 0)
    {
        return await<ZoneChanges>([&](auto done) { cloud().fetchZoneChanges(*as, kZone, token, limit, done); });
    }
    CloudResult<DatabaseChanges> databaseChanges(const QByteArray &token)
    {
        return await<DatabaseChanges>([&](auto done) { cloud().fetchDatabaseChanges(*as, token, done); });
    }
    // Saves and gives the record as the server stored it.
    Record save(const Record &record)
    {
        const auto result = modify({record});
        EXPECT_EQ(result.ok() ? result.value().savedRecords.size() : -1, 1);
        return result.ok() ? result.value().savedRecords.value(0, record) : record;
    }
    // The code of the first save the call failed, or of the call's own failure; none when all were saved.
    std::optional<CloudError::Code> firstFailedSave(const QList<Record> &saves)
    {
        const auto result = modify(saves);
        if (!result.ok())
            return result.error().code();
        const auto &failed = result.value().failedRecordSaves;
        return failed.isEmpty() ? std::nullopt : std::optional(failed[0].error.code());
    }
    MemoryCloud memory;
    std::unique_ptr<CloudServerProcess> server;
    std::unique_ptr<HttpCloud> client;
    std::vector<std::unique_ptr<HttpCloud>> watchers;
    CloudAccount account;
    const CloudAccount *as = &account; // who the calls above are made as
};

QStringList namesOf(const QList<Record> &records)
{
    QStringList names;
    for (const Record &record : records)
        names << record.recordID().recordName;
    return names;
}

} // namespace

TEST_P(CloudContractTest, SavesOnlyOverTheCurrentChangeTag)
{
    const Record first = save(makeRecord("A", "one"));
    EXPECT_FALSE(first.recordChangeTag().isEmpty());
    ASSERT_TRUE(first.creationDate());
    EXPECT_EQ(first.creationDate(), first.modificationDate());
    // Field values come back exactly as sent, whatever their type.
    EXPECT_EQ(first.fields(), makeRecord("A", "one").fields());

    Record edit = first;
    edit.setValue("title", QStringLiteral("two"));
    const Record second = save(edit);
    EXPECT_NE(second.recordChangeTag(), first.recordChangeTag());
    EXPECT_EQ(second.creationDate(), first.creationDate());
    EXPECT_GE(second.modificationDate(), first.modificationDate());

    // Another device still holding the first tag loses, and learns what the server has; the rest of its request
    // goes through.
    Record stale = first;
    stale.setValue("title", QStringLiteral("three"));
    const auto result = modify({stale, makeRecord("B", "b")});
    ASSERT_TRUE(result.ok());
    ASSERT_EQ(result.value().failedRecordSaves.size(), 1);
    const CloudError &error = result.value().failedRecordSaves[0].error;
    EXPECT_EQ(error.code(), CloudError::Code::serverRecordChanged);
    EXPECT_EQ(error.serverRecord(), second);
    EXPECT_EQ(namesOf(result.value().savedRecords), QStringList{"B"});
    EXPECT_EQ(zoneContents(cloud(), account, kZone).value().at("A"), second);
    // A new record whose name is taken is a conflict too.
    EXPECT_EQ(firstFailedSave({makeRecord("A", "fresh")}), CloudError::Code::serverRecordChanged);
}

TEST_P(CloudContractTest, UnknownRecordsAndMissingZonesFail)
{
    Record ghost = makeRecord("G", "ghost");
    ghost.setSystemFields("t999", std::nullopt, std::nullopt);
    Record elsewhere(QStringLiteral("DayItem"), RecordID{"B", RecordZoneID{"Other"}});
    const auto result = modify({ghost, elsewhere}, {RecordID{"C", RecordZoneID{"Other"}}});
    ASSERT_TRUE(result.ok());
    ASSERT_EQ(result.value().failedRecordSaves.size(), 2);
    EXPECT_EQ(result.value().failedRecordSaves[0].error.code(), CloudError::Code::unknownItem);
    EXPECT_EQ(result.value().failedRecordSaves[1].error.code(), CloudError::Code::zoneNotFound);
    EXPECT_EQ(result.value().failedRecordDeletes.at(0).error.code(), CloudError::Code::zoneNotFound);

    // A deleted record is unknown to a save that still holds its tag; deleting it again is no error.
    const Record saved = save(makeRecord("A", "one"));
    ASSERT_TRUE(modify({}, {idOf("A")}).ok());
    EXPECT_EQ(firstFailedSave({saved}), CloudError::Code::unknownItem);
    EXPECT_EQ(modify({}, {idOf("A")}).value().deletedRecordIDs, QList{idOf("A")});
    // As a new record it is welcome again.
    EXPECT_EQ(save(makeRecord("A", "again")).stringValue("title"), "again");
}

// A delete that carries a tag is a change like a save: it loses to a newer record, and a save loses to a newer
// tombstone; each failure tells the device what the server holds, so that it can decide by the times.
TEST_P(CloudContractTest, DeletesAndSavesMeetTombstonesByTheirTags)
{
    const Record first = save(makeRecord("A", "one"));
    Record edit = first;
    edit.setValue("title", QStringLiteral("two"));
    const Record second = save(edit);
    const QByteArray token = zoneChanges({}).value().changeToken;

    auto tombstoneOf = [](const Record &seen, qint64 when) {
        Record tombstone = seen;
        for (const QString &key : seen.fields().keys())
            tombstone.removeValue(key);
        tombstone.setValue("deletedAt", when);
        return tombstone;
    };
    auto stale = modifyWith({}, {tombstoneOf(first, 5)});
    ASSERT_TRUE(stale.ok());
    ASSERT_EQ(stale.value().failedRecordDeletes.size(), 1);
    EXPECT_EQ(stale.value().failedRecordDeletes[0].error.code(), CloudError::Code::serverRecordChanged);
    EXPECT_EQ(stale.value().failedRecordDeletes[0].error.serverRecord(), second);
    EXPECT_EQ(zoneContents(cloud(), account, kZone).value().count("A"), 1u);

    ASSERT_EQ(modifyWith({}, {tombstoneOf(second, 7)}).value().deletedRecordIDs, QList{idOf("A")});
    // The tombstone keeps what the deleting device left, and others hear it.
    const auto changes = zoneChanges(token);
    ASSERT_EQ(changes.value().deletions.size(), 1);
    const Record tombstone = changes.value().deletions[0].tombstone;
    EXPECT_EQ(tombstone.int64Value("deletedAt"), 7);
    EXPECT_FALSE(tombstone.recordChangeTag().isEmpty());

    // A save over the record as it was before the delete fails with the tombstone.
    const auto late = modify({second});
    ASSERT_EQ(late.value().failedRecordSaves.size(), 1);
    EXPECT_EQ(late.value().failedRecordSaves[0].error.code(), CloudError::Code::unknownItem);
    ASSERT_TRUE(late.value().failedRecordSaves[0].error.serverRecord());
    EXPECT_EQ(late.value().failedRecordSaves[0].error.serverRecord()->int64Value("deletedAt"), 7);
    // Deleting it again is no error; a save that has seen the tombstone makes the record again.
    EXPECT_EQ(modifyWith({}, {tombstoneOf(second, 9)}).value().deletedRecordIDs, QList{idOf("A")});
    Record again = makeRecord("A", "three");
    again.setSystemFields(tombstone.recordChangeTag(), std::nullopt, std::nullopt);
    EXPECT_EQ(save(again).stringValue("title"), "three");
}

TEST_P(CloudContractTest, ZoneChangesComeInOrderWithTombstonesAndPages)
{
    const QByteArray start = zoneChanges({}).value().changeToken;
    save(makeRecord("A", "a"));
    Record b = save(makeRecord("B", "b"));
    save(makeRecord("C", "c"));
    b.setValue("title", QStringLiteral("b2"));
    save(b);
    modify({}, {idOf("A")});

    // From the beginning: the live records, each once, in the order of their latest change; no tombstones.
    const auto all = zoneChanges({});
    ASSERT_TRUE(all.ok());
    EXPECT_EQ(namesOf(all.value().modifications), QStringList({"C", "B"}));
    EXPECT_TRUE(all.value().deletions.isEmpty());
    EXPECT_FALSE(all.value().moreComing);

    // From a token: the deletion too, and pages that pick up where they stopped.
    const auto first = zoneChanges(start, 2);
    ASSERT_TRUE(first.ok());
    EXPECT_TRUE(first.value().moreComing);
    EXPECT_EQ(first.value().modifications.size(), 2);
    const auto rest = zoneChanges(first.value().changeToken, 2);
    EXPECT_FALSE(rest.value().moreComing);
    ASSERT_EQ(rest.value().deletions.size(), 1);
    EXPECT_EQ(rest.value().deletions[0].recordID, idOf("A"));
    EXPECT_EQ(rest.value().deletions[0].recordType, "DayItem");
    EXPECT_TRUE(zoneChanges(rest.value().changeToken).value().modifications.isEmpty());
    // The token of a fetch from the beginning is past the tombstones it left out.
    EXPECT_TRUE(zoneChanges(all.value().changeToken).value().deletions.isEmpty());
    // A token of nothing this server knows starts over.
    EXPECT_EQ(zoneChanges("garbage").value().modifications.size(), 2);
}

TEST_P(CloudContractTest, ZoneDeletionIsADatabaseChange)
{
    save(makeRecord("A", "a"));
    const QByteArray token = databaseChanges({}).value().changeToken;
    EXPECT_EQ(databaseChanges({}).value().modifiedZones, QList{kZone});
    const QByteArray zoneToken = zoneChanges({}).value().changeToken;
    EXPECT_TRUE(databaseChanges(token).value().modifiedZones.isEmpty());

    ASSERT_TRUE(zones({}, {kZone}).ok());
    const auto changes = databaseChanges(token);
    EXPECT_EQ(changes.value().deletedZones, QList{kZone});
    EXPECT_EQ(zoneChanges(zoneToken).error().code(), CloudError::Code::zoneNotFound);
    EXPECT_EQ(firstFailedSave({makeRecord("B", "b")}), CloudError::Code::zoneNotFound);

    // Made again, it is a new zone: an old token of it starts over and the old records are gone.
    zones({kZone}, {});
    EXPECT_EQ(databaseChanges(changes.value().changeToken).value().modifiedZones, QList{kZone});
    const auto again = zoneChanges(zoneToken);
    EXPECT_TRUE(again.value().modifications.isEmpty() && again.value().deletions.isEmpty());
}

TEST_P(CloudContractTest, ChangesAreAnnouncedToTheirUserOnly)
{
    const CloudAccount bert = addAccount("bert");
    QSignalSpy annaHears(watch(account), &CloudDatabase::databaseChanged);
    QSignalSpy bertHears(watch(bert), &CloudDatabase::databaseChanged);
    annaHears.clear();
    bertHears.clear();

    const auto heard = [](const QSignalSpy &spy, const QString &user) {
        return std::count_if(spy.begin(), spy.end(), [&](const auto &signal) { return signal.at(1) == user; });
    };
    save(makeRecord("A", "a"));
    ASSERT_TRUE(waitFor([&] { return heard(annaHears, "anna") > 0; }));
    // Bert's own change reaches him; anna's, announced before it on the same channel, would have come first.
    as = &bert;
    zones({kZone}, {});
    ASSERT_TRUE(waitFor([&] { return heard(bertHears, "bert") > 0; }));
    EXPECT_EQ(heard(bertHears, "bert"), 1);
    EXPECT_EQ(heard(annaHears, "anna"), 1);
}

INSTANTIATE_TEST_SUITE_P(Clouds, CloudContractTest, testing::Values(Kind::memory, Kind::http, Kind::postgresql),
                         [](const auto &info) {
                             return info.param == Kind::memory ? "Memory"
                                    : info.param == Kind::http ? "HttpOnSqlite"
                                                               : "HttpOnPostgresql";
                         });
