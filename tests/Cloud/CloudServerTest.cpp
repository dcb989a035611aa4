// The server's own promises beyond the cloud's rules: who may see what, what it refuses, and its command line.
#include "SyncKit/CloudProtocol.h"
#include "SyncKit/HttpCloud.h"
#include "tests/Cloud/AwaitCloud.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/PostgresCluster.h"
#include "tests/Cloud/RawHttp.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QWebSocket>

#include <functional>

#include <gtest/gtest.h>

using namespace SyncKit;

namespace {

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

const QJsonObject kZone{{"zone", "Vellora"}, {"owner", "__defaultOwner__"}};

QJsonObject recordJson(const QString &name, const QString &title)
{
    return QJsonObject{{"type", "DayItem"},
                       {"id", QJsonObject{{"zone", "Vellora"}, {"owner", "__defaultOwner__"}, {"record", name}}},
                       {"fields", QJsonObject{{"title", QJsonObject{{"type", "text"}, {"value", title}}}}}};
}

class CloudServerTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start()) << server.error().toStdString();
        anna = server.addUser("anna").toLatin1();
        bert = server.addUser("bert").toLatin1();
        ASSERT_EQ(post(CloudProtocol::kModifyZonesPath, json({{"saves", QJsonArray{kZone}}}), anna).status, 200);
    }

    Answer post(const char *path, const QByteArray &body, const QByteArray &token = {})
    {
        return rawRequest(server.port(), path, body, token);
    }

    bool serving() { return post(CloudProtocol::kDatabaseChangesPath, "{}", anna).status == 200; }

    // Opens the push channel with this hello; the messages it hears until `until` holds for them or it closes.
    QStringList push(const QByteArray &hello, const std::function<bool(const QStringList &)> &until = {},
                     int *closeCode = nullptr)
    {
        QWebSocket socket;
        QStringList messages;
        QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString &m) { messages << m; });
        QObject::connect(&socket, &QWebSocket::connected, [&] { socket.sendTextMessage(QString::fromUtf8(hello)); });
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1%2").arg(server.port()).arg(CloudProtocol::kPushPath)));
        EXPECT_TRUE(waitFor([&] {
            return (until && until(messages)) || socket.state() == QAbstractSocket::UnconnectedState;
        }));
        if (closeCode)
            *closeCode = int(socket.closeCode());
        return messages;
    }

    CloudServerProcess server;
    QByteArray anna;
    QByteArray bert;
};

} // namespace

TEST_F(CloudServerTest, NoUserSeesAnotherOnAnyEndpoint)
{
    const QByteArray secret = "anna's secret";
    ASSERT_EQ(
        post(CloudProtocol::kModifyRecordsPath, json({{"saves", QJsonArray{recordJson("A", secret)}}}), anna).status,
        200);
    const QByteArray revoked = server.addUser("anna").toLatin1();
    ASSERT_EQ(server.command({"token", "revoke", QString::fromLatin1(revoked)}).first, 0);

    const QList<std::pair<const char *, QByteArray>> requests{
        {CloudProtocol::kModifyZonesPath, json({{"saves", QJsonArray{kZone}}})},
        {CloudProtocol::kModifyRecordsPath, json({{"saves", QJsonArray{recordJson("A", "bert's")}}})},
        {CloudProtocol::kDatabaseChangesPath, "{}"},
        {CloudProtocol::kZoneChangesPath, json({{"zone", kZone}})},
    };
    for (const auto &[path, body] : requests) {
        QList<QByteArray> refusals;
        for (const QByteArray &token : {QByteArray(), QByteArray("guess"), revoked}) {
            const Answer answer = post(path, body, token);
            EXPECT_EQ(answer.status, 401) << path << " with " << token.constData();
            EXPECT_FALSE(answer.body.contains("secret"));
            refusals.append(answer.body);
        }
        // A request without a token is told so, rather than that its token was wrong.
        EXPECT_NE(refusals[0], refusals[1]) << path;
        // Bert's token works on bert's own database only.
        EXPECT_FALSE(post(path, body, bert).body.contains("secret")) << path;
    }
    // The record bert saved went to his own zone, made a moment before.
    const Answer own = post(CloudProtocol::kZoneChangesPath, json({{"zone", kZone}}), bert);
    EXPECT_TRUE(own.body.contains("bert's"));
    EXPECT_TRUE(post(CloudProtocol::kZoneChangesPath, json({{"zone", kZone}}), anna).body.contains("secret"));
}

