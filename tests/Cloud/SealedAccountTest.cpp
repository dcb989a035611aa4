// An account's key box on the server, and what a sealed account refuses: on SQLite and PostgreSQL alike.
#include "SyncKit/CloudProtocol.h"
#include "SyncKit/RecordSeal.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/PostgresCluster.h"
#include "tests/Cloud/RawHttp.h"
#include "tests/WaitFor.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>

#include <gtest/gtest.h>

using namespace SyncKit;
using namespace SyncKit::CloudProtocol;

namespace {

KeyBox boxOf(const AccountKey &key, const QString &passphrase)
{
    return KeyBox::wrap(key, passphrase, PassphraseCost::minimum()).value();
}

QByteArray boxRequest(const KeyBox &box, const std::optional<KeyBox> &replacing)
{
    return compactJson(KeyBoxRequest{box, replacing ? std::optional(replacing->salt) : std::nullopt}.toJson());
}

const RecordZoneID kZone{QStringLiteral("Vellora")};

Record plainRecord(const QString &name)
{
    Record record(QStringLiteral("DayItem"), RecordID{name, kZone});
    record.setValue("title", QStringLiteral("private words"));
    return record;
}

// Posts all the requests at once, each on a connection of its own, to the ports given: the statuses, in order.
QList<int> postAtOnce(const QList<std::pair<quint16, QByteArray>> &requests, const QByteArray &token)
{
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (const auto &[port, body] : requests) {
        auto &socket = sockets.emplace_back(std::make_unique<QTcpSocket>());
        socket->connectToHost(QStringLiteral("127.0.0.1"), port);
        socket->waitForConnected(10000);
    }
    for (qsizetype i = 0; i < requests.size(); ++i) {
        const QByteArray &body = requests[i].second;
        sockets[i]->write(QByteArray("POST ") + kAccountKeyPath +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + token +
                          "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }
    QList<QByteArray> received(requests.size());
    waitFor([&] {
        bool all = true;
        for (qsizetype i = 0; i < requests.size(); ++i) {
            received[i] += sockets[i]->readAll();
            all = all && received[i].contains("\r\n\r\n");
        }
        return all;
    });
    QList<int> statuses;
    for (const QByteArray &answer : received)
        statuses.append(answer.startsWith("HTTP/1.1 ") ? answer.mid(9, 3).toInt() : 0);
    return statuses;
}

enum class Storage { sqlite, postgresql };

class SealedAccountTest : public testing::TestWithParam<Storage>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(cryptoReady());
        if (GetParam() == Storage::postgresql) {
            database = PostgresCluster::newSharedDatabase();
            ASSERT_FALSE(database.isEmpty());
        }
        server = std::make_unique<CloudServerProcess>(QStringList{}, database);
        ASSERT_TRUE(server->start()) << server->error().toStdString();
        anna = server->addUser("anna").toLatin1();
        bert = server->addUser("bert").toLatin1();
        for (const QByteArray &token : {anna, bert})
            ASSERT_EQ(post(kModifyZonesPath, compactJson({{"saves", QJsonArray{kZone.toJson()}}}), token).status, 200);
    }

    Answer post(const char *path, const QByteArray &body, const QByteArray &token)
    {
        return rawRequest(server->port(), path, body, token);
    }
    Answer getBox(const QByteArray &token) { return rawRequest(server->port(), kAccountKeyPath, {}, token, {}, "GET"); }
    std::optional<KeyBox> storedBox(const QByteArray &token)
    {
        const Answer answer = getBox(token);
        EXPECT_EQ(answer.status, 200);
        return keyBoxOfAnswer(parse(answer.body)).value_or(std::nullopt);
    }
    Answer modify(const QList<Record> &saves, const QList<Record> &deletes = {})
    {
        return post(kModifyRecordsPath, compactJson(ModifyRecordsRequest::toJson(saves, deletes)), anna);
    }
    // The names of anna's live records and of her tombstones, as a device fetching from the start would see them.
    QStringList recordNames()
    {
        const Answer answer = post(kZoneChangesPath, compactJson({{"zone", kZone.toJson()}}), anna);
        QStringList names;
        for (const QJsonValue &record : parse(answer.body).value("modifications").toArray())
            names << record.toObject().value("id").toObject().value("record").toString();
        return names;
    }

    QString database;
    std::unique_ptr<CloudServerProcess> server;
    QByteArray anna;
    QByteArray bert;
    const AccountKey key = AccountKey::generate();
};

} // namespace

