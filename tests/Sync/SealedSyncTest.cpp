// Devices that seal their records with the account key, on a cloud in the process that stores what it is given.

#include "SyncTestSupport.h"

#include "SyncKit/RecordSeal.h"
#include "tests/WaitFor.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace SyncKit;

namespace {

class SealedSyncTest : public MemoryCloudTest
{
protected:
    void SetUp() override
    {
        MemoryCloudTest::SetUp();
        account.key = AccountKey::generate();
    }

    // Saves a record on the cloud as it is given, as whoever runs the server could.
    void put(const Record &record)
    {
        const auto answer = awaitAnswer<ModifyRecordsResult>(
            [&](auto done) { cloud.modifyRecords(plain, {record}, {}, std::move(done)); });
        ASSERT_TRUE(answer && answer->ok() && answer->value().failedRecordSaves.isEmpty());
    }

    Record stored(const QString &name) const { return cloud.record("anna", idOf(name)).value_or(Record()); }

    QString title(Device &device, const QString &id) const
    {
        const auto item = device->item(id);
        return item ? item->title : QStringLiteral("(none)");
    }

    const CloudAccount plain = account; // as an older version signs in: no key
};

} // namespace

TEST_F(SealedSyncTest, DevicesWithTheKeyShareTasksThatTheCloudCannotRead)
{
    auto mac = device("mac", account);
    auto pc = device("pc", account);
    const auto kept = (*mac)->addItem("Dentist plum", Block::medium);
    const auto gone = (*mac)->addItem("Call plum", Block::small);
    mac->engine().syncChanges();
    pc->engine().syncChanges();
    EXPECT_EQ(title(*pc, kept->id), "Dentist plum");
    EXPECT_EQ(title(*pc, gone->id), "Call plum");
    const QByteArray token = pc->engine().state().zoneChangeToken(syncZoneID());

    clock.advance(60);
    (*pc)->toggleDone(kept->id);
    (*pc)->deleteItem(gone->id);
    pc->engine().syncChanges();
    mac->engine().syncChanges();
    EXPECT_TRUE((*mac)->item(kept->id)->done);
    EXPECT_FALSE((*mac)->item(gone->id));

    // Records and tombstones alike hold one sealed value and not a word of the task.
    const auto changes = awaitAnswer<ZoneChanges>(
        [&](auto done) { cloud.fetchZoneChanges(plain, syncZoneID(), token, 0, std::move(done)); });
    ASSERT_TRUE(changes && changes->ok());
    ASSERT_EQ(changes->value().deletions.size(), 1);
    QList<Record> records = cloud.records("anna", syncZoneID());
    records.append(changes->value().deletions.first().tombstone);
    for (const Record &record : records) {
        EXPECT_TRUE(RecordSeal::isSealed(record));
        EXPECT_FALSE(QJsonDocument(record.toJson()).toJson().contains("plum"));
    }

    // A computer without the key applies none of it and counts what it could not open.
    auto old = device("old", plain);
    old->engine().syncChanges();
    EXPECT_TRUE((*old)->saved().items.empty());
    EXPECT_EQ(old->store().unopenedRecordCount(), 1);
    EXPECT_EQ(mac->store().unopenedRecordCount(), 0);
}

TEST_F(SealedSyncTest, ARecordThatDoesNotOpenIsKeptOutUntilAGoodVersionComes)
{
    const AccountKey otherKey = AccountKey::generate();
    const QList<std::pair<const char *, std::function<Record(const Record &, const Record &)>>> tamperings{
        {"a byte changed",
         [](Record record, const Record &) {
             QByteArray value = *record.bytesValue(RecordSeal::kSealedField);
             value[value.size() - 5] = char(value[value.size() - 5] ^ 1);
             record.setValue(RecordSeal::kSealedField, value);
             return record;
         }},
        {"another record's value",
         [](Record record, const Record &other) {
             record.setValue(RecordSeal::kSealedField, *other.bytesValue(RecordSeal::kSealedField));
             return record;
         }},
        {"sealed with another key",
         [&](const Record &record, const Record &) {
             return RecordSeal::seal(*RecordSeal::open(record, *account.key, RecordSeal::Kind::save), otherKey,
                                     RecordSeal::Kind::save);
         }},
    };
    int round = 0;
    for (const auto &[name, tamper] : tamperings) {
        SCOPED_TRACE(name);
        ++round;
        auto mac = device(QStringLiteral("mac%1").arg(round), account);
        auto pc = device(QStringLiteral("pc%1").arg(round), account);
        const auto target = (*mac)->addItem("Target", Block::medium);
        const auto other = (*mac)->addItem("Other", Block::small);
        mac->engine().syncChanges();
        pc->engine().syncChanges();

        clock.advance(60);
        put(tamper(stored(target->id), stored(other->id)));
        (*mac)->updateTitle(other->id, "Other, later");
        mac->engine().syncChanges();
        pc->engine().syncChanges();
        EXPECT_EQ(title(*pc, target->id), "Target") << "the device's copy is kept";
        EXPECT_EQ(title(*pc, other->id), "Other, later") << "the rest syncs";
        EXPECT_EQ(pc->store().unopenedRecordCount(), 1);
        EXPECT_EQ(pc->fileState()->unopenedRecords, QSet{idOf(target->id)}) << "kept over a restart";

        // The next change goes over what cannot be read, once; then every device reads it again.
        clock.advance(60);
        (*mac)->updateTitle(target->id, "Target, fixed");
        mac->engine().syncChanges();
        EXPECT_TRUE(mac->engine().state().pendingRecordZoneChanges().isEmpty());
        pc->engine().syncChanges();
        EXPECT_EQ(title(*pc, target->id), "Target, fixed");
        EXPECT_EQ(pc->store().unopenedRecordCount(), 0);
        EXPECT_EQ(mac->store().unopenedRecordCount(), 0);
        if (HasFailure())
            break;
    }
}

