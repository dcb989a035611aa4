// The server killed at random moments while a device sends large batches: what it answers again after a restart
// on the same data must never be half a batch, nor an older state than it already showed.
#include "SyncKit/HttpCloud.h"
#include "tests/Cloud/AwaitCloud.h"
#include "tests/Cloud/CloudServerProcess.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <random>

using namespace SyncKit;

namespace {

constexpr int kBatchSize = 400;
const RecordZoneID kZone{QStringLiteral("Vellora")};

QList<Record> batch(const QString &prefix)
{
    QList<Record> records;
    for (int i = 0; i < kBatchSize; ++i) {
        records.append(Record(QStringLiteral("DayItem"), RecordID{QStringLiteral("%1-%2").arg(prefix).arg(i), kZone}));
        records.last().setValue("title", QStringLiteral("record %1 of %2").arg(i).arg(prefix));
    }
    return records;
}

struct Seen
{
    QStringList names; // of the records changed since the token asked for
    QByteArray token;  // after them
    qint64 counter;    // the user's change counter, the last part of the database change token
};

std::optional<Seen> changedSince(CloudDatabase &cloud, const CloudAccount &account, QByteArray token)
{
    Seen seen;
    for (;;) {
        const auto page = awaitAnswer<ZoneChanges>(
            [&](auto done) { cloud.fetchZoneChanges(account, kZone, token, 0, std::move(done)); });
        if (!page || !page->ok())
            return std::nullopt;
        for (const Record &record : page->value().modifications)
            seen.names.append(record.recordID().recordName);
        token = page->value().changeToken;
        if (!page->value().moreComing)
            break;
    }
    seen.token = token;
    const auto database =
        awaitAnswer<DatabaseChanges>([&](auto done) { cloud.fetchDatabaseChanges(account, {}, std::move(done)); });
    if (!database || !database->ok())
        return std::nullopt;
    seen.counter = database->value().changeToken.split(':').value(2).toLongLong();
    return seen;
}

} // namespace

TEST(ServerCrashTest, EveryBatchIsWholeOrAbsentAfterAKill)
{
    constexpr int kills = 100;
    CloudServerProcess server({"--rate-limit", "100000/100000"});
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    const CloudAccount anna{server.url(), "anna", server.addUser("anna")};
    HttpCloud client(CloudAccount{server.url(), {}, {}});
    const auto send = [&](const QList<Record> &records) {
        return awaitAnswer<ModifyRecordsResult>([&](auto done) { client.modifyRecords(anna, records, {}, done); });
    };
    ASSERT_TRUE(awaitAnswer<ModifyZonesResult>([&](auto done) { client.modifyZones(anna, {kZone}, {}, done); })->ok());

    // How long a whole batch takes here, so that the kills fall before, inside and after its commit.
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(send(batch("first"))->ok());
    const qint64 batchMs = std::max<qint64>(timer.elapsed(), 5);
    auto seen = changedSince(client, anna, {});
    ASSERT_TRUE(seen);
    ASSERT_EQ(seen->counter, kBatchSize + 1);

    std::mt19937 random(7);
    for (int kill = 0; kill < kills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        const QString prefix = QStringLiteral("batch%1").arg(kill);
        const QList<Record> records = batch(prefix);
        const auto ended = std::make_shared<bool>(false);
        client.modifyRecords(anna, records, {}, [ended](const auto &) { *ended = true; });
        QTest::qWait(int(std::uniform_int_distribution<qint64>(0, batchMs * 3 / 2)(random)));
        server.kill();
        ASSERT_TRUE(waitFor([&] { return *ended; }));
        ASSERT_TRUE(server.start()) << server.error().toStdString();

        const auto changed = changedSince(client, anna, seen->token);
        ASSERT_TRUE(changed);
        EXPECT_TRUE(changed->names.isEmpty() || changed->names.size() == kBatchSize) << changed->names.size();
        for (const QString &name : changed->names)
            EXPECT_TRUE(name.startsWith(prefix + '-')) << name.toStdString();
        EXPECT_EQ(changed->counter, seen->counter + changed->names.size()) << "the change counter went back or skipped";

        // Sent again as new: what the server kept comes back as a conflict, the rest is saved.
        const auto again = send(records);
        ASSERT_TRUE(again && again->ok());
        EXPECT_EQ(again->value().savedRecords.size(), changed->names.isEmpty() ? kBatchSize : 0);
        seen = changedSince(client, anna, seen->token);
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->names.size(), kBatchSize);
        EXPECT_GE(seen->counter, changed->counter);
        if (testing::Test::HasFatalFailure())
            return;
    }
    const auto onServer = zoneContents(client, anna, kZone);
    ASSERT_TRUE(onServer);
    EXPECT_EQ(onServer->size(), size_t(kBatchSize * (kills + 1)));
}