// The box is the user's own; a new one is taken only over the box it names and with the same key inside.
TEST_P(SealedAccountTest, AKeyBoxIsReplacedOnlyOverTheCurrentOneAndWithTheSameKey)
{
    const KeyBox first = boxOf(key, "first passphrase");
    const KeyBox second = boxOf(key, "second passphrase");
    const KeyBox stranger = boxOf(AccountKey::generate(), "first passphrase");
    EXPECT_EQ(storedBox(anna), std::nullopt);
    for (const QByteArray &token : {QByteArray(), QByteArray("guess")}) {
        EXPECT_EQ(getBox(token).status, 401);
        EXPECT_EQ(post(kAccountKeyPath, boxRequest(first, std::nullopt), token).status, 401);
    }

    const struct
    {
        const char *what;
        QByteArray body;
        int status;
        QString name;
        std::optional<KeyBox> stored; // what the account holds afterwards
    } steps[] = {
        {"not a box", R"({"keyBox":{"version":1},"replaces":null})", 400, "badRequest", std::nullopt},
        {"the first box", boxRequest(first, std::nullopt), 200, {}, first},
        {"another first box", boxRequest(second, std::nullopt), kKeyBoxChangedStatus, kKeyBoxChanged, first},
        {"replacing a box that is not the current one", boxRequest(second, stranger), kKeyBoxChangedStatus,
         kKeyBoxChanged, first},
        {"another key over the current box", boxRequest(stranger, first), 403, kOtherKey, first},
        {"a new passphrase over the current box", boxRequest(second, first), 200, {}, second},
        {"over the box it replaced", boxRequest(first, first), kKeyBoxChangedStatus, kKeyBoxChanged, second},
    };
    for (const auto &step : steps) {
        const Answer answer = post(kAccountKeyPath, step.body, anna);
        EXPECT_EQ(answer.status, step.status) << step.what << ": " << answer.body.constData();
        EXPECT_EQ(errorName(answer), step.name) << step.what;
        EXPECT_EQ(storedBox(anna), step.stored) << step.what;
    }
    EXPECT_EQ(storedBox(bert), std::nullopt);
}

// Two computers set the account's first box at the same moment (on two server processes, with PostgreSQL): one
// box is stored, and every other computer is told that the account's box changed, so that it unwraps that one.
TEST_P(SealedAccountTest, OfComputersSettingTheFirstBoxAtOnceOneWins)
{
    std::unique_ptr<CloudServerProcess> second;
    quint16 otherPort = server->port();
    if (GetParam() == Storage::postgresql) {
        second = std::make_unique<CloudServerProcess>(QStringList{}, database);
        ASSERT_TRUE(second->start()) << second->error().toStdString();
        otherPort = second->port();
    }
    QList<KeyBox> boxes;
    QList<std::pair<quint16, QByteArray>> requests;
    for (int i = 0; i < 8; ++i) {
        boxes.append(boxOf(AccountKey::generate(), "a passphrase"));
        requests.append({i % 2 ? otherPort : server->port(), boxRequest(boxes.last(), std::nullopt)});
    }
    const QList<int> statuses = postAtOnce(requests, anna);
    ASSERT_EQ(statuses.count(200), 1) << testing::PrintToString(std::vector<int>(statuses.begin(), statuses.end()));
    EXPECT_EQ(statuses.count(kKeyBoxChangedStatus), statuses.size() - 1);
    EXPECT_EQ(storedBox(anna), boxes[statuses.indexOf(200)]);
}

