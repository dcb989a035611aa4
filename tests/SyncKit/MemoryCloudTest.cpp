#include "SyncKit/MemoryCloud.h"

#include "tests/WaitFor.h"
#include <QSignalSpy>

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

// The rules every cloud keeps are tested against all of them in tests/Cloud/CloudContractTest.cpp; here only what
// is MemoryCloud's own: quotas, faults and deferred answers.

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
        return call == MemoryCloud::Call::fetchZoneChanges ? MemoryCloud::Fault::dropRequest : MemoryCloud::Fault::none;
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
