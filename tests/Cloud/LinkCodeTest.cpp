// One-time sign-in codes through the real server: each gives one token, once; used, expired, unknown and guessed
// codes are refused in words; the token they give is an ordinary device token.
#include "SyncKit/CloudProtocol.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/PostgresCluster.h"
#include "tests/Cloud/RawHttp.h"
#include "tests/WaitFor.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>

#include <gtest/gtest.h>

using namespace SyncKit::CloudProtocol;

namespace {

QByteArray redeemBody(const QString &code, const QString &device = QStringLiteral("Firefox on Linux"))
{
    return QJsonDocument(QJsonObject{{"code", code}, {"device", device}}).toJson(QJsonDocument::Compact);
}

enum class Storage { sqlite, postgresql };

class LinkCodeTest : public testing::TestWithParam<Storage>
{
protected:
    void SetUp() override { startServer({}); }

    void startServer(const QStringList &environment)
    {
        if (GetParam() == Storage::postgresql && database.isEmpty()) {
            database = PostgresCluster::newSharedDatabase();
            ASSERT_FALSE(database.isEmpty());
        }
        server = std::make_unique<CloudServerProcess>(QStringList{}, database);
        server->setEnvironment(environment);
        ASSERT_TRUE(server->start()) << server->error().toStdString();
        anna = server->addUser("anna").toLatin1();
    }

    QJsonObject link(const QByteArray &token)
    {
        const Answer answer = rawRequest(server->port(), kAccountLinkPath, {}, token);
        EXPECT_EQ(answer.status, 200) << answer.body.constData();
        return parse(answer.body);
    }
    Answer redeem(const QString &code, const QString &device = QStringLiteral("Firefox on Linux"))
    {
        return rawRequest(server->port(), kLinkRedeemPath, redeemBody(code, device));
    }
    // Whose token it is, or the HTTP status that refused it.
    QString userOf(const QByteArray &token)
    {
        const Answer answer = rawRequest(server->port(), kAccountPath, {}, token, {}, "GET");
        return answer.status == 200 ? parse(answer.body).value("user").toString() : QString::number(answer.status);
    }
    QStringList linkedTokens()
    {
        const auto [status, listed] = server->command({"token", "list"});
        EXPECT_EQ(status, 0);
        return listed.split('\n', Qt::SkipEmptyParts).filter(QStringLiteral("\tlinked "));
    }

    QString database;
    std::unique_ptr<CloudServerProcess> server;
    QByteArray anna;
};

} // namespace

TEST_P(LinkCodeTest, ACodeGivesOneRevocableTokenOnceAndNeitherReachesTheLog)
{
    const QJsonObject issued = link(anna);
    const QString code = issued.value("code").toString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[A-HJKMNP-Z2-9]{4}-[A-HJKMNP-Z2-9]{4}-[A-HJKMNP-Z2-9]{4}$"))
                    .match(code)
                    .hasMatch())
        << code.toStdString();
    EXPECT_EQ(issued.value("lifetimeSeconds").toInt(), 600);
    const QDateTime expires = QDateTime::fromString(issued.value("expiresAt").toString(), Qt::ISODate);
    EXPECT_NEAR(double(QDateTime::currentDateTimeUtc().secsTo(expires)), 600.0, 30.0);

    // Typed on a phone: lower case, without dashes.
    const Answer redeemed = redeem(code.toLower().remove('-'), QStringLiteral("Chrome on Android\n\t"));
    ASSERT_EQ(redeemed.status, 200) << redeemed.body.constData();
    EXPECT_EQ(parse(redeemed.body).value("user").toString(), "anna");
    const QByteArray linked = parse(redeemed.body).value("token").toString().toLatin1();
    EXPECT_EQ(userOf(linked), "anna");

    const Answer again = redeem(code);
    EXPECT_EQ(again.status, 403);
    EXPECT_EQ(errorName(again), kLinkCodeUsed);
    EXPECT_TRUE(parse(again.body).value("error").toObject().value("message").toString().contains("already used"));

    const QStringList listed = linkedTokens();
    ASSERT_EQ(listed.size(), 1) << listed.join('\n').toStdString();
    EXPECT_TRUE(listed[0].contains("\tlinked Chrome on Android ")) << listed[0].toStdString();
    const QString id = listed[0].section('\t', 1, 1);
    EXPECT_EQ(server->command({"token", "revoke", id}).first, 0);
    EXPECT_EQ(userOf(linked), "401");
    EXPECT_EQ(userOf(anna), "anna");

    const QByteArray log = server->log();
    EXPECT_FALSE(log.contains(code.toLatin1()) || log.contains(QString(code).remove('-').toLatin1()));
    EXPECT_FALSE(log.contains(linked));
}

