// What the server lets go of and what it comes back from: its database restarting under it, revoked tokens, clients
// that send slowly or not at all, and anonymous clients that try to wear it down.
#include "Cloud/RateLimiter.h"
#include "SyncKit/CloudProtocol.h"
#include "SyncKit/HttpCloud.h"
#include "tests/Cloud/AwaitCloud.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/PostgresCluster.h"
#include "tests/Cloud/RawHttp.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <list>

using namespace SyncKit;

namespace {

// A push socket signed in with the token, or closed trying.
class PushSocket
{
public:
    PushSocket(quint16 port, const QString &token)
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, [this](const QString &m) { messages << m; });
        QObject::connect(&socket, &QWebSocket::connected,
                         [this, token] { socket.sendTextMessage(QString::fromUtf8(CloudProtocol::pushHello(token))); });
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1%2").arg(port).arg(CloudProtocol::kPushPath)));
    }
    bool signedIn() const { return messages.contains(QLatin1String(CloudProtocol::kPushReady)); }
    bool closed() const { return socket.state() == QAbstractSocket::UnconnectedState; }

    QWebSocket socket;
    QStringList messages;
};

} // namespace

TEST(ServerResilienceTest, APostgresqlRestartUnderARunningServerIsOverWithinSecondsAndPushIsHeardAgain)
{
    PostgresCluster *cluster = PostgresCluster::shared();
    ASSERT_TRUE(cluster);
    const QString database = cluster->newDatabase();
    ASSERT_FALSE(database.isEmpty());
    CloudServerProcess server({}, database);
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    const CloudAccount account{server.url(), "anna", server.addUser("anna")};
    HttpCloud device(account);
    HttpCloud writer(CloudAccount{server.url(), {}, {}});
    ASSERT_EVENTUALLY(device.isPushConnected());
    QSignalSpy heard(&device, &CloudDatabase::databaseChanged);

    ASSERT_TRUE(cluster->restart());
    const auto saved = [&](const char *zone) {
        const auto made = awaitAnswer<ModifyZonesResult>(
            [&](auto done) { writer.modifyZones(account, {RecordZoneID{zone}}, {}, done); });
        return made && made->ok();
    };
    ASSERT_TRUE(waitFor([&] { return saved("Vellora"); }, 10000)) << "requests still fail after the restart";
    EXPECT_EQ(rawRequest(server.port(), CloudProtocol::kHealthPath, {}, {}, {}, "GET").status, 200);
    const qsizetype before = heard.size();
    ASSERT_TRUE(saved("Other"));
    EXPECT_TRUE(waitFor([&] { return heard.size() > before; }, 10000)) << "no push after the restart";
}

TEST(ServerResilienceTest, ARevokedTokensPushSocketClosesAtOnceAndTheOthersStay)
{
    CloudServerProcess server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    const QString revoked = server.addUser("anna");
    const QString kept = server.addUser("anna");
    PushSocket first(server.port(), revoked);
    PushSocket second(server.port(), kept);
    ASSERT_EVENTUALLY(first.signedIn() && second.signedIn());

    ASSERT_EQ(server.command({"token", "revoke", revoked}).first, 0);
    ASSERT_TRUE(waitFor([&] { return first.closed(); }, 5000)) << "the revoked token's socket stayed open";
    EXPECT_EQ(int(first.socket.closeCode()), CloudProtocol::kPushRejected);
    EXPECT_FALSE(second.closed());
}

