#include "SyncKit/MemoryCloud.h"

#include <QSignalSpy>
#include "tests/SyncKit/Eventually.h"

#include <QTest>

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
    return record;
}

class MemoryCloudTest : public testing::Test
{
protected:
    void SetUp() override
    {
        cloud.setClock([this] { return now; });
        account = cloud.addAccount("anna");
        ASSERT_TRUE(zones({kZone}, {}).ok());
    }

    CloudResult<ModifyZonesResult> zones(const QList<RecordZoneID> &saves, const QList<RecordZoneID> &deletes,
                                         const CloudAccount *as = nullptr)
    {
        std::optional<CloudResult<ModifyZonesResult>> out;
        cloud.modifyZones(as ? *as : account, saves, deletes, [&](auto result) { out = result; });
        return *out;
    }

    CloudResult<ModifyRecordsResult> modify(const QList<Record> &saves, const QList<RecordID> &deletes = {},
                                            const CloudAccount *as = nullptr)
    {
        std::optional<CloudResult<ModifyRecordsResult>> out;
        cloud.modifyRecords(as ? *as : account, saves, deletes, [&](auto result) { out = result; });
        return *out;
    }

    // Saves and gives the record as the server stored it.
    Record save(const Record &record)
    {
        const auto result = modify({record});
        EXPECT_TRUE(result.ok());
        EXPECT_EQ(result.value().savedRecords.size(), 1);
        return result.value().savedRecords.value(0, record);
    }

    CloudResult<ZoneChanges> zoneChanges(const QByteArray &token, int limit = 0)
    {
        std::optional<CloudResult<ZoneChanges>> out;
        cloud.fetchZoneChanges(account, kZone, token, limit, [&](auto result) { out = result; });
        return *out;
    }

    CloudResult<DatabaseChanges> databaseChanges(const QByteArray &token)
    {
        std::optional<CloudResult<DatabaseChanges>> out;
        cloud.fetchDatabaseChanges(account, token, [&](auto result) { out = result; });
        return *out;
    }

    MemoryCloud cloud;
    CloudAccount account;
    QDateTime now = QDateTime(QDate(2025, 3, 5), QTime(8, 0), Qt::UTC);
};

} // namespace

TEST_F(MemoryCloudTest, SavesOnlyOverTheCurrentChangeTag)
{
    const Record first = save(makeRecord("A", "one"));
    EXPECT_FALSE(first.recordChangeTag().isEmpty());
    EXPECT_EQ(first.creationDate(), now);
    EXPECT_EQ(first.modificationDate(), now);

    now = now.addSecs(60);
    Record edit = first;
    edit.setValue("title", QStringLiteral("two"));
    const Record second = save(edit);
    EXPECT_NE(second.recordChangeTag(), first.recordChangeTag());
    EXPECT_EQ(second.creationDate(), first.creationDate());
    EXPECT_EQ(second.modificationDate(), now);

    // Another device still holding the first tag loses, and learns what the server has.
    Record stale = first;
    stale.setValue("title", QStringLiteral("three"));
    const auto result = modify({stale});
    ASSERT_TRUE(result.ok());
    ASSERT_EQ(result.value().failedRecordSaves.size(), 1);
    const CloudError &error = result.value().failedRecordSaves[0].error;
    EXPECT_EQ(error.code(), CloudError::Code::serverRecordChanged);
    EXPECT_EQ(error.serverRecord(), second);
    EXPECT_EQ(cloud.record("anna", idOf("A"))->stringValue("title"), "two");

    // A new record whose name is taken is a conflict too.
    const auto taken = modify({makeRecord("A", "fresh")});
    EXPECT_EQ(taken.value().failedRecordSaves.at(0).error.code(), CloudError::Code::serverRecordChanged);
}

TEST_F(MemoryCloudTest, UnknownRecordsAndMissingZonesFail)
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
    EXPECT_EQ(modify({saved}).value().failedRecordSaves.at(0).error.code(), CloudError::Code::unknownItem);
    EXPECT_EQ(modify({}, {idOf("A")}).value().deletedRecordIDs, QList{idOf("A")});
    // As a new record it is welcome again.
    EXPECT_EQ(save(makeRecord("A", "again")).stringValue("title"), "again");
}

TEST_F(MemoryCloudTest, ZoneChangesComeInOrderWithTombstonesAndPages)
{
    const QByteArray start = zoneChanges({}).value().changeToken;
    save(makeRecord("A", "a"));
    const Record b = save(makeRecord("B", "b"));
    save(makeRecord("C", "c"));
    Record bEdit = b;
    bEdit.setValue("title", QStringLiteral("b2"));
    save(bEdit);
    modify({}, {idOf("A")});

    // From the beginning: the live records, each once, in the order of their latest change; no tombstones.
    const auto all = zoneChanges({});
    ASSERT_TRUE(all.ok());
    QStringList names;
    for (const Record &record : all.value().modifications)
        names << record.recordID().recordName;
    EXPECT_EQ(names, QStringList({"C", "B"}));
    EXPECT_TRUE(all.value().deletions.isEmpty());

    // From a token: the deletion too, and pages that pick up where they stopped.
    const auto first = zoneChanges(start, 2);
    ASSERT_TRUE(first.ok());
    EXPECT_TRUE(first.value().moreComing);
    EXPECT_EQ(first.value().modifications.size(), 2);
    const auto rest = zoneChanges(first.value().changeToken, 2);
    EXPECT_FALSE(rest.value().moreComing);
    ASSERT_EQ(rest.value().deletions.size(), 1);
    EXPECT_EQ(rest.value().deletions[0], (RecordDeletion{idOf("A"), "DayItem"}));
    EXPECT_TRUE(zoneChanges(rest.value().changeToken).value().modifications.isEmpty());

    // A token of nothing this server knows starts over.
    EXPECT_EQ(zoneChanges("garbage").value().modifications.size(), 2);
}

