// The rules every cloud database of the app keeps, run against each of them: the one in the process and the
// vellora-cloud server through its network client.
#include "SyncKit/HttpCloud.h"
#include "SyncKit/MemoryCloud.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/PostgresCluster.h"
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

Record makeRecord(const QString &name, const QString &title)
{
    Record record(QStringLiteral("DayItem"), idOf(name));
    record.setValue("title", title);
    record.setValue("order", qint64(-9007199254740993));
    record.setValue("note", QByteArray("\0\xff bytes", 8));
    return record;
}

// One cloud to test: its database, and the server-side administration the tests need.
class CloudUnderTest
{
public:
    virtual ~CloudUnderTest() = default;
    virtual bool start() { return true; }
    virtual CloudDatabase &database() = 0;
    virtual CloudAccount addAccount(const QString &user) = 0;
    virtual void revokeTokens(const QString &user) = 0;
    // What emits databaseChanged for this account's user when its database changes.
    virtual CloudDatabase *watch(const CloudAccount &account) = 0;
};

class MemoryCloudUnderTest : public CloudUnderTest
{
public:
    MemoryCloudUnderTest() { m_cloud.setAnswersDeferred(true); }
    CloudDatabase &database() override { return m_cloud; }
    CloudAccount addAccount(const QString &user) override { return m_cloud.addAccount(user); }
    void revokeTokens(const QString &user) override { m_cloud.revokeTokens(user); }
    CloudDatabase *watch(const CloudAccount &) override { return &m_cloud; }

private:
    MemoryCloud m_cloud;
};

class HttpCloudUnderTest : public CloudUnderTest
{
public:
    explicit HttpCloudUnderTest(QString database = {}) : m_server({}, std::move(database)) {}
    bool start() override
    {
        if (!m_server.start()) {
            ADD_FAILURE() << m_server.error().toStdString();
            return false;
        }
        m_client = std::make_unique<HttpCloud>(CloudAccount{m_server.url(), {}, {}});
        return true;
    }
    CloudDatabase &database() override { return *m_client; }
    CloudAccount addAccount(const QString &user) override
    {
        return CloudAccount{m_server.url(), user, m_server.addUser(user)};
    }
    void revokeTokens(const QString &user) override { EXPECT_EQ(m_server.command({"token", "revoke", user}).first, 0); }
    CloudDatabase *watch(const CloudAccount &account) override
    {
        auto watcher = std::make_unique<HttpCloud>(account);
        EXPECT_TRUE(waitFor([&] { return watcher->isPushConnected(); }));
        return m_watchers.emplace_back(std::move(watcher)).get();
    }

private:
    CloudServerProcess m_server;
    std::unique_ptr<HttpCloud> m_client;
    std::vector<std::unique_ptr<HttpCloud>> m_watchers;
};

enum class Kind { memory, http, postgresql };

class CloudContractTest : public testing::TestWithParam<Kind>
{
protected:
    void SetUp() override
    {
        if (GetParam() == Kind::memory)
            cloud = std::make_unique<MemoryCloudUnderTest>();
        else if (GetParam() == Kind::http)
            cloud = std::make_unique<HttpCloudUnderTest>();
        else {
            PostgresCluster *cluster = PostgresCluster::shared();
            ASSERT_TRUE(cluster);
            const QString database = cluster->newDatabase();
            ASSERT_FALSE(database.isEmpty());
            cloud = std::make_unique<HttpCloudUnderTest>(database);
        }
        ASSERT_TRUE(cloud->start());
        account = cloud->addAccount("anna");
        ASSERT_FALSE(account.token.isEmpty());
        ASSERT_TRUE(zones({kZone}, {}).ok());
    }

    // Waits for the answer of one call.
    template<typename T, typename Call> CloudResult<T> await(Call call)
    {
        std::optional<CloudResult<T>> out;
        call([&](CloudResult<T> result) { out = std::move(result); });
        EXPECT_TRUE(waitFor([&] { return out.has_value(); }));
        return out.value_or(CloudError(CloudError::Code::networkFailure, "no answer"));
    }

    CloudResult<ModifyZonesResult> zones(const QList<RecordZoneID> &saves, const QList<RecordZoneID> &deletes,
                                         const CloudAccount *as = nullptr)
    {
        return await<ModifyZonesResult>(
            [&](auto done) { cloud->database().modifyZones(as ? *as : account, saves, deletes, done); });
    }

    CloudResult<ModifyRecordsResult> modify(const QList<Record> &saves, const QList<RecordID> &deletes = {},
                                            const CloudAccount *as = nullptr)
    {
        return await<ModifyRecordsResult>(
            [&](auto done) { cloud->database().modifyRecords(as ? *as : account, saves, deletes, done); });
    }

