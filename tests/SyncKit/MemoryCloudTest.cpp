// The rules every cloud keeps are tested against all of them in the contract suite; here only what is the memory
// cloud's own: quotas, faults and deferred answers.
#include "SyncKit/MemoryCloud.h"

#include "tests/WaitFor.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace SyncKit;

namespace {

const RecordZoneID kZone{QStringLiteral("Vellora")};

RecordID idOf(const QString &name)
{
    return RecordID{name, kZone};
}

Record makeRecord(const QString &name)
{
    return Record(QStringLiteral("DayItem"), idOf(name));
}

} // namespace

TEST(MemoryCloudTest, QuotasFaultsAndDeferredAnswers)
{
    MemoryCloud cloud;
    const CloudAccount account = cloud.addAccount("anna");
    QSignalSpy changed(&cloud, &CloudDatabase::databaseChanged);
    std::optional<CloudResult<ModifyRecordsResult>> out;
    const auto modify = [&](const QList<Record> &saves, const QList<RecordID> &deletes = {}) {
        out.reset();
        cloud.modifyRecords(account, saves, deletes, [&](auto result) { out = result; });
        return out ? *out : CloudResult<ModifyRecordsResult>(CloudError(CloudError::Code::networkFailure));
    };
    cloud.modifyZones(account, {kZone}, {}, [](auto) {});
    cloud.setQuota("anna", 1);
    const Record a = modify({makeRecord("A")}).value().savedRecords.value(0);
    // The quota limits new records only.
    EXPECT_EQ(modify({makeRecord("B")}).value().failedRecordSaves.at(0).error.code(), CloudError::Code::quotaExceeded);
    EXPECT_EQ(modify({a}).value().savedRecords.size(), 1);
    modify({}, {idOf("A")});
    changed.clear();

    cloud.failNextCalls(1, MemoryCloud::Fault::dropRequest);
    EXPECT_EQ(modify({makeRecord("B")}).error().code(), CloudError::Code::networkFailure);
    EXPECT_FALSE(cloud.record("anna", idOf("B")));
    // The answer is lost, the work is done: the caller's next try meets its own record.
    cloud.failNextCalls(1, MemoryCloud::Fault::dropResponse);
    EXPECT_EQ(modify({makeRecord("B")}).error().code(), CloudError::Code::networkFailure);
    EXPECT_TRUE(cloud.record("anna", idOf("B")));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][1].toString(), "anna");

    cloud.setAnswersDeferred(true);
    cloud.setQuota("anna", std::nullopt);
    modify({makeRecord("C")});
    EXPECT_FALSE(out);
    ASSERT_EVENTUALLY(out.has_value());
    EXPECT_EQ(out->value().savedRecords.size(), 1);
}