TEST_F(MemoryCloudTest, ZoneDeletionIsADatabaseChange)
{
    save(makeRecord("A", "a"));
    const QByteArray token = databaseChanges({}).value().changeToken;
    const QByteArray zoneToken = zoneChanges({}).value().changeToken;
    EXPECT_TRUE(databaseChanges(token).value().modifiedZones.isEmpty());

    cloud.deleteZone("anna", kZone);
    const auto changes = databaseChanges(token);
    EXPECT_EQ(changes.value().deletedZones, QList{kZone});
    EXPECT_EQ(zoneChanges(zoneToken).error().code(), CloudError::Code::zoneNotFound);
    EXPECT_EQ(modify({makeRecord("B", "b")}).value().failedRecordSaves.at(0).error.code(),
              CloudError::Code::zoneNotFound);

    // Made again, it is a new zone: an old token of it starts over and the old records are gone.
    zones({kZone}, {});
    const auto again = databaseChanges(changes.value().changeToken);
    EXPECT_EQ(again.value().modifiedZones, QList{kZone});
    EXPECT_TRUE(zoneChanges(zoneToken).value().modifications.isEmpty());
    EXPECT_TRUE(zoneChanges(zoneToken).value().deletions.isEmpty());
}

TEST_F(MemoryCloudTest, AccountsAreSeparateAndTokensAreChecked)
{
    const CloudAccount bert = cloud.addAccount("bert");
    save(makeRecord("A", "anna's"));
    EXPECT_EQ(modify({makeRecord("A", "bert's")}, {}, &bert).value().failedRecordSaves.at(0).error.code(),
              CloudError::Code::zoneNotFound);
    zones({kZone}, {}, &bert);
    EXPECT_TRUE(modify({makeRecord("A", "bert's")}, {}, &bert).value().failedRecordSaves.isEmpty());
    EXPECT_EQ(cloud.record("anna", idOf("A"))->stringValue("title"), "anna's");
    EXPECT_EQ(cloud.record("bert", idOf("A"))->stringValue("title"), "bert's");

    CloudAccount forged = bert;
    forged.token = "guess";
    EXPECT_EQ(modify({}, {idOf("A")}, &forged).error().code(), CloudError::Code::notAuthenticated);
    cloud.revokeTokens("bert");
    EXPECT_EQ(modify({}, {idOf("A")}, &bert).error().code(), CloudError::Code::notAuthenticated);
    EXPECT_TRUE(cloud.record("bert", idOf("A")));
}

TEST_F(MemoryCloudTest, QuotaLimitsNewRecordsOnly)
{
    cloud.setQuota("anna", 1);
    const Record a = save(makeRecord("A", "a"));
    EXPECT_EQ(modify({makeRecord("B", "b")}).value().failedRecordSaves.at(0).error.code(),
              CloudError::Code::quotaExceeded);
    Record edit = a;
    edit.setValue("title", QStringLiteral("a2"));
    save(edit);
    modify({}, {idOf("A")});
    save(makeRecord("B", "b"));
}

TEST_F(MemoryCloudTest, DroppedCallsFailAsNetworkFailures)
{
    QSignalSpy changed(&cloud, &CloudDatabase::databaseChanged);

    cloud.failNextCalls(1, MemoryCloud::Fault::dropRequest);
    EXPECT_EQ(modify({makeRecord("A", "a")}).error().code(), CloudError::Code::networkFailure);
    EXPECT_FALSE(cloud.record("anna", idOf("A")));

    // The answer is lost, the work is done: the caller's next try meets its own record.
    cloud.failNextCalls(1, MemoryCloud::Fault::dropResponse);
    EXPECT_EQ(modify({makeRecord("A", "a")}).error().code(), CloudError::Code::networkFailure);
    EXPECT_TRUE(cloud.record("anna", idOf("A")));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][1].toString(), "anna");

    cloud.setFaultInjector([](MemoryCloud::Call call) {
        return call == MemoryCloud::Call::fetchZoneChanges ? MemoryCloud::Fault::dropRequest
                                                           : MemoryCloud::Fault::none;
    });
    EXPECT_FALSE(zoneChanges({}).ok());
    EXPECT_TRUE(databaseChanges({}).ok());
    EXPECT_EQ(cloud.callCount(MemoryCloud::Call::modifyRecords), 2);
}

TEST_F(MemoryCloudTest, DeferredAnswersComeFromTheEventLoop)
{
    cloud.setAnswersDeferred(true);
    std::optional<CloudResult<ModifyRecordsResult>> out;
    cloud.modifyRecords(account, {makeRecord("A", "a")}, {}, [&](auto result) { out = result; });
    EXPECT_FALSE(out);
    ASSERT_EVENTUALLY(out.has_value());
    EXPECT_EQ(out->value().savedRecords.size(), 1);
}