TEST_P(LinkCodeTest, UnknownMalformedDroppedAndResetCodesAreRefusedByName)
{
    // The oldest of more unused codes than a user may hold is dropped.
    QStringList codes;
    for (int i = 0; i < 4; ++i)
        codes << link(anna).value("code").toString();
    const QString forgottenByReset = codes.takeLast();
    const QString keptUntilRemoval = codes.takeLast();

    struct Case
    {
        const char *what;
        QByteArray body;
        int status;
        QString name;
    };
    const Case cases[] = {
        {"dropped as the oldest", redeemBody(codes[0]), 403, kLinkCodeUnknown},
        {"never given", redeemBody(QStringLiteral("ABCD-EFGH-JKMN")), 403, kLinkCodeUnknown},
        {"a letter outside the alphabet", redeemBody(codes[1].left(13) + 'O'), 403, kLinkCodeUnknown},
        {"too short", redeemBody(codes[1].left(13)), 403, kLinkCodeUnknown},
        {"no code", QByteArray(R"({"device":"x"})"), 400, QStringLiteral("badRequest")},
        {"not JSON", QByteArray("code=ABCD"), 400, QStringLiteral("badRequest")},
        {"a body too large", redeemBody(codes[1], QString(2000, 'x')), 413, QStringLiteral("bodyTooLarge")},
    };
    for (const Case &c : cases) {
        const Answer answer = rawRequest(server->port(), kLinkRedeemPath, c.body);
        EXPECT_EQ(answer.status, c.status) << c.what;
        EXPECT_EQ(errorName(answer), c.name) << c.what;
    }
    EXPECT_EQ(redeem(codes[1]).status, 200);

    ASSERT_EQ(server->command({"user", "reset", "anna", "--confirm"}).first, 0);
    EXPECT_EQ(errorName(redeem(forgottenByReset)), kLinkCodeUnknown);
    EXPECT_EQ(server->command({"token", "revoke", "anna"}).first, 0);
    EXPECT_EQ(errorName(redeem(keptUntilRemoval)), kLinkCodeUnknown);
    EXPECT_EQ(linkedTokens().size(), 0);
}

TEST_P(LinkCodeTest, AnExpiredCodeIsRefusedInWords)
{
    server.reset();
    startServer({QStringLiteral("VELLORA_CLOUD_LINK_LIFETIME=1")});
    const QJsonObject issued = link(anna);
    EXPECT_EQ(issued.value("lifetimeSeconds").toInt(), 1);
    const QDateTime expires = QDateTime::fromString(issued.value("expiresAt").toString(), Qt::ISODate);
    ASSERT_TRUE(waitFor([&] { return QDateTime::currentDateTimeUtc() > expires; }));
    const Answer answer = redeem(issued.value("code").toString());
    EXPECT_EQ(answer.status, 403);
    EXPECT_EQ(errorName(answer), kLinkCodeExpired);
    EXPECT_TRUE(parse(answer.body).value("error").toObject().value("message").toString().contains("expired"));
}

