#include "SyncKit/CloudAccount.h"
#include "SyncKit/CloudProtocol.h"
#include "SyncKit/RecordSeal.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/PostgresCluster.h"
#include "tests/Cloud/RawHttp.h"
#include "tests/cli/Computer.h"

#include "Vellora/Sync/ItemRecord.h"

#include <QDirIterator>
#include <QUuid>

// What the server keeps of an encrypted account, read from its own files: two computers signed in with a sync
// passphrase, a real vellora-cloud on SQLite or PostgreSQL, and the upgrade of an account the earlier version filled
// with readable records.

using namespace SyncKit;

namespace {

// A word no test data holds by chance: whoever finds it in the server's files read a title.
QString uniqueWord()
{
    return QStringLiteral("quokka") + QUuid::createUuid().toString(QUuid::Id128).left(12);
}

// The files under the folder whose bytes hold the text (as UTF-8), each named with its path.
QStringList filesHolding(const QString &folder, const QByteArray &text)
{
    QStringList found;
    QDirIterator files(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(text))
            found.append(file.fileName());
    }
    return found;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

enum class Storage { sqlite, postgresql };

class PrivateSyncTest : public testing::TestWithParam<Storage>
{
protected:
    void SetUp() override
    {
        if (GetParam() == Storage::postgresql) {
            cluster = PostgresCluster::shared();
            ASSERT_TRUE(cluster);
            database = cluster->newDatabase();
            ASSERT_FALSE(database.isEmpty());
        }
        server = std::make_unique<CloudServerProcess>(QStringList{}, database);
        ASSERT_TRUE(server->start()) << server->error().toStdString();
    }

    // Signs in with a new token of anna's and the sync passphrase, as the new version does.
    Outcome signIn(Computer &computer)
    {
        return computer.signIn(server->url(), "anna", server->addUser("anna"), "a sync passphrase of our own");
    }

    Outcome sync(Computer &computer) { return computer.run({"sync"}); }

    // The live records of anna's zone as the server hands them out, read without any key, or the changes since a
    // change token (tombstones come only then), and the token to go on from.
    struct Changes
    {
        QJsonArray records;
        QJsonArray tombstones;
        QByteArray token;
    };
    Changes recordsOnTheServer(const QByteArray &since = {})
    {
        const QJsonObject request = CloudProtocol::ZoneChangesRequest{syncZoneID(), since, 0}.toJson();
        const Answer answer = rawRequest(server->port(), CloudProtocol::kZoneChangesPath,
                                         compactJson(request),
                                         server->addUser("anna").toUtf8());
        EXPECT_EQ(answer.status, 200) << answer.body.toStdString();
        const QJsonObject changes = QJsonDocument::fromJson(answer.body).object();
        EXPECT_FALSE(changes.value("moreComing").toBool());
        return {changes.value("modifications").toArray(), changes.value("deletions").toArray(),
                changes.value("changeToken").toString().toLatin1()};
    }

    QByteArray backup()
    {
        if (cluster)
            return cluster->dump(database).value_or(QByteArray());
        const QString file = QDir(server->dataFolder()).filePath("backup.db");
        EXPECT_EQ(server->command({"backup", file}).first, 0);
        return fileBytes(file);
    }

    // The database's own files: the SQLite file and its write-ahead log, or the whole PostgreSQL cluster's folder,
    // its heap files written out first.
    QString databaseFiles()
    {
        if (!cluster)
            return server->dataFolder();
        EXPECT_TRUE(cluster->sql(database, "CHECKPOINT"));
        return cluster->folder();
    }