TEST_F(CloudServerTest, PushNeedsAValidTokenAndCarriesNoData)
{
    const QByteArray revoked = server.addUser("anna").toLatin1();
    ASSERT_EQ(server.command({"token", "revoke", QString::fromLatin1(revoked)}).first, 0);
    for (const QByteArray &hello : {QByteArray("not json"), CloudProtocol::pushHello("guess"),
                                    CloudProtocol::pushHello(QString::fromLatin1(revoked))}) {
        int closeCode = 0;
        EXPECT_TRUE(push(hello, {}, &closeCode).isEmpty()) << hello.constData();
        EXPECT_EQ(closeCode, CloudProtocol::kPushRejected) << hello.constData();
    }
    bool posted = false;
    const QStringList heard = push(CloudProtocol::pushHello(anna), [&](const QStringList &messages) {
        if (messages.size() == 1 && !std::exchange(posted, true))
            post(CloudProtocol::kModifyRecordsPath, json({{"saves", QJsonArray{recordJson("A", "secret")}}}), anna);
        return messages.size() == 2;
    });
    EXPECT_EQ(heard, QStringList({CloudProtocol::kPushReady, CloudProtocol::kPushChanged}));
}

TEST_F(CloudServerTest, HostileRequestsAreRefusedAndTheServerKeepsServing)
{
    QJsonArray tooMany;
    for (int i = 0; i <= CloudProtocol::kMaxChangesPerRequest; ++i)
        tooMany.append(QJsonObject{{"zone", "Vellora"}, {"owner", "o"}, {"record", QString::number(i)}});
    const QByteArray zone = R"("zone":{"zone":"Vellora","owner":"__defaultOwner__"})";
    // The cases with heads and no body: an answer at all shows that the server did not wait for a body.
    const struct
    {
        const char *what;
        const char *path;
        QByteArray body;
        int status;
        QByteArray headers = {};
    } cases[] = {
        {"cut JSON", CloudProtocol::kModifyZonesPath, R"({"saves":[{"zone":"Z")", 400},
        {"no object", CloudProtocol::kModifyZonesPath, "[]", 400},
        {"empty body", CloudProtocol::kDatabaseChangesPath, "", 400},
        {"list of the wrong type", CloudProtocol::kModifyZonesPath, R"({"saves":"Z"})", 400},
        {"record without identity", CloudProtocol::kModifyRecordsPath, R"({"saves":[{"type":5,"fields":{}}]})", 400},
        {"fields not an object", CloudProtocol::kModifyRecordsPath,
         R"({"saves":[{"type":"T","id":{"zone":"Vellora","owner":"__defaultOwner__","record":"A"},"fields":[]}]})",
         400},
        {"token of the wrong type", CloudProtocol::kDatabaseChangesPath, R"({"token":12})", 400},
        {"huge limit", CloudProtocol::kZoneChangesPath, "{" + zone + R"(,"limit":1e308})", 400},
        {"negative limit", CloudProtocol::kZoneChangesPath, "{" + zone + R"(,"limit":-1})", 400},
        {"fractional limit", CloudProtocol::kZoneChangesPath, "{" + zone + R"(,"limit":2.5})", 400},
        {"deep nesting", CloudProtocol::kModifyRecordsPath, "{\"saves\":" + QByteArray(200000, '[') + "]}", 400},
        {"too many changes", CloudProtocol::kModifyRecordsPath, json({{"deletes", tooMany}}), 413},
        {"body too large", CloudProtocol::kModifyZonesPath,
         "{\"x\":\"" + QByteArray(CloudProtocol::kMaxBodyBytes, 'x') + "\"}", 413},
        {"declared over the limit", CloudProtocol::kModifyRecordsPath, {}, 413,
         "Content-Length: " + QByteArray::number(CloudProtocol::kMaxBodyBytes + 1) + "\r\n"},
        {"declared beyond any number", CloudProtocol::kModifyRecordsPath, {}, 413,
         "Content-Length: 99999999999999999999999\r\n"},
        {"no length, chunks instead", CloudProtocol::kModifyRecordsPath, {}, 411, "Transfer-Encoding: chunked\r\n"},
        {"length given twice", CloudProtocol::kModifyRecordsPath, {}, 400,
         "Content-Length: 2\r\nContent-Length: 9000000\r\n"},
        {"length not a number", CloudProtocol::kModifyRecordsPath, {}, 400, "Content-Length: 2e9\r\n"},
        {"head without end", CloudProtocol::kModifyRecordsPath, {}, 431,
         "X-Padding: " + QByteArray(80 * 1024, 'x') + "\r\n"},
    };
    for (const auto &c : cases) {
        const Answer answer = rawRequest(server.port(), c.path, c.body, anna, c.headers);
        EXPECT_EQ(answer.status, c.status) << c.what << ": " << answer.body.left(200).constData();
        EXPECT_TRUE(CloudProtocol::errorFromJson(QJsonDocument::fromJson(answer.body).object().value("error")))
            << c.what;
    }

    // One record too large fails alone; the others in the request are saved.
    QJsonObject large = recordJson("L", QString(CloudProtocol::kMaxRecordBytes, QLatin1Char('x')));
    const Answer mixed =
        post(CloudProtocol::kModifyRecordsPath, json({{"saves", QJsonArray{large, recordJson("S", "small")}}}), anna);
    ASSERT_EQ(mixed.status, 200);
    const auto result = CloudProtocol::modifyRecordsResult(QJsonDocument::fromJson(mixed.body).object());
    ASSERT_TRUE(result);
    EXPECT_EQ(result->savedRecords.size(), 1);
    ASSERT_EQ(result->failedRecordSaves.size(), 1);
    EXPECT_EQ(result->failedRecordSaves[0].error.code(), CloudError::Code::limitExceeded);

    // Past a declared length of two bytes, the rest can only be the head of another request, and it never ends:
    // the connection ends refused, without gathering it.
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    ASSERT_TRUE(socket.waitForConnected(10000));
    const QByteArray request = QByteArray("POST ") + CloudProtocol::kDatabaseChangesPath +
                               " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + anna +
                               "\r\nContent-Length: 2\r\n\r\n{}" + QByteArray(8 * 1024 * 1024, 'x');
    ASSERT_EQ(socket.write(request), request.size());
    QByteArray received;
    ASSERT_TRUE(waitFor([&] {
        received += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }));
    EXPECT_TRUE(received.contains("HTTP/1.1 431")) << received.left(300).constData();
    EXPECT_TRUE(serving());
}

