// The server's own promises beyond the cloud's rules: who may see what, what it refuses, and its command line.
#include "SyncKit/CloudProtocol.h"
#include "SyncKit/HttpCloud.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/PostgresCluster.h"
#include "tests/Cloud/RawHttp.h"
#include "tests/WaitFor.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QWebSocket>

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
        for (const QByteArray &token : {QByteArray(), QByteArray("guess"), revoked}) {
            const Answer answer = post(path, body, token);
            EXPECT_EQ(answer.status, 401) << path << " with " << token.constData();
            EXPECT_FALSE(answer.body.contains("secret"));
        }
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
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1%2").arg(server.port()).arg(CloudProtocol::kPushPath));

    for (const QByteArray &hello : {QByteArray("not json"), CloudProtocol::pushHello("guess"),
                                    CloudProtocol::pushHello(QString::fromLatin1(revoked))}) {
        QWebSocket socket;
        QStringList messages;
        QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString &m) { messages << m; });
        QObject::connect(&socket, &QWebSocket::connected, [&] { socket.sendTextMessage(QString::fromUtf8(hello)); });
        socket.open(url);
        ASSERT_TRUE(waitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; })) << hello.constData();
        EXPECT_TRUE(messages.isEmpty()) << hello.constData();
        EXPECT_EQ(int(socket.closeCode()), CloudProtocol::kPushRejected);
    }

    QWebSocket socket;
    QStringList messages;
    QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString &m) { messages << m; });
    QObject::connect(&socket, &QWebSocket::connected,
                     [&] { socket.sendTextMessage(QString::fromUtf8(CloudProtocol::pushHello(anna))); });
    socket.open(url);
    ASSERT_TRUE(waitFor([&] { return messages.size() == 1; }));
    post(CloudProtocol::kModifyRecordsPath, json({{"saves", QJsonArray{recordJson("A", "secret")}}}), anna);
    ASSERT_TRUE(waitFor([&] { return messages.size() == 2; }));
    EXPECT_EQ(messages, QStringList({CloudProtocol::kPushReady, CloudProtocol::kPushChanged}));
}

TEST_F(CloudServerTest, HostileRequestsAreRefusedAndTheServerKeepsServing)
{
    QJsonArray tooMany;
    for (int i = 0; i <= CloudProtocol::kMaxChangesPerRequest; ++i)
        tooMany.append(QJsonObject{{"zone", "Vellora"}, {"owner", "o"}, {"record", QString::number(i)}});
    const struct
    {
        const char *what;
        const char *path;
        QByteArray body;
        int status;
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
        {"huge limit", CloudProtocol::kZoneChangesPath,
         R"({"zone":{"zone":"Vellora","owner":"__defaultOwner__"},"limit":1e308})", 400},
        {"negative limit", CloudProtocol::kZoneChangesPath,
         R"({"zone":{"zone":"Vellora","owner":"__defaultOwner__"},"limit":-1})", 400},
        {"fractional limit", CloudProtocol::kZoneChangesPath,
         R"({"zone":{"zone":"Vellora","owner":"__defaultOwner__"},"limit":2.5})", 400},
        {"deep nesting", CloudProtocol::kModifyRecordsPath, "{\"saves\":" + QByteArray(200000, '[') + "]}", 400},
        {"too many changes", CloudProtocol::kModifyRecordsPath, json({{"deletes", tooMany}}), 413},
        {"body too large", CloudProtocol::kModifyZonesPath,
         "{\"x\":\"" + QByteArray(CloudProtocol::kMaxBodyBytes, 'x') + "\"}", 413},
    };
    for (const auto &c : cases) {
        const Answer answer = post(c.path, c.body, anna);
        EXPECT_EQ(answer.status, c.status) << c.what << ": " << answer.body.left(200).constData();
        EXPECT_TRUE(CloudProtocol::errorFromJson(QJsonDocument::fromJson(answer.body).object().value("error")))
            << c.what;
    }
    // A declared length over the limit is refused before the body is read as JSON.
    const Answer declared = rawRequest(server.port(), CloudProtocol::kDatabaseChangesPath, "{}", anna,
                                       "Content-Length: 99999999999999999999999\r\n");
    EXPECT_GE(declared.status, 400);
    EXPECT_LT(declared.status, 500);

    // One record too large fails alone, with its name; the others in the request are saved.
    QJsonObject large = recordJson("L", QString(CloudProtocol::kMaxRecordBytes, QLatin1Char('x')));
    const Answer mixed =
        post(CloudProtocol::kModifyRecordsPath, json({{"saves", QJsonArray{large, recordJson("S", "small")}}}), anna);
    ASSERT_EQ(mixed.status, 200);
    const auto result = CloudProtocol::modifyRecordsResult(QJsonDocument::fromJson(mixed.body).object());
    ASSERT_TRUE(result);
    EXPECT_EQ(result->savedRecords.size(), 1);
    ASSERT_EQ(result->failedRecordSaves.size(), 1);
    EXPECT_EQ(result->failedRecordSaves[0].error.code(), CloudError::Code::limitExceeded);
    EXPECT_TRUE(serving());

    // The refusals are counted by kind for the machine's monitoring.
    const Answer metrics = rawRequest(server.port(), "/metrics", {}, {}, {}, "GET");
    EXPECT_EQ(metrics.status, 200);
    for (const char *line :
         {"vellora_cloud_errors_total{kind=\"badRequest\"} 11", "vellora_cloud_errors_total{kind=\"tooManyChanges\"} 1",
          "vellora_cloud_errors_total{kind=\"bodyTooLarge\"} 2"})
        EXPECT_TRUE(metrics.body.contains(line)) << line << "\n" << metrics.body.constData();
}