    PostgresCluster *cluster = nullptr;
    QString database;
    std::unique_ptr<CloudServerProcess> server;
};

// A title crosses from one computer to the other, and none of the server's files, its backup nor its log holds it;
// the record's name, which the server must see, is there, so the search did reach the data.
TEST_P(PrivateSyncTest, NothingOnTheServerHoldsATitle)
{
    Computer first, second;
    for (Computer *computer : {&first, &second}) {
        const Outcome signedIn = signIn(*computer);
        ASSERT_EQ(signedIn.exitCode, 0) << signedIn.err.toStdString();
    }
    const QByteArray word = uniqueWord().toUtf8();
    const QString title = QStringLiteral("Return the ") + QString::fromUtf8(word) + QStringLiteral(" to the zoo");
    const QString id = first.json({"add", title}).value("id").toString();
    ASSERT_FALSE(id.isEmpty());
    ASSERT_EQ(sync(first).exitCode, 0);
    const Outcome fetched = sync(second);
    ASSERT_EQ(fetched.exitCode, 0) << fetched.err.toStdString();
    EXPECT_TRUE(second.run({"today"}).out.contains(title));

    const QByteArray backedUp = backup();
    EXPECT_TRUE(backedUp.contains(id.toUtf8()));
    EXPECT_FALSE(backedUp.contains(word));
    // While the server runs (the write-ahead log still holding the last writes), and once it has stopped.
    for (const bool running : {true, false}) {
        if (!running)
            server->stop();
        EXPECT_FALSE(filesHolding(databaseFiles(), id.toUtf8()).isEmpty());
        EXPECT_EQ(filesHolding(databaseFiles(), word), QStringList());
    }
    EXPECT_FALSE(server->log().isEmpty());
    EXPECT_FALSE(server->log().contains(word));
}

// An account the earlier version filled with readable records: the first computer to sign in with the passphrase
// sends every item again sealed, the other finds them all once it signs in too, and a computer still without the key
// is refused, in words, before it can write a readable title into the account.
TEST_P(PrivateSyncTest, AnAccountWithReadableRecordsBecomesSealedWithoutLosingAnything)
{
    Computer first, second, stale;
    for (Computer *computer : {&first, &second, &stale}) // as the earlier version's sign-in left it: no key
        computer->writeAccount({server->url(), "anna", server->addUser("anna")});
    QStringList titles;
    QString deleted;
    for (int i = 0; i < 4; ++i) {
        const QString title = QStringLiteral("Readable task %1").arg(i);
        const QString id = first.json({"add", title}).value("id").toString();
        ASSERT_FALSE(id.isEmpty());
        if (i == 2)
            deleted = id;
        else
            titles.append(title);
    }
    ASSERT_EQ(sync(first).exitCode, 0);
    ASSERT_EQ(first.run({"delete", deleted}).exitCode, 0);
    ASSERT_EQ(second.run({"add", "Readable task from the second"}).exitCode, 0);
    titles.append("Readable task from the second");
    titles.sort();
    for (Computer *computer : {&first, &second, &first, &stale})
        ASSERT_EQ(sync(*computer).exitCode, 0);
    ASSERT_EQ(recordsOnTheServer().records.size(), titles.size());

    const Outcome upgraded = signIn(first);
    ASSERT_EQ(upgraded.exitCode, 0) << upgraded.err.toStdString();
    const Outcome sent = sync(first);
    ASSERT_EQ(sent.exitCode, 0) << sent.err.toStdString();
    const auto sealedOnTheServer = [&] {
        const Changes live = recordsOnTheServer();
        EXPECT_EQ(live.records.size(), titles.size());
        for (const QJsonValue &record : live.records)
            EXPECT_TRUE(RecordSeal::isSealedFields(record.toObject().value("fields").toObject()))
                << QJsonDocument(record.toObject()).toJson().toStdString();
    };
    sealedOnTheServer();
    const QByteArray sealedSince = recordsOnTheServer().token;

    const Outcome secondUpgraded = signIn(second);
    ASSERT_EQ(secondUpgraded.exitCode, 0) << secondUpgraded.err.toStdString();
    ASSERT_EQ(sync(second).exitCode, 0);
    for (Computer *computer : {&first, &second}) {
        EXPECT_EQ(computer->titles(), titles);
    }
    // A deletion made now leaves a sealed tombstone.
    const QString deletedSealed = second.json({"add", "Deleted once sealed"}).value("id").toString();
    ASSERT_EQ(sync(second).exitCode, 0);
    ASSERT_EQ(second.run({"delete", deletedSealed}).exitCode, 0);
    ASSERT_EQ(sync(second).exitCode, 0);

    ASSERT_EQ(stale.run({"add", "Readable again"}).exitCode, 0);
    const Outcome refused = sync(stale);
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_TRUE(refused.err.contains("update Vellora on this computer")) << refused.err.toStdString();
    EXPECT_TRUE(stale.titles().contains("Readable again"));
    sealedOnTheServer();
    int sealedTombstones = 0;
    for (const QJsonValue &tombstone : recordsOnTheServer(sealedSince).tombstones) {
        const QJsonObject record = tombstone.toObject();
        if (record.value("id").toObject().value("record") == deletedSealed)
            sealedTombstones += RecordSeal::isSealedFields(record.value("fields").toObject());
    }
    EXPECT_EQ(sealedTombstones, 1);
}

INSTANTIATE_TEST_SUITE_P(Databases, PrivateSyncTest, testing::Values(Storage::sqlite, Storage::postgresql),
                         [](const auto &info) { return info.param == Storage::sqlite ? "SQLite" : "PostgreSQL"; });

} // namespace
