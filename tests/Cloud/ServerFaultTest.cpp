// What the server does when its surroundings fail it: a proxy in front of it, a restore that cannot finish, a
// database that will not roll back, modes that cannot be set, a user removed in the middle of a request.
#include "SyncKit/CloudProtocol.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/PostgresCluster.h"
#include "tests/Cloud/RawHttp.h"
#include "tests/FailingCalls/FailingCalls.h"
#include "tests/WaitFor.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QUrl>

#include <gtest/gtest.h>

using namespace SyncKit;

namespace {

const QByteArray kMakeZone =
    compactJson({{"saves", QJsonArray{QJsonObject{{"zone", "Vellora"}, {"owner", "__defaultOwner__"}}}}});

} // namespace

// Behind a reverse proxy every request comes from loopback: one that a proxy passed on is never the machine's own
// monitoring.
TEST(ServerFaultTest, MetricsAreOnlyForADirectLocalPeer)
{
    CloudServerProcess server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    const std::pair<QByteArray, int> cases[] = {
        {{}, 200},
        {"X-Forwarded-For: 203.0.113.9\r\n", 403},
        {"x-forwarded-for: 127.0.0.1\r\n", 403},
        {"Forwarded: for=203.0.113.9;proto=https\r\n", 403},
        {"X-Real-IP: 203.0.113.9\r\n", 403},
    };
    for (const auto &[headers, status] : cases) {
        const Answer answer = rawRequest(server.port(), "/metrics", {}, {}, headers, "GET");
        EXPECT_EQ(answer.status, status) << headers.constData();
        EXPECT_EQ(answer.body.contains("vellora_cloud_"), status == 200) << headers.constData();
    }
}

// The last commits of a killed server wait in the database's write-ahead log: a restore whose backup cannot be
// moved in gives the old database back with them, and one that can leaves nothing of the old one behind.
TEST(ServerFaultTest, ARestoreThatCannotMoveTheBackupInKeepsTheOldDatabaseWhole)
{
    CloudServerProcess server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    server.addUser("anna");
    const QString backup = QDir(server.dataFolder()).filePath("backup.sqlite");
    ASSERT_EQ(server.command({"backup", backup}).first, 0);
    server.addUser("late");
    server.kill();
    const QString database = QDir(server.dataFolder()).filePath("vellora-cloud.sqlite");
    ASSERT_GT(QFileInfo(database + "-wal").size(), 0) << "the last commits are in the log";

    const QStringList restore{"restore", backup, "--data", server.dataFolder()};
    const CloudCommandRun failed = runCloudCommand(restore, failingCalls("rename:.restoring"));
    EXPECT_NE(failed.exitCode, 0);
    EXPECT_TRUE(failed.err.contains("cannot move the restored data into place")) << failed.err.toStdString();
    const auto [listed, users] = server.command({"user", "list"});
    EXPECT_EQ(listed, 0);
    EXPECT_TRUE(users.contains("anna") && users.contains("late")) << users.toStdString();

    const CloudCommandRun restored = runCloudCommand(restore);
    EXPECT_EQ(restored.exitCode, 0) << restored.err.toStdString();
    const auto [relisted, usersNow] = server.command({"user", "list"});
    EXPECT_EQ(relisted, 0);
    EXPECT_TRUE(usersNow.contains("anna") && !usersNow.contains("late")) << usersNow.toStdString();
    EXPECT_EQ(QDir(server.dataFolder()).entryList({"*.before-restore*", "*.restoring*"}, QDir::Files), QStringList());
}