// Two browsers opening the same link at once: one token between them.
TEST_P(LinkCodeTest, TwoRedeemsOfOneCodeAtOnceGiveOneToken)
{
    for (int round = 0; round < 3; ++round) {
        const QByteArray body = redeemBody(link(anna).value("code").toString());
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (int i = 0; i < 2; ++i) {
            auto &socket = sockets.emplace_back(std::make_unique<QTcpSocket>());
            socket->connectToHost(QStringLiteral("127.0.0.1"), server->port());
            ASSERT_TRUE(socket->waitForConnected(10000));
        }
        for (auto &socket : sockets)
            socket->write(QByteArray("POST ") + kLinkRedeemPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                          QByteArray::number(body.size()) + "\r\n\r\n" + body);
        QList<QByteArray> received(2);
        ASSERT_TRUE(waitFor([&] {
            for (int i = 0; i < 2; ++i)
                received[i] += sockets[i]->readAll();
            return received[0].contains("\r\n\r\n") && received[1].contains("\r\n\r\n");
        }));
        QStringList statuses{QString::fromLatin1(received[0].mid(9, 3)), QString::fromLatin1(received[1].mid(9, 3))};
        statuses.sort();
        EXPECT_EQ(statuses, QStringList({"200", "403"}));
    }
    EXPECT_EQ(linkedTokens().size(), 3);
}

// Codes cannot be guessed: a peer has a few tries, after which even the right code waits.
TEST_P(LinkCodeTest, AnAddressThatTriesTooManyCodesWaitsWhileTokensKeepWorking)
{
    const QString code = link(anna).value("code").toString();
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(errorName(redeem(QStringLiteral("ABCD-EFGH-JK%1").arg(QChar('A' + i)))), kLinkCodeUnknown) << i;
    const Answer limited = redeem(code);
    EXPECT_EQ(limited.status, 429);
    EXPECT_EQ(errorName(limited), "rateLimited");
    EXPECT_GT(limited.retryAfter.toInt(), 0);
    EXPECT_EQ(userOf(anna), "anna");
}

INSTANTIATE_TEST_SUITE_P(Storages, LinkCodeTest, testing::Values(Storage::sqlite, Storage::postgresql),
                         [](const auto &info) { return info.param == Storage::sqlite ? "SQLite" : "PostgreSQL"; });

// A database of the version before codes keeps its tokens, which are listed without a name.
TEST(LinkCodeSchemaTest, ADatabaseOfTheVersionBeforeIsMigratedAndItsTokensStillCount)
{
    CloudServerProcess server;
    const QString folder = server.dataFolder();
    {
        QSqlDatabase old = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
        old.setDatabaseName(folder + "/vellora-cloud.sqlite");
        ASSERT_TRUE(old.open());
        QSqlQuery query(old);
        for (const char *sql :
             {"CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL)",
              "INSERT INTO meta VALUES ('schema', '3'), ('epoch', 'e1')",
              "CREATE TABLE users(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL UNIQUE,"
              " counter INTEGER NOT NULL DEFAULT 0, created TEXT NOT NULL)",
              "CREATE TABLE tokens(hash TEXT PRIMARY KEY, user_id INTEGER NOT NULL REFERENCES users(id)"
              " ON DELETE CASCADE, created TEXT NOT NULL)",
              "INSERT INTO users(name, created) VALUES ('anna', '2026-01-01')"}) {
            ASSERT_TRUE(query.exec(QLatin1String(sql))) << sql;
        }
        const QByteArray hash = QCryptographicHash::hash("old-token", QCryptographicHash::Sha256).toHex();
        ASSERT_TRUE(query.exec(QStringLiteral("INSERT INTO tokens VALUES ('%1', 1, '2026-01-01')").arg(QLatin1String(hash))));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old"));
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    const Answer account = rawRequest(server.port(), kAccountPath, {}, "old-token", {}, "GET");
    EXPECT_EQ(account.status, 200);
    const Answer issued = rawRequest(server.port(), kAccountLinkPath, {}, "old-token");
    ASSERT_EQ(issued.status, 200) << issued.body.constData();
    EXPECT_EQ(rawRequest(server.port(), kLinkRedeemPath, redeemBody(parse(issued.body).value("code").toString()))
                  .status,
              200);
    const QString listed = server.command({"token", "list"}).second;
    EXPECT_TRUE(listed.contains("(made before tokens had names)")) << listed.toStdString();
    EXPECT_TRUE(listed.contains("\tlinked Firefox on Linux ")) << listed.toStdString();
}
