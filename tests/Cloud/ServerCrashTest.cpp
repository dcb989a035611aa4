// The server killed at random moments while devices send large batches: what it answers again after a restart
// on the same data must never be half a batch, nor an older state than it already showed.
#include "tests/Cloud/AwaitCloud.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/RecordDevice.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <random>

using namespace SyncKit;

namespace {

constexpr int kBatchSize = 400;

QList<std::pair<QString, QString>> batch(const QString &prefix)
{
    QList<std::pair<QString, QString>> records;
    for (int i = 0; i < kBatchSize; ++i)
        records.append(
            {QStringLiteral("%1-%2").arg(prefix).arg(i), QStringLiteral("record %1 of %2").arg(i).arg(prefix)});
    return records;
}

// The user's change counter, as the last part of the database change token carries it; -1 without an answer.
qint64 changeCounter(CloudDatabase &cloud, const CloudAccount &account)
{
    const auto answer =
        awaitAnswer<DatabaseChanges>([&](auto done) { cloud.fetchDatabaseChanges(account, {}, std::move(done)); });
    return answer && answer->ok() ? answer->value().changeToken.split(':').value(2).toLongLong() : -1;
}

// The names of the records changed since the token, and the token after them; nothing without an answer.
std::optional<std::pair<QStringList, QByteArray>> changedSince(CloudDatabase &cloud, const CloudAccount &account,
                                                               QByteArray token)
{
    QStringList names;
    for (;;) {
        const auto page = awaitAnswer<ZoneChanges>(
            [&](auto done) { cloud.fetchZoneChanges(account, RecordDevice::kZone, token, 0, std::move(done)); });
        if (!page || !page->ok())
            return std::nullopt;
        for (const Record &record : page->value().modifications)
            names.append(record.recordID().recordName);
        token = page->value().changeToken;
        if (!page->value().moreComing)
            return std::pair(names, token);
    }
}

} // namespace

TEST(ServerCrashTest, EveryBatchIsWholeOrAbsentAfterAKillAndTheDevicesConverge)
{
    constexpr int kills = 100;
    CloudServerProcess server({"--rate-limit", "100000/100000"});
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    std::vector<std::unique_ptr<RecordDevice>> devices;
    for (int i = 0; i < 2; ++i)
        devices.push_back(
            std::make_unique<RecordDevice>(CloudAccount{server.url(), "anna", server.addUser("anna")}));
    const CloudAccount reader{server.url(), "anna", server.addUser("anna")};
    HttpCloud client(CloudAccount{server.url(), {}, {}});

    // How long a whole batch takes here, so that the kills fall before, inside and after its commit.
    QElapsedTimer timer;
    timer.start();
    devices[0]->add(batch("first"));
    ASSERT_EQ(syncNow(devices[0]->engine(), false), std::nullopt);
    const qint64 batchMs = std::max<qint64>(timer.elapsed(), 5);
    ASSERT_EQ(syncNow(devices[1]->engine(), false), std::nullopt); // its zone, made already
    auto seen = changedSince(client, reader, {});
    ASSERT_TRUE(seen);
    QByteArray token = seen->second;
    qint64 counter = changeCounter(client, reader);
    ASSERT_EQ(counter, kBatchSize + 1);

    std::mt19937 random(7);
    for (int kill = 0; kill < kills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        RecordDevice &device = *devices[size_t(kill % 2)];
        const QString prefix = QStringLiteral("batch%1").arg(kill);
        device.add(batch(prefix));
        const auto ended = std::make_shared<bool>(false);
        device.engine().sendChanges({}, [ended](const auto &) { *ended = true; });
        QTest::qWait(int(std::uniform_int_distribution<qint64>(0, batchMs * 3 / 2)(random)));
        server.kill();
        ASSERT_TRUE(waitFor([&] { return *ended; }));
        ASSERT_TRUE(server.start()) << server.error().toStdString();

        const auto changed = changedSince(client, reader, token);
        ASSERT_TRUE(changed);
        const qint64 after = changeCounter(client, reader);
        EXPECT_TRUE(changed->first.isEmpty() || changed->first.size() == kBatchSize) << changed->first.size();
        for (const QString &name : changed->first)
            EXPECT_TRUE(name.startsWith(prefix + '-')) << name.toStdString();
        EXPECT_EQ(after, counter + changed->first.size()) << "the change counter went back or skipped";

        // The device sends what it did not hear was stored; a record the server has comes back as a conflict.
        ASSERT_EQ(syncNow(device.engine(), false), std::nullopt);
        ASSERT_TRUE(device.engine().state().pendingRecordZoneChanges().isEmpty());
        seen = changedSince(client, reader, token);
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->first.size(), kBatchSize);
        token = seen->second;
        const qint64 now = changeCounter(client, reader);
        EXPECT_GE(now, after);
        counter = now;
        if (testing::Test::HasFatalFailure())
            return;
    }

    for (auto &device : devices)
        ASSERT_EQ(syncNow(device->engine()), std::nullopt);
    const auto onServer = zoneContents(client, reader, RecordDevice::kZone);
    ASSERT_TRUE(onServer);
    EXPECT_EQ(onServer->size(), size_t(kBatchSize * (kills + 1)));
    for (auto &device : devices) {
        EXPECT_EQ(size_t(device->records.size()), onServer->size());
        for (const auto &[name, record] : *onServer)
            EXPECT_EQ(device->records.value(record.recordID()), record) << name.toStdString();
    }
}