TEST(CloudServerRateTest, RequestsOverTheRateWaitForTheServersWord)
{
    CloudServerProcess server({"--rate-limit", "1/3"});
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    const QByteArray token = server.addUser("anna").toLatin1();
    Answer limited;
    for (int i = 0; i < 10 && limited.status != 429; ++i)
        limited = rawRequest(server.port(), CloudProtocol::kDatabaseChangesPath, "{}", token);
    ASSERT_EQ(limited.status, 429);
    EXPECT_GE(limited.retryAfter.toInt(), 1);
    EXPECT_TRUE(limited.body.contains("rateLimited"));

    // The client waits as told and tries again, rather than failing at once.
    HttpCloud cloud(CloudAccount{server.url(), {}, {}});
    std::optional<CloudResult<DatabaseChanges>> out;
    cloud.fetchDatabaseChanges(CloudAccount{server.url(), "anna", QString::fromLatin1(token)}, {},
                               [&](auto result) { out = result; });
    ASSERT_TRUE(waitFor([&] { return out.has_value(); }));
    EXPECT_TRUE(out->ok()) << out->error().description().toStdString();
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

    const QFileInfo folder(server.dataFolder());
    const QFileInfo file(server.dataFolder() + "/vellora-cloud.sqlite");
    const auto others =
        QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    EXPECT_EQ(file.permissions() & others, 0);
    EXPECT_EQ(folder.permissions() & others, 0);
    EXPECT_TRUE(server.command({"user", "list"}).second.startsWith("anna\t2 tokens"));

    EXPECT_EQ(server.command({"token", "revoke", token.trimmed()}).second, "revoked 1 token\n");
    EXPECT_NE(server.command({"token", "revoke", token.trimmed()}).first, 0);
    EXPECT_EQ(server.command({"user", "remove", "anna"}).second, "removed user anna: 0 zones, 0 records, 1 tokens\n");
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
    std::optional<CloudResult<DatabaseChanges>> out;
    cloud.fetchDatabaseChanges(account, {}, [&](auto result) { out = result; });
    ASSERT_TRUE(waitFor([&] { return out.has_value(); }));
    ASSERT_FALSE(out->ok());
    EXPECT_EQ(out->error().code(), CloudError::Code::networkFailure);

    ASSERT_TRUE(server.start()) << server.error().toStdString();
    ASSERT_TRUE(waitFor([&] { return cloud.isPushConnected() && changed.size() == 2; }));
    std::optional<CloudResult<ModifyZonesResult>> made;
    cloud.modifyZones(account, {RecordZoneID{"Vellora"}}, {}, [&](auto result) { made = result; });
    ASSERT_TRUE(waitFor([&] { return made.has_value() && changed.size() == 3; }));
    EXPECT_TRUE(made->ok());
    EXPECT_EQ(changed.last().at(0).toString(), account.server);
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
    int answers = 0;
    writer.modifyZones(elsewhere, {RecordZoneID{"Vellora"}}, {}, [&](auto result) { answers += result.ok(); });
    ASSERT_TRUE(waitFor([&] { return answers == 1 && heard(1); }));

    // Notices sent while a process does not listen are lost to it: once it listens again, it tells everyone, and
    // later changes reach the devices of both processes again.
    ASSERT_TRUE(cluster->sql(QUrl(database).path().mid(1), "SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                                                           " WHERE application_name = 'vellora-cloud-listener'"));
    ASSERT_TRUE(waitFor([&] { return heard(2); }));
    writer.modifyZones(elsewhere, {RecordZoneID{"Other"}}, {}, [&](auto result) { answers += result.ok(); });
    ASSERT_TRUE(waitFor([&] { return answers == 2 && heard(3); }));
}

namespace {

template<typename T, typename Call> std::optional<CloudResult<T>> await(Call call)
{
    std::optional<CloudResult<T>> out;
    call([&](CloudResult<T> result) { out = std::move(result); });
    waitFor([&] { return out.has_value(); });
    return out;
}

} // namespace

TEST(CloudServerBackupTest, ARestoredServerSendsDevicesOfAnEarlierLifeToStartOver)
{
    CloudServerProcess server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    const CloudAccount anna{server.url(), "anna", server.addUser("anna")};
    HttpCloud cloud(CloudAccount{server.url(), {}, {}});
    const RecordZoneID zone{"Vellora"};
    const auto save = [&](const Record &record) {
        const auto result =
            await<ModifyRecordsResult>([&](auto done) { cloud.modifyRecords(anna, {record}, {}, done); });
        return result && result->ok() ? result->value() : ModifyRecordsResult{};
    };
    const auto refusal = [](const auto &result) {
        return result && !result->ok() ? std::optional(result->error().code()) : std::nullopt;
    };
    ASSERT_TRUE(await<ModifyZonesResult>([&](auto done) { cloud.modifyZones(anna, {zone}, {}, done); })->ok());
    Record kept(QStringLiteral("DayItem"), RecordID{"kept", zone});
    kept = save(kept).savedRecords.value(0);
    ASSERT_FALSE(kept.recordChangeTag().isEmpty());

    const QString backup = server.dataFolder() + "/backup.sqlite";
    ASSERT_EQ(server.command({"backup", backup}).first, 0);
    EXPECT_NE(server.command({"restore", backup}).first, 0) << "restored under a running server";
    // After the backup: an edit of the kept record, a new record, and tokens that cover both.
    Record edited = kept;
    edited.setValue("title", QStringLiteral("after the backup"));
    edited = save(edited).savedRecords.value(0);
    const Record lost = save(Record(QStringLiteral("DayItem"), RecordID{"lost", zone})).savedRecords.value(0);
    const auto zoneToken = await<ZoneChanges>([&](auto done) { cloud.fetchZoneChanges(anna, zone, {}, 0, done); });
    const auto databaseToken = await<DatabaseChanges>([&](auto done) { cloud.fetchDatabaseChanges(anna, {}, done); });
    ASSERT_TRUE(zoneToken && zoneToken->ok() && databaseToken && databaseToken->ok());

    server.stop();
    const auto [status, said] = server.command({"restore", backup});
    ASSERT_EQ(status, 0);
    EXPECT_TRUE(said.startsWith("restored 1 users")) << said.toStdString();
    ASSERT_TRUE(server.start()) << server.error().toStdString();

    // Whatever carries a token or tag of the earlier life is refused whole: the device may hold what the restore
    // lost, so it must start over and send it rather than be served from the beginning.
    const std::optional<CloudError::Code> refusals[] = {
        refusal(await<ZoneChanges>([&](auto done) {
            cloud.fetchZoneChanges(anna, zone, zoneToken->value().changeToken, 0, done);
        })),
        refusal(await<DatabaseChanges>([&](auto done) {
            cloud.fetchDatabaseChanges(anna, databaseToken->value().changeToken, done);
        })),
        refusal(await<ModifyRecordsResult>([&](auto done) {
            cloud.modifyRecords(anna, {Record(QStringLiteral("DayItem"), RecordID{"new", zone}), edited}, {}, done);
        })),
    };
    for (const auto &code : refusals)
        EXPECT_EQ(code, CloudError::Code::resetRequired);

    // Nothing of the refused save was stored; without their old tags the records go as new ones.
    const auto after = await<ZoneChanges>([&](auto done) { cloud.fetchZoneChanges(anna, zone, {}, 0, done); });
    ASSERT_TRUE(after && after->ok());
    ASSERT_EQ(after->value().modifications.size(), 1);
    EXPECT_EQ(after->value().modifications[0].stringValue("title"), std::nullopt);
    EXPECT_EQ(save(Record(QStringLiteral("DayItem"), lost.recordID())).savedRecords.size(), 1);
}
