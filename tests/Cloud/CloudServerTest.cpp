// The server's own promises beyond the cloud's rules: who may see what, what it refuses, how it guards its memory,
// its users' tokens and its TLS, and its command line.
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
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QWebSocket>

#include <functional>

#include <gtest/gtest.h>

using namespace SyncKit;

namespace {

const QJsonObject kZone{{"zone", "Vellora"}, {"owner", "__defaultOwner__"}};

QJsonObject recordJson(const QString &name, const QString &title)
{
    return QJsonObject{{"type", "DayItem"},
                       {"id", QJsonObject{{"zone", "Vellora"}, {"owner", "__defaultOwner__"}, {"record", name}}},
                       {"fields", QJsonObject{{"title", QJsonObject{{"type", "text"}, {"value", title}}}}}};
}

// Makes a zone through a client; the code of the failure, or none when it was made.
std::optional<CloudError::Code> makeZone(HttpCloud &cloud, const CloudAccount &account, const char *name = "Vellora")
{
    const auto made =
        awaitAnswer<ModifyZonesResult>([&](auto done) { cloud.modifyZones(account, {RecordZoneID{name}}, {}, done); });
    if (!made)
        return CloudError::Code::networkFailure;
    return made->ok() ? std::nullopt : std::optional(made->error().code());
}

class CloudServerTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start()) << server.error().toStdString();
        anna = server.addUser("anna").toLatin1();
        bert = server.addUser("bert").toLatin1();
        ASSERT_EQ(post(CloudProtocol::kModifyZonesPath, compactJson({{"saves", QJsonArray{kZone}}}), anna).status, 200);
    }

    Answer post(const char *path, const QByteArray &body, const QByteArray &token = {})
    {
        return rawRequest(server.port(), path, body, token);
    }

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