// Once the account has a box, a request that would put anything readable on the server is refused whole; what is
// sealed, and an older device's bare tombstone, still go through. Before the box, plain records are taken as ever.
TEST_P(SealedAccountTest, ASealedAccountRefusesEveryReadableRecordAndTakesSealedOnes)
{
    const Answer made = modify({plainRecord("old")});
    ASSERT_EQ(made.status, 200) << "an account without a box takes plain records";
    const Record old = modifyRecordsResult(parse(made.body)).value().savedRecords.value(0);
    ASSERT_EQ(modify({plainRecord("bare")}).status, 200);
    ASSERT_EQ(post(kAccountKeyPath, boxRequest(boxOf(key, "a passphrase"), std::nullopt), anna).status, 200);

    const auto sealed = [&](const QString &name) {
        return RecordSeal::seal(plainRecord(name), key, RecordSeal::Kind::save);
    };
    Record typedTombstone(QStringLiteral("DayItem"), old.recordID());
    typedTombstone.setSystemFields(old.recordChangeTag(), std::nullopt, std::nullopt);
    typedTombstone.setValue("deleted", QStringLiteral("2026-12-08T03:00:00Z"));
    const Record sealedTombstone = RecordSeal::seal(typedTombstone, key, RecordSeal::Kind::tombstone);
    Record twoFields = sealed("two");
    twoFields.setValue("title", QStringLiteral("beside the seal"));
    const QList<Record> none;
    const struct
    {
        const char *what;
        QList<Record> saves;
        QList<Record> deletes;
        bool taken;
    } cases[] = {
        {"a plain save beside a sealed one", {sealed("s1"), plainRecord("p1")}, none, false},
        {"a sealed value beside a readable field", {twoFields}, none, false},
        {"a plain typed tombstone beside a sealed save", {sealed("s1")}, {typedTombstone}, false},
        {"a sealed save", {sealed("s1")}, none, true},
        {"a sealed tombstone", none, {sealedTombstone}, true},
        {"an older device's bare tombstone", none, {Record(QString(), RecordID{"bare", kZone})}, true},
    };
    for (const auto &c : cases) {
        const QStringList before = recordNames();
        const Answer answer = modify(c.saves, c.deletes);
        EXPECT_EQ(answer.status, c.taken ? 200 : 403) << c.what << ": " << answer.body.constData();
        if (c.taken) {
            EXPECT_NE(recordNames(), before) << c.what;
            continue;
        }
        EXPECT_EQ(recordNames(), before) << c.what << ": nothing applied";
        const auto error = errorFromJson(parse(answer.body).value("error"));
        ASSERT_TRUE(error) << c.what;
        EXPECT_EQ(error->code(), CloudError::Code::invalidArguments) << c.what;
        EXPECT_EQ(errorName(answer), kPlainRecordRefused) << c.what;
        EXPECT_TRUE(error->message().contains("update Vellora")) << c.what;
    }
    // Another user's account is not sealed by anna's box.
    EXPECT_EQ(post(kModifyRecordsPath, compactJson(ModifyRecordsRequest::toJson({plainRecord("b")}, {})), bert).status, 200);
}

INSTANTIATE_TEST_SUITE_P(Storages, SealedAccountTest, testing::Values(Storage::sqlite, Storage::postgresql),
                         [](const auto &info) { return info.param == Storage::sqlite ? "Sqlite" : "Postgresql"; });

// The command line: who is encrypted, a reset that lets the person start again, and backups that keep the boxes.
TEST(SealedAccountCommandTest, TheListMarksEncryptedUsersResetForgetsTheBoxAndBackupsKeepIt)
{
    ASSERT_TRUE(cryptoReady());
    CloudServerProcess server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    const QByteArray anna = server.addUser("anna").toLatin1();
    const QByteArray bert = server.addUser("bert").toLatin1();
    const KeyBox box = boxOf(AccountKey::generate(), "a passphrase");
    for (const QByteArray &token : {anna, bert})
        ASSERT_EQ(rawRequest(server.port(), kAccountKeyPath, boxRequest(box, std::nullopt), token).status, 200);
    const auto boxOfUser = [&](const QByteArray &token) {
        const Answer answer = rawRequest(server.port(), kAccountKeyPath, {}, token, {}, "GET");
        return keyBoxOfAnswer(parse(answer.body)).value_or(std::nullopt);
    };
    const QString backup = QDir(server.dataFolder()).filePath("backup.sqlite");
    ASSERT_EQ(server.command({"backup", backup}).first, 0);

    ASSERT_EQ(server.command({"user", "reset", "anna", "--confirm"}).first, 0);
    EXPECT_EQ(boxOfUser(anna), std::nullopt) << "a reset forgets the box: the next computer makes a new key";
    EXPECT_EQ(boxOfUser(bert), box);
    const auto [listed, users] = server.command({"user", "list"});
    EXPECT_EQ(listed, 0);
    EXPECT_EQ(users.split('\n', Qt::SkipEmptyParts),
              QStringList({"anna\t1 tokens\t0 zones\t0 records\t0 changes\tplain",
                           "bert\t1 tokens\t0 zones\t0 records\t0 changes\tencrypted"}));

    server.stop();
    ASSERT_EQ(server.command({"restore", backup}).first, 0);
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    EXPECT_EQ(boxOfUser(anna), box) << "restored with the data";
    ASSERT_EQ(server.command({"user", "remove", "anna"}).first, 0);
    server.addUser("anna");
    EXPECT_TRUE(
        server.command({"user", "list"}).second.startsWith("anna\t1 tokens\t0 zones\t0 records\t0 changes\tplain"));
}