// A ROLLBACK that fails leaves SQLite inside the transaction: the server starts over on a new connection rather
// than failing every later request.
TEST(ServerFaultTest, AFailedRollbackStartsANewConnection)
{
    CloudServerProcess server;
    server.setEnvironment(failingCalls("sqlite3_step:UPDATE users SET counter:1;sqlite3_step:ROLLBACK:1"));
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    server.setEnvironment({});
    const QByteArray token = server.addUser("anna").toLatin1();

    const Answer failed = rawRequest(server.port(), CloudProtocol::kModifyZonesPath, kMakeZone, token);
    EXPECT_EQ(failed.status, 503);
    EXPECT_FALSE(failed.retryAfter.isEmpty());
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(rawRequest(server.port(), CloudProtocol::kModifyZonesPath, kMakeZone, token).status, 200) << i;
    // Still the connection of a server: a user's records go with the user.
    const auto [listed, users] = server.command({"user", "list"});
    EXPECT_TRUE(users.startsWith("anna\t1 tokens\t1 zones")) << users.toStdString();
}

// The data is private or not served: a folder or database file whose mode cannot be set stops every command with
// the reason.
TEST(ServerFaultTest, ADataFolderOrFileThatCannotBeMadePrivateIsRefused)
{
    QTemporaryDir root(memoryFolderTemplate(QStringLiteral("vellora-cloud-test")));
    const QString folder = root.filePath("data");
    const struct
    {
        QString failing;
        const char *said;
    } cases[] = {{folder + "/", "cannot make the database"}, {folder, "cannot make the folder"}};
    for (const auto &c : cases) {
        const CloudCommandRun run =
            runCloudCommand({"user", "add", "anna", "--data", folder}, failingCalls("chmod:" + c.failing));
        EXPECT_EQ(run.exitCode, 1) << c.said;
        EXPECT_TRUE(run.err.contains(c.said) && run.err.contains("private")) << run.err.toStdString();
    }
    EXPECT_EQ(runCloudCommand({"user", "add", "anna", "--data", folder}).exitCode, 0);
    EXPECT_EQ(QFileInfo(folder).permissions() & 0x0077, 0);
    EXPECT_EQ(QFileInfo(folder + "/vellora-cloud.sqlite").permissions() & 0x0077, 0);
}

// The token was good when the request came in, but the user is gone by the time its write may start: the token no
// longer counts, which is not a passing failure of the database.
TEST(ServerFaultTest, AUserRemovedWhileTheirRequestWaitsIsNoLongerAuthenticated)
{
    PostgresCluster *cluster = PostgresCluster::shared();
    ASSERT_TRUE(cluster);
    const QString address = cluster->newDatabase();
    ASSERT_FALSE(address.isEmpty());
    const QString database = QUrl(address).path().mid(1);
    CloudServerProcess server({}, address);
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    const QByteArray token = server.addUser("anna").toLatin1();

    // Another writer holds anna's row, as a `user remove` under way does.
    const std::unique_ptr<QProcess> remover = cluster->session(database);
    remover->write("BEGIN;\nSELECT id FROM users WHERE name = 'anna' FOR UPDATE;\n");
    ASSERT_TRUE(waitFor([&] {
        return cluster->query(database, "SELECT count(*) FROM pg_stat_activity WHERE state = 'idle in transaction'") ==
               "1";
    }));
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    ASSERT_TRUE(socket.waitForConnected(10000));
    socket.write(QByteArray("POST ") + CloudProtocol::kModifyZonesPath +
                 " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nAuthorization: Bearer " + token +
                 "\r\nContent-Length: " + QByteArray::number(kMakeZone.size()) + "\r\n\r\n" + kMakeZone);
    ASSERT_TRUE(waitFor([&] {
        return cluster->query(database, "SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'") == "1";
    })) << "the request waits for the row";
    remover->write("DELETE FROM users WHERE name = 'anna';\nCOMMIT;\n");
    remover->closeWriteChannel();
    ASSERT_TRUE(remover->waitForFinished(30000));

    QByteArray answer;
    ASSERT_TRUE(waitFor([&] {
        answer += socket.readAll();
        return answer.contains("\r\n\r\n");
    }));
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 401")) << answer.constData();
}