TEST(ServerResilienceTest, SlowHeadsAreClosedAndConnectionCloseIsHonoured)
{
    CloudServerProcess server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();

    // A head that trickles in, a line at a time, never to end.
    QTcpSocket trickle;
    trickle.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    ASSERT_TRUE(trickle.waitForConnected(10000));
    trickle.write(QByteArray("POST ") + CloudProtocol::kDatabaseChangesPath + " HTTP/1.1\r\n");
    QTimer drip;
    QObject::connect(&drip, &QTimer::timeout, [&] { trickle.write("X-Drip: 1\r\n"); });
    drip.start(200);
    QByteArray received;
    ASSERT_TRUE(waitFor([&] {
        received += trickle.readAll();
        return trickle.state() == QAbstractSocket::UnconnectedState;
    }, 15000)) << "a trickling head was kept";
    EXPECT_TRUE(received.startsWith("HTTP/1.1 408")) << received.left(100).constData();

    // A TLS hello on the plain port is told, in plain words, what the port speaks.
    const auto toTls = rawExchange(server.port(), QByteArray::fromHex("160301020001"),
                                   [](const QByteArray &came) { return came.contains("plain HTTP"); }, 5000);
    EXPECT_TRUE(toTls && toTls->startsWith("HTTP/1.1 400") && toTls->contains("plain HTTP"));

    // Answered, then closed, as asked.
    const auto once = rawExchange(
        server.port(), QByteArray("GET ") + CloudProtocol::kHealthPath + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
        {}, 5000);
    ASSERT_TRUE(once) << "Connection: close was ignored";
    EXPECT_TRUE(once->startsWith("HTTP/1.1 200")) << once->constData();
}

TEST(ServerResilienceTest, ParallelUploadsWithAnInvalidTokenAreRefusedBeforeTheirBodies)
{
    CloudServerProcess server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    constexpr int uploads = 120;
    const qint64 length = CloudProtocol::kMaxBodyBytes;
    const QByteArray chunk(64 * 1024, 'x');
    std::list<QTcpSocket> sockets;
    std::vector<qint64> sent(uploads, 0);
    std::vector<char> answered(uploads, 0);
    for (int i = 0; i < uploads; ++i) {
        QTcpSocket &socket = sockets.emplace_back();
        qint64 &written = sent[size_t(i)];
        // Written a chunk at a time, as fast as the server takes it, until the server answers.
        const auto more = [&socket, &written, &chunk, length] {
            if (socket.bytesAvailable() > 0 || socket.state() != QAbstractSocket::ConnectedState)
                return;
            while (written < length && socket.bytesToWrite() < 2 * chunk.size()) {
                const qint64 size = std::min<qint64>(chunk.size(), length - written);
                socket.write(chunk.constData(), size);
                written += size;
            }
        };
        QObject::connect(&socket, &QTcpSocket::connected, [&socket, more, length] {
            socket.write(QByteArray("POST ") + CloudProtocol::kModifyRecordsPath +
                         " HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer guess\r\nContent-Length: " +
                         QByteArray::number(length) + "\r\n\r\n");
            more();
        });
        QObject::connect(&socket, &QTcpSocket::bytesWritten, more);
        QObject::connect(&socket, &QTcpSocket::readyRead, [&answered, &socket, i] {
            answered[size_t(i)] = answered[size_t(i)] || socket.peek(12).startsWith("HTTP/1.1 ");
            socket.readAll();
        });
        socket.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    }
    const bool ended = waitFor([&] {
        qsizetype i = 0;
        return std::all_of(sockets.begin(), sockets.end(), [&](const QTcpSocket &socket) {
            return answered[size_t(i++)] || socket.state() == QAbstractSocket::UnconnectedState;
        });
    }, 60000);
    EXPECT_TRUE(ended);
    EXPECT_GE(std::count(answered.begin(), answered.end(), 1), uploads / 2);
    const double peak = server.peakResidentMiB();
    EXPECT_GT(peak, 0);
#if !defined(__SANITIZE_ADDRESS__) // its shadow and quarantine keep hundreds of MiB whatever the server reads
    EXPECT_LT(peak, 200) << "MiB resident at most";
#endif
}