TEST(CloudServerCommandTest, UsersAndTokensAreManagedFromTheCommandLine)
{
    CloudServerProcess server;
    const auto [addStatus, token] = server.command({"user", "add", "anna"});
    ASSERT_EQ(addStatus, 0);
    // The token alone on one line, 32 random bytes in URL-safe base 64, for scripts to read.
    EXPECT_TRUE(QRegularExpression("^[A-Za-z0-9_-]{43}\n$").match(token).hasMatch()) << token.toStdString();
    EXPECT_NE(server.addUser("anna"), token.trimmed());
    EXPECT_NE(server.command({"user", "add", "../x"}).first, 0);
    const auto others =
        QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    EXPECT_EQ(QFileInfo(server.dataFolder() + "/vellora-cloud.sqlite").permissions() & others, 0);
    EXPECT_EQ(QFileInfo(server.dataFolder()).permissions() & others, 0);

    EXPECT_EQ(server.command({"token", "revoke", token.trimmed()}).first, 0);
    EXPECT_NE(server.command({"token", "revoke", token.trimmed()}).first, 0);
    EXPECT_EQ(server.command({"user", "remove", "anna"}).first, 0);
    EXPECT_NE(server.command({"user", "remove", "anna"}).first, 0);
    EXPECT_EQ(server.command({"user", "list"}).second, "");
}