    // Saves and gives the record as the server stored it.
    Record save(const Record &record)
    {
        const auto result = modify({record});
        EXPECT_TRUE(result.ok());
        EXPECT_EQ(result.ok() ? result.value().savedRecords.size() : -1, 1);
        return result.ok() ? result.value().savedRecords.value(0, record) : record;
    }

    CloudResult<ZoneChanges> zoneChanges(const QByteArray &token, int limit = 0, const CloudAccount *as = nullptr)
    {
        return await<ZoneChanges>(
            [&](auto done) { cloud->database().fetchZoneChanges(as ? *as : account, kZone, token, limit, done); });
    }

    CloudResult<DatabaseChanges> databaseChanges(const QByteArray &token)
    {
        return await<DatabaseChanges>([&](auto done) { cloud->database().fetchDatabaseChanges(account, token, done); });
    }

    std::optional<Record> serverRecord(const QString &name, const CloudAccount *as = nullptr)
    {
        const auto all = zoneChanges({}, 0, as);
        if (!all.ok())
            return std::nullopt;
        for (const Record &record : all.value().modifications) {
            if (record.recordID().recordName == name)
                return record;
        }
        return std::nullopt;
    }

    std::unique_ptr<CloudUnderTest> cloud;
    CloudAccount account;
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
    EXPECT_EQ(serverRecord("A")->stringValue("title"), "two");

    // A new record whose name is taken is a conflict too.
    const auto taken = modify({makeRecord("A", "fresh")});
    EXPECT_EQ(taken.value().failedRecordSaves.at(0).error.code(), CloudError::Code::serverRecordChanged);
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
    EXPECT_EQ(modify({saved}).value().failedRecordSaves.at(0).error.code(), CloudError::Code::unknownItem);
    EXPECT_EQ(modify({}, {idOf("A")}).value().deletedRecordIDs, QList{idOf("A")});
    // As a new record it is welcome again.
    EXPECT_EQ(save(makeRecord("A", "again")).stringValue("title"), "again");
}

TEST_P(CloudContractTest, ZoneChangesComeInOrderWithTombstonesAndPages)
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
    EXPECT_EQ(rest.value().deletions[0], (RecordDeletion{idOf("A"), "DayItem"}));
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
    EXPECT_EQ(modify({makeRecord("B", "b")}).value().failedRecordSaves.at(0).error.code(),
              CloudError::Code::zoneNotFound);

    // Made again, it is a new zone: an old token of it starts over and the old records are gone.
    zones({kZone}, {});
    const auto again = databaseChanges(changes.value().changeToken);
    EXPECT_EQ(again.value().modifiedZones, QList{kZone});
    EXPECT_TRUE(zoneChanges(zoneToken).value().modifications.isEmpty());
    EXPECT_TRUE(zoneChanges(zoneToken).value().deletions.isEmpty());
}

TEST_P(CloudContractTest, AccountsAreSeparateAndTokensAreChecked)
{
    const CloudAccount bert = cloud->addAccount("bert");
    save(makeRecord("A", "anna's"));
    EXPECT_EQ(modify({makeRecord("A", "bert's")}, {}, &bert).value().failedRecordSaves.at(0).error.code(),
              CloudError::Code::zoneNotFound);
    zones({kZone}, {}, &bert);
    EXPECT_TRUE(modify({makeRecord("A", "bert's")}, {}, &bert).value().failedRecordSaves.isEmpty());
    EXPECT_EQ(serverRecord("A")->stringValue("title"), "anna's");
    EXPECT_EQ(serverRecord("A", &bert)->stringValue("title"), "bert's");

    CloudAccount forged = bert;
    forged.token = "guess";
    EXPECT_EQ(modify({}, {idOf("A")}, &forged).error().code(), CloudError::Code::notAuthenticated);
    cloud->revokeTokens("bert");
    EXPECT_EQ(modify({}, {idOf("A")}, &bert).error().code(), CloudError::Code::notAuthenticated);
    EXPECT_EQ(zoneChanges({}, 0, &bert).error().code(), CloudError::Code::notAuthenticated);
    EXPECT_EQ(serverRecord("A")->stringValue("title"), "anna's");
}

TEST_P(CloudContractTest, ChangesAreAnnouncedToTheirUserOnly)
{
    const CloudAccount bert = cloud->addAccount("bert");
    QSignalSpy annaHears(cloud->watch(account), &CloudDatabase::databaseChanged);
    QSignalSpy bertHears(cloud->watch(bert), &CloudDatabase::databaseChanged);
    annaHears.clear();
    bertHears.clear();

    const auto heard = [](const QSignalSpy &spy, const QString &user) {
        return std::count_if(spy.begin(), spy.end(), [&](const auto &signal) { return signal.at(1) == user; });
    };
    save(makeRecord("A", "a"));
    ASSERT_TRUE(waitFor([&] { return heard(annaHears, "anna") > 0; }));
    // Bert's own change reaches him; anna's, announced before it on the same channel, would have come first.
    zones({kZone}, {}, &bert);
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