TEST(ServerResilienceTest, GuessesFromOneAddressAreSlowedWhateverItsXForwardedForAndAValidTokenStillPasses)
{
    CloudServerProcess server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    const QByteArray anna = server.addUser("anna").toLatin1();
    const auto guess = [&](int i) {
        return rawRequest(server.port(), CloudProtocol::kDatabaseChangesPath, "{}", "guess",
                          "X-Forwarded-For: 198.51.100." + QByteArray::number(i % 250 + 1) + "\r\n");
    };
    int refused = 0;
    Answer answer;
    while (refused < 100 && (answer = guess(refused)).status == 401)
        ++refused;
    EXPECT_GE(refused, 20);
    EXPECT_LE(refused, 25) << "a new X-Forwarded-For made a new peer";
    ASSERT_EQ(answer.status, 429);
    EXPECT_GE(answer.retryAfter.toInt(), 1);

    // The device whose address it is goes on syncing, on both channels.
    EXPECT_EQ(rawRequest(server.port(), CloudProtocol::kDatabaseChangesPath, "{}", anna).status, 200);
    PushSocket push(server.port(), QString::fromLatin1(anna));
    EXPECT_EVENTUALLY(push.signedIn());
    EXPECT_EQ(guess(1000).status, 429);
}

TEST(ServerResilienceTest, ATrustedProxyNamesItsClientsAndOthersAreCountedApart)
{
    CloudServerProcess server({"--trusted-proxy", "127.0.0.1"});
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    const auto guess = [&](const QByteArray &forwardedFor) {
        return rawRequest(server.port(), CloudProtocol::kDatabaseChangesPath, "{}", "guess",
                          "X-Forwarded-For: " + forwardedFor + "\r\n")
            .status;
    };
    int refused = 0;
    while (refused < 100 && guess("192.0.2.1, 203.0.113.7") == 401)
        ++refused;
    EXPECT_LE(refused, 25);
    // Only the last address, the one the proxy saw, counts: the client cannot choose it.
    EXPECT_EQ(guess("192.0.2.99, 203.0.113.7"), 429);
    EXPECT_EQ(guess("203.0.113.8"), 401);
}

TEST(ServerResilienceTest, OneAddressHoldsAtMostItsConnectionsAndGetsRoomBackWhenOneCloses)
{
    CloudServerProcess server({"--connections-per-address", "2"});
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    const QByteArray health = QByteArray("GET ") + CloudProtocol::kHealthPath + " HTTP/1.1\r\nHost: x\r\n\r\n";
    std::list<QTcpSocket> held;
    for (int i = 0; i < 2; ++i) {
        QTcpSocket &socket = held.emplace_back();
        socket.connectToHost(QStringLiteral("127.0.0.1"), server.port());
        ASSERT_TRUE(socket.waitForConnected(10000));
        socket.write(health);
        QByteArray received;
        ASSERT_TRUE(waitFor([&] {
            received += socket.readAll();
            return received.contains("\r\n\r\n");
        }, 5000)) << i;
        EXPECT_TRUE(received.startsWith("HTTP/1.1 200")) << i << ": " << received.constData();
    }
    // The next is told why and closed, before it sends anything.
    const auto refused = rawExchange(server.port(), {}, {}, 5000);
    ASSERT_TRUE(refused) << "a connection past the limit was kept";
    EXPECT_TRUE(refused->startsWith("HTTP/1.1 503") && refused->contains("tooManyConnections")) << refused->constData();

    held.pop_front();
    EXPECT_EVENTUALLY(rawRequest(server.port(), CloudProtocol::kHealthPath, {}, {}, {}, "GET").status == 200);
}

// The table of blocks is swept of full ones as it grows: a peer that spent its block cannot get a fresh one by
// making the table grow.
TEST(RateLimiterTest, ASweepForgetsOnlyFullBlocks)
{
    Cloud::RateLimiter limiter(0.001, 2); // a token every 1,000 seconds: nothing refills during the test
    EXPECT_EQ(limiter.take("spent"), 0);
    EXPECT_EQ(limiter.take("spent"), 0);
    ASSERT_GT(limiter.take("spent"), 0);
    for (int i = 0; i < 3000; ++i)
        limiter.take(QByteArray::number(i));
    EXPECT_GT(limiter.take("spent"), 0);
}