TEST(HttpCloudTest, PushComesBackAfterTheServerDoesAndALostServerIsANetworkFailure)
{
    CloudServerProcess server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    const CloudAccount account{server.url(), "anna", server.addUser("anna")};
    HttpCloud::Timing timing;
    timing.pushRetryDelay = std::chrono::milliseconds(20);
    timing.maximumPushRetryDelay = std::chrono::milliseconds(200);
    HttpCloud cloud(account, timing);
    QSignalSpy changed(&cloud, &CloudDatabase::databaseChanged);
    // A connection is news in itself: changes may have come while the device was away.
    ASSERT_TRUE(waitFor([&] { return cloud.isPushConnected() && changed.size() == 1; }));

    server.stop();
    ASSERT_TRUE(waitFor([&] { return !cloud.isPushConnected(); }));
    const auto lost = awaitAnswer<DatabaseChanges>([&](auto done) { cloud.fetchDatabaseChanges(account, {}, done); });
    ASSERT_TRUE(lost && !lost->ok());
    EXPECT_EQ(lost->error().code(), CloudError::Code::networkFailure);

    ASSERT_TRUE(server.start()) << server.error().toStdString();
    ASSERT_TRUE(waitFor([&] { return cloud.isPushConnected() && changed.size() == 2; }));
    const auto made = awaitAnswer<ModifyZonesResult>(
        [&](auto done) { cloud.modifyZones(account, {RecordZoneID{"Vellora"}}, {}, done); });
    ASSERT_TRUE(made && made->ok());
    ASSERT_TRUE(waitFor([&] { return changed.size() == 3; }));
    EXPECT_EQ(changed.last().at(1).toString(), "anna");
}