TEST_F(SealedSyncTest, AnAccountThatGainsItsKeySendsEverythingAgainSealedAndLosesNothing)
{
    // Two computers of an older version: one item each, one of them never seen by the first computer, and an edit
    // of the first computer not sent yet.
    auto mac = device("mac", plain);
    auto pc = device("pc", plain);
    const auto shared = (*mac)->addItem("Shared", Block::medium);
    const auto deleted = (*mac)->addItem("Deleted", Block::small);
    mac->engine().syncChanges();
    pc->engine().syncChanges();
    const auto unseen = (*pc)->addItem("Unseen", Block::small);
    pc->engine().syncChanges();
    clock.advance(60);
    (*mac)->updateTitle(shared->id, "Shared, edited");
    (*mac)->deleteItem(deleted->id);
    ASSERT_FALSE(RecordSeal::isSealed(stored(shared->id)));

    // The first computer signs in with the key while the app is not running.
    mac.reset();
    mac = device("mac", account);
    mac->engine().syncChanges();
    EXPECT_TRUE(mac->engine().state().pendingRecordZoneChanges().isEmpty());
    EXPECT_EQ(title(*mac, shared->id), "Shared, edited");
    EXPECT_EQ(title(*mac, unseen->id), "Unseen");
    EXPECT_FALSE((*mac)->item(deleted->id));
    const QList<Record> records = cloud.records("anna", syncZoneID());
    EXPECT_EQ(records.size(), 2);
    for (const Record &record : records)
        EXPECT_TRUE(RecordSeal::isSealed(record)) << record.recordID().recordName.toStdString();

    // Once: the next start sends nothing again.
    mac.reset();
    mac = device("mac", account);
    EXPECT_TRUE(mac->engine().state().pendingRecordZoneChanges().isEmpty());

    // From now on the server refuses plain records: a computer of the older version is told in words, once, and
    // keeps its change.
    cloud.refusePlainRecords("anna");
    (*pc)->updateTitle(unseen->id, "Unseen, edited");
    std::optional<CloudError> refusal;
    pc->engine().syncChanges([&](const std::optional<CloudError> &error) { refusal = error; });
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->code(), CloudError::Code::invalidArguments); // shown in the server's words
    SyncSetup automatic = manualSetup(cloud, plain);
    automatic.automaticallySync = true;
    automatic.timing = {std::chrono::milliseconds(1), std::chrono::milliseconds(1), std::chrono::milliseconds(1),
                        std::chrono::milliseconds(1)};
    Device old(dir.filePath("old.json"), automatic, clock);
    old->addItem("Old", Block::small);
    const int calls = cloud.callCount(MemoryCloud::Call::modifyRecords);
    ASSERT_TRUE(waitFor([&] { return cloud.callCount(MemoryCloud::Call::modifyRecords) > calls; }));
    waitFor([] { return false; }, 100); // the engine would send again within this
    EXPECT_EQ(cloud.callCount(MemoryCloud::Call::modifyRecords), calls + 1) << "not sent again and again";

    // The other computer gains the key as the app runs, sends its change sealed and reads everything.
    pc->engine().setAccount(account);
    pc->engine().syncChanges();
    EXPECT_EQ(title(*pc, shared->id), "Shared, edited");
    EXPECT_EQ(title(*pc, unseen->id), "Unseen, edited");
    EXPECT_TRUE(RecordSeal::isSealed(stored(unseen->id)));
    EXPECT_FALSE((*pc)->item(deleted->id));
    EXPECT_EQ((*pc)->saved().items.size(), 2);
    EXPECT_EQ(pc->store().unopenedRecordCount(), 0);
}