TEST_F(CloudServerTest, NoUserSeesAnotherOnAnyEndpointOrOnThePushChannel)
{
    const QByteArray secret = "anna's secret";
    ASSERT_EQ(
        post(CloudProtocol::kModifyRecordsPath, compactJson({{"saves", QJsonArray{recordJson("A", secret)}}}), anna).status,
        200);
    const QByteArray revoked = server.addUser("anna").toLatin1();
    ASSERT_EQ(server.command({"token", "revoke", QString::fromLatin1(revoked)}).first, 0);

    const QList<std::pair<const char *, QByteArray>> requests{
        {CloudProtocol::kModifyZonesPath, compactJson({{"saves", QJsonArray{kZone}}})},
        {CloudProtocol::kModifyRecordsPath, compactJson({{"saves", QJsonArray{recordJson("A", "bert's")}}})},
        {CloudProtocol::kDatabaseChangesPath, "{}"},
        {CloudProtocol::kZoneChangesPath, compactJson({{"zone", kZone}})},
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
    const Answer own = post(CloudProtocol::kZoneChangesPath, compactJson({{"zone", kZone}}), bert);
    EXPECT_TRUE(own.body.contains("bert's"));
    EXPECT_TRUE(post(CloudProtocol::kZoneChangesPath, compactJson({{"zone", kZone}}), anna).body.contains("secret"));

    // The push channel takes only a valid token, and says that something changed, never what.
    for (const QByteArray &hello : {QByteArray("not json"), CloudProtocol::pushHello("guess"),
                                    CloudProtocol::pushHello(QString::fromLatin1(revoked))}) {
        int closeCode = 0;
        EXPECT_TRUE(push(hello, {}, &closeCode).isEmpty()) << hello.constData();
        EXPECT_EQ(closeCode, CloudProtocol::kPushRejected) << hello.constData();
    }
    bool posted = false;
    const QStringList heard = push(CloudProtocol::pushHello(anna), [&](const QStringList &messages) {
        if (messages.size() == 1 && !std::exchange(posted, true))
            post(CloudProtocol::kModifyRecordsPath, compactJson({{"saves", QJsonArray{recordJson("B", "secret")}}}), anna);
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
        {"empty body", CloudProtocol::kDatabaseChangesPath, "", 400},
        {"list of the wrong type", CloudProtocol::kModifyZonesPath, R"({"saves":"Z"})", 400},
        {"record without identity", CloudProtocol::kModifyRecordsPath, R"({"saves":[{"type":5,"fields":{}}]})", 400},
        {"fields not an object", CloudProtocol::kModifyRecordsPath,
         R"({"saves":[{"type":"T","id":{"zone":"Vellora","owner":"__defaultOwner__","record":"A"},"fields":[]}]})",
         400},
        {"token of the wrong type", CloudProtocol::kDatabaseChangesPath, R"({"token":12})", 400},
        {"huge limit", CloudProtocol::kZoneChangesPath, "{" + zone + R"(,"limit":1e308})", 400},
        {"negative limit", CloudProtocol::kZoneChangesPath, "{" + zone + R"(,"limit":-1})", 400},
        {"deep nesting", CloudProtocol::kModifyRecordsPath, "{\"saves\":" + QByteArray(200000, '[') + "]}", 400},
        {"too many changes", CloudProtocol::kModifyRecordsPath, compactJson({{"deletes", tooMany}}), 413},
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
        post(CloudProtocol::kModifyRecordsPath, compactJson({{"saves", QJsonArray{large, recordJson("S", "small")}}}), anna);
    ASSERT_EQ(mixed.status, 200);
    const auto result = CloudProtocol::modifyRecordsResult(QJsonDocument::fromJson(mixed.body).object());
    ASSERT_TRUE(result);
    EXPECT_EQ(result->savedRecords.size(), 1);
    ASSERT_EQ(result->failedRecordSaves.size(), 1);
    EXPECT_EQ(result->failedRecordSaves[0].error.code(), CloudError::Code::limitExceeded);

    // Past a declared length of two bytes, the rest can only be the head of another request, and it never ends:
    // the connection ends refused, without gathering it.
    const auto received = rawExchange(server.port(), QByteArray("POST ") + CloudProtocol::kDatabaseChangesPath +
                                                         " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " +
                                                         anna + "\r\nContent-Length: 2\r\n\r\n{}" +
                                                         QByteArray(8 * 1024 * 1024, 'x'));
    ASSERT_TRUE(received) << "the connection stayed open";
    EXPECT_TRUE(received->contains("HTTP/1.1 431")) << received->left(300).constData();
    EXPECT_EQ(post(CloudProtocol::kDatabaseChangesPath, "{}", anna).status, 200);

    // Each body read gives its room back: one after another, more of the largest bodies than fit in flight at once
    // are all read.
    const QByteArray largest = "{\"pad\":\"" + QByteArray(CloudProtocol::kMaxBodyBytes - 10, 'x') + "\"}";
    ASSERT_EQ(largest.size(), CloudProtocol::kMaxBodyBytes);
    for (int i = 0; i < 20; ++i) // 80 MiB against 64 MiB in flight
        ASSERT_EQ(post(CloudProtocol::kDatabaseChangesPath, largest, anna).status, 200) << i;
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

    EXPECT_EQ(server.command({"token", "revoke", token.trimmed()}).first, 0);
    EXPECT_NE(server.command({"token", "revoke", token.trimmed()}).first, 0);
    EXPECT_EQ(server.command({"user", "remove", "anna"}).first, 0);
    EXPECT_NE(server.command({"user", "remove", "anna"}).first, 0);
    EXPECT_EQ(server.command({"user", "list"}).second, "");

    // A backup that cannot be opened is refused and leaves nothing behind.
    const QString broken = server.dataFolder() + "/broken.sqlite";
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("SQLite format 3\0", 16) + QByteArray(4096, '\x7f'));
    file.close();
    EXPECT_NE(server.command({"restore", broken}).first, 0);
    EXPECT_FALSE(QFileInfo::exists(server.dataFolder() + "/vellora-cloud.sqlite.restoring"));
    EXPECT_EQ(server.command({"user", "list"}).first, 0);

    const auto [helpStatus, help] = server.command({"--help"});
    EXPECT_EQ(helpStatus, 0);
    EXPECT_TRUE(help.startsWith("usage: vellora-cloud serve")) << help.toStdString();
}

TEST_F(CloudServerTest, PushComesBackAfterTheServerDoesAndALostServerIsANetworkFailure)
{
    const CloudAccount account{server.url(), "anna", QString::fromLatin1(anna)};
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
    ASSERT_EQ(makeZone(cloud, account, "Other"), std::nullopt);
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
    ASSERT_EQ(makeZone(writer, elsewhere), std::nullopt);
    ASSERT_TRUE(waitFor([&] { return heard(1); }));

    // Notices sent while a process does not listen are lost to it: once it listens again, it tells everyone, and
    // later changes reach the devices of both processes again.
    ASSERT_TRUE(cluster->sql(QUrl(database).path().mid(1), "SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                                                           " WHERE application_name = 'vellora-cloud-listener'"));
    ASSERT_TRUE(waitFor([&] { return heard(2); }));
    ASSERT_EQ(makeZone(writer, elsewhere, "Other"), std::nullopt);
    ASSERT_TRUE(waitFor([&] { return heard(3); }));
}

TEST(CloudServerPostgresqlTest, ThePasswordComesFromAFileOrFromLibpqsOwnPasswordFile)
{
    PostgresCluster *cluster = PostgresCluster::shared();
    ASSERT_TRUE(cluster);
    const QString database = cluster->newDatabaseWithPassword("keeper", "s3cret");
    ASSERT_FALSE(database.isEmpty());
    QTemporaryDir folder;
    const auto writeFile = [&](const char *name, const QByteArray &text) {
        QFile file(folder.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        return file.fileName();
    };
    const QString right = writeFile("right", "s3cret\n");
    const QString wrong = writeFile("wrong", "guess\n");
    const QString pgpass = writeFile("pgpass", "*:*:*:keeper:s3cret\n");
    const auto addUser = [&](const QStringList &extra, const QString &passFile = {}) {
        return runCloudCommand(QStringList{"user", "add", "anna", "--database", database} + extra,
                               {"PGPASSWORD=", "PGPASSFILE=" + (passFile.isEmpty() ? folder.filePath("none") : passFile)})
            .exitCode;
    };
    EXPECT_NE(addUser({}), 0);
    EXPECT_NE(addUser({"--database-password-file", wrong}), 0);
    EXPECT_NE(addUser({"--database-password-file", folder.filePath("missing")}), 0);
    EXPECT_EQ(addUser({"--database-password-file", right}), 0);
    EXPECT_EQ(addUser({}, pgpass), 0);
}

TEST(ServerTlsTest, ADeviceThatTrustsTheCertificateSyncsAndHearsPushOverTlsAndBadFilesAreNamed)
{
    QTemporaryDir folder;
    const QString certificate = folder.filePath("cert.pem");
    const QString key = folder.filePath("key.pem");
    const QString garbage = folder.filePath("garbage.pem");
    QFile(garbage).open(QIODevice::WriteOnly);
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                              "-keyout", key, "-out", certificate, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                              "subjectAltName=IP:127.0.0.1"});
    ASSERT_TRUE(openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit);
    ASSERT_EQ(openssl.exitCode(), 0);
    const struct
    {
        QStringList arguments;
        const char *said;
    } cases[] = {
        {{"--tls-cert", certificate}, "--tls-cert and --tls-key go together"},
        {{"--tls-cert", certificate, "--tls-key", folder.filePath("missing.pem")}, "cannot read the key"},
        {{"--tls-cert", garbage, "--tls-key", key}, "holds no certificate"},
        {{"--tls-cert", certificate, "--tls-key", certificate}, "holds no private key"},
    };
    for (const auto &c : cases) {
        const CloudCommandRun serve = runCloudCommand(
            QStringList{"serve", "--listen", "127.0.0.1:0", "--data", folder.filePath("data")} + c.arguments);
        EXPECT_EQ(serve.exitCode, 1) << c.said;
        EXPECT_TRUE(serve.err.contains(c.said)) << c.said;
    }

    CloudServerProcess server({"--tls-cert", certificate, "--tls-key", key});
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    ASSERT_TRUE(server.url().startsWith("https://"));
    const CloudAccount account{server.url(), "anna", server.addUser("anna")};

    // Until it is told to trust this certificate, a device refuses the server.
    HttpCloud refusing(CloudAccount{server.url(), {}, {}});
    EXPECT_EQ(makeZone(refusing, account), CloudError::Code::networkFailure);

    const QSslConfiguration before = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = before;
    trusting.addCaCertificates(certificate);
    QSslConfiguration::setDefaultConfiguration(trusting);
    {
        HttpCloud cloud(account);
        QSignalSpy changed(&cloud, &CloudDatabase::databaseChanged);
        ASSERT_TRUE(waitFor([&] { return cloud.isPushConnected(); }));
        EXPECT_EQ(makeZone(cloud, account), std::nullopt);
        EXPECT_TRUE(waitFor([&] { return changed.size() == 2; }));
    }
    QSslConfiguration::setDefaultConfiguration(before);

    // Plain HTTP on the TLS port is not answered as HTTP.
    EXPECT_EQ(rawRequest(server.port(), CloudProtocol::kDatabaseChangesPath, "{}", account.token.toLatin1()).status, 0);
}