TEST(CloudServerPostgresqlTest, PushCrossesServerProcessesAndOutlivesALostListener)
{
    PostgresCluster *cluster = PostgresCluster::shared();
    ASSERT_TRUE(cluster);
    const QString database = cluster->newDatabase();
    ASSERT_FALSE(database.isEmpty());
    CloudServerProcess first({}, database);
    CloudServerProcess second({}, database);
    ASSERT_TRUE(first.start()) << first.error().toStdString();
    ASSERT_TRUE(second.start()) << second.error().toStdString();

    // A device on each process, and a writer on the second.
    const QString token = first.addUser("anna");
    HttpCloud onFirst(CloudAccount{first.url(), "anna", token});
    HttpCloud onSecond(CloudAccount{second.url(), "anna", token});
    ASSERT_TRUE(waitFor([&] { return onFirst.isPushConnected() && onSecond.isPushConnected(); }));
    QSignalSpy heardOnFirst(&onFirst, &CloudDatabase::databaseChanged);
    QSignalSpy heardOnSecond(&onSecond, &CloudDatabase::databaseChanged);
    const auto heard = [&](qsizetype count) { return heardOnFirst.size() == count && heardOnSecond.size() == count; };
    const CloudAccount elsewhere{second.url(), "anna", token};
    HttpCloud writer(elsewhere);
    const auto makeZone = [&](const char *name) {
        return awaitAnswer<ModifyZonesResult>(
                   [&](auto done) { writer.modifyZones(elsewhere, {RecordZoneID{name}}, {}, done); })
            .value_or(CloudError(CloudError::Code::networkFailure))
            .ok();
    };
    ASSERT_TRUE(makeZone("Vellora"));
    ASSERT_TRUE(waitFor([&] { return heard(1); }));

    // Notices sent while a process does not listen are lost to it: once it listens again, it tells everyone, and
    // later changes reach the devices of both processes again.
    ASSERT_TRUE(cluster->sql(QUrl(database).path().mid(1), "SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                                                           " WHERE application_name = 'vellora-cloud-listener'"));
    ASSERT_TRUE(waitFor([&] { return heard(2); }));
    ASSERT_TRUE(makeZone("Other"));
    ASSERT_TRUE(waitFor([&] { return heard(3); }));
}

TEST(CloudServerBackupTest, ARestoredServerSendsDevicesOfAnEarlierLifeToStartOver)
{
    CloudServerProcess server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    const CloudAccount anna{server.url(), "anna", server.addUser("anna")};
    HttpCloud cloud(CloudAccount{server.url(), {}, {}});
    const RecordZoneID zone{"Vellora"};
    const auto modify = [&](const QList<Record> &records) {
        return awaitAnswer<ModifyRecordsResult>([&](auto done) { cloud.modifyRecords(anna, records, {}, done); });
    };
    const auto save = [&](const Record &record) {
        const auto result = modify({record});
        return result && result->ok() ? result->value().savedRecords.value(0) : Record();
    };
    const auto zoneChanges = [&](const QByteArray &token) {
        return awaitAnswer<ZoneChanges>([&](auto done) { cloud.fetchZoneChanges(anna, zone, token, 0, done); });
    };
    const auto databaseChanges = [&](const QByteArray &token) {
        return awaitAnswer<DatabaseChanges>([&](auto done) { cloud.fetchDatabaseChanges(anna, token, done); });
    };
    ASSERT_TRUE(awaitAnswer<ModifyZonesResult>([&](auto done) { cloud.modifyZones(anna, {zone}, {}, done); })->ok());
    const Record kept = save(Record(QStringLiteral("DayItem"), RecordID{"kept", zone}));
    ASSERT_FALSE(kept.recordChangeTag().isEmpty());

    const QString backup = server.dataFolder() + "/backup.sqlite";
    ASSERT_EQ(server.command({"backup", backup}).first, 0);
    EXPECT_NE(server.command({"restore", backup}).first, 0) << "restored under a running server";
    // After the backup: an edit of the kept record, a new record, and tokens that cover both.
    Record edited = kept;
    edited.setValue("title", QStringLiteral("after the backup"));
    edited = save(edited);
    const Record lost = save(Record(QStringLiteral("DayItem"), RecordID{"lost", zone}));
    const auto zoneToken = zoneChanges({});
    const auto databaseToken = databaseChanges({});
    ASSERT_TRUE(zoneToken && zoneToken->ok() && databaseToken && databaseToken->ok());

    server.stop();
    ASSERT_EQ(server.command({"restore", backup}).first, 0);
    ASSERT_TRUE(server.start()) << server.error().toStdString();

    // Whatever carries a token or tag of the earlier life is refused whole: the device may hold what the restore
    // lost, so it must start over and send it rather than be served from the beginning.
    const auto refusal = [](const auto &result) {
        return result && !result->ok() ? std::optional(result->error().code()) : std::nullopt;
    };
    EXPECT_EQ(refusal(zoneChanges(zoneToken->value().changeToken)), CloudError::Code::resetRequired);
    EXPECT_EQ(refusal(databaseChanges(databaseToken->value().changeToken)), CloudError::Code::resetRequired);
    EXPECT_EQ(refusal(modify({Record(QStringLiteral("DayItem"), RecordID{"new", zone}), edited})),
              CloudError::Code::resetRequired);

    // Nothing of the refused save was stored; without their old tags the records go as new ones.
    const auto after = zoneChanges({});
    ASSERT_TRUE(after && after->ok());
    ASSERT_EQ(after->value().modifications.size(), 1);
    EXPECT_EQ(after->value().modifications[0].stringValue("title"), std::nullopt);
    EXPECT_EQ(save(Record(QStringLiteral("DayItem"), lost.recordID())).recordID(), lost.recordID());
}
