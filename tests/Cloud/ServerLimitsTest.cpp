// What protects the server's memory and its users' tokens: the size of a request is known before its body is read,
// and a peer that keeps guessing tokens must wait; and the server's own TLS.
#include "SyncKit/CloudProtocol.h"
#include "SyncKit/HttpCloud.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/RawHttp.h"
#include "tests/WaitFor.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>

#include <gtest/gtest.h>

using namespace SyncKit;

namespace {

class ServerLimitsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start()) << server.error().toStdString();
        token = server.addUser("anna").toLatin1();
    }

    bool serving() { return rawRequest(server.port(), CloudProtocol::kDatabaseChangesPath, "{}", token).status == 200; }

    int errorCount(const char *kind)
    {
        const QByteArray metrics = rawRequest(server.port(), "/metrics", {}, {}, {}, "GET").body;
        const QByteArray line = "vellora_cloud_errors_total{kind=\"" + QByteArray(kind) + "\"} ";
        const qsizetype at = metrics.indexOf(line);
        return at < 0 ? 0 : metrics.mid(at + line.size(), metrics.indexOf('\n', at) - at - line.size()).toInt();
    }

    CloudServerProcess server;
    QByteArray token;
};

} // namespace

TEST_F(ServerLimitsTest, ARequestIsRefusedFromItsHeadBeforeItsBodyIsRead)
{
    // No body follows these heads: an answer at all shows that the server did not wait for one.
    const struct
    {
        const char *what;
        QByteArray headers;
        int status;
        const char *name;
    } cases[] = {
        {"declared over the limit", "Content-Length: " + QByteArray::number(CloudProtocol::kMaxBodyBytes + 1) + "\r\n",
         413, "bodyTooLarge"},
        {"no length, chunks instead", "Transfer-Encoding: chunked\r\n", 411, "lengthRequired"},
        {"length given twice", "Content-Length: 2\r\nContent-Length: 9000000\r\n", 400, "badRequest"},
        {"length not a number", "Content-Length: 2e9\r\n", 400, "badRequest"},
        {"head without end", "X-Padding: " + QByteArray(80 * 1024, 'x') + "\r\n", 431, "headTooLarge"},
    };
    for (const auto &c : cases) {
        const Answer answer =
            rawRequest(server.port(), CloudProtocol::kModifyRecordsPath, {}, token, c.headers);
        EXPECT_EQ(answer.status, c.status) << c.what;
        const auto error = CloudProtocol::errorFromJson(QJsonDocument::fromJson(answer.body).object().value("error"));
        ASSERT_TRUE(error) << c.what << ": " << answer.body.constData();
        EXPECT_EQ(answer.body.contains(c.name), true) << c.what;
    }
    EXPECT_TRUE(serving());
}

TEST_F(ServerLimitsTest, ABodyLongerThanItsDeclaredLengthEndsTheConnectionWithoutBeingGathered)
{
    // Past the declared two bytes, the rest can only be the head of another request, and it never ends.
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), server.port());
    ASSERT_TRUE(socket.waitForConnected(10000));
    const QByteArray request = QByteArray("POST ") + CloudProtocol::kDatabaseChangesPath +
                               " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + token +
                               "\r\nContent-Length: 2\r\n\r\n{}" + QByteArray(8 * 1024 * 1024, 'x');
    ASSERT_EQ(socket.write(request), request.size());
    QByteArray received;
    ASSERT_TRUE(waitFor([&] {
        received += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }));
    // The first request may be answered, or refused with the garbage that came in the same read; it ends refused.
    EXPECT_TRUE(received.contains("HTTP/1.1 431")) << received.left(300).constData();
    EXPECT_LT(received.count("HTTP/1.1 "), 3);
    EXPECT_TRUE(serving());
    EXPECT_EQ(errorCount("headTooLarge"), 1);
}

TEST_F(ServerLimitsTest, APeerThatKeepsGuessingTokensMustWaitAndIsNotToldWhetherItsNextGuessIsRight)
{
    int refused = 0;
    Answer answer;
    while (refused < 100 &&
           (answer = rawRequest(server.port(), CloudProtocol::kDatabaseChangesPath, "{}", "guess")).status == 401)
        ++refused;
    EXPECT_GE(refused, 20);
    ASSERT_EQ(answer.status, 429);
    EXPECT_GE(answer.retryAfter.toInt(), 1);

    // Now even the right token waits, on the push channel too.
    EXPECT_EQ(rawRequest(server.port(), CloudProtocol::kDatabaseChangesPath, "{}", token).status, 429);
    QWebSocket push;
    QStringList messages;
    QObject::connect(&push, &QWebSocket::textMessageReceived, [&](const QString &m) { messages << m; });
    QObject::connect(&push, &QWebSocket::connected,
                     [&] { push.sendTextMessage(QString::fromUtf8(CloudProtocol::pushHello(token))); });
    push.open(QUrl(QStringLiteral("ws://127.0.0.1:%1%2").arg(server.port()).arg(CloudProtocol::kPushPath)));
    ASSERT_TRUE(waitFor([&] { return push.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_NE(int(push.closeCode()), CloudProtocol::kPushRejected); // "later", not "your token is wrong"

    // A device behind a proxy on this machine is another peer, with guesses of its own.
    EXPECT_EQ(rawRequest(server.port(), CloudProtocol::kDatabaseChangesPath, "{}", token,
                         "X-Forwarded-For: 192.0.2.1, 203.0.113.7\r\n")
                  .status,
              200);
}

namespace {

struct TlsFiles
{
    QTemporaryDir folder;
    QString certificate = folder.filePath("cert.pem");
    QString key = folder.filePath("key.pem");

    // A certificate for 127.0.0.1 made for one test.
    bool make()
    {
        QProcess openssl;
        openssl.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                  "-nodes", "-keyout", key, "-out", certificate, "-days", "2", "-subj", "/CN=127.0.0.1",
                                  "-addext", "subjectAltName=IP:127.0.0.1"});
        return openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit &&
               openssl.exitCode() == 0;
    }
};

} // namespace

TEST(ServerTlsTest, FilesThatCannotServeAreNamedAndTheServerDoesNotStart)
{
    TlsFiles files;
    ASSERT_TRUE(files.make());
    const QString garbage = files.folder.filePath("garbage.pem");
    QFile(garbage).open(QIODevice::WriteOnly);
    const struct
    {
        QStringList arguments;
        const char *said;
    } cases[] = {
        {{"--tls-cert", files.certificate}, "--tls-cert and --tls-key go together"},
        {{"--tls-cert", files.certificate, "--tls-key", files.folder.filePath("missing.pem")}, "cannot read the key"},
        {{"--tls-cert", garbage, "--tls-key", files.key}, "holds no certificate"},
        {{"--tls-cert", files.certificate, "--tls-key", files.certificate}, "holds no private key"},
    };
    for (const auto &c : cases) {
        QProcess serve;
        serve.start(VELLORA_CLOUD_BINARY, QStringList{"serve", "--listen", "127.0.0.1:0", "--data",
                                                      files.folder.filePath("data")} +
                                              c.arguments);
        ASSERT_TRUE(serve.waitForFinished(30000)) << c.said;
        EXPECT_EQ(serve.exitCode(), 1) << c.said;
        EXPECT_TRUE(serve.readAllStandardError().contains(c.said)) << c.said;
    }
}

TEST(ServerTlsTest, ADeviceThatTrustsTheCertificateSyncsAndHearsPushOverTls)
{
    TlsFiles files;
    ASSERT_TRUE(files.make());
    CloudServerProcess server({"--tls-cert", files.certificate, "--tls-key", files.key});
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    ASSERT_TRUE(server.url().startsWith("https://"));
    const CloudAccount account{server.url(), "anna", server.addUser("anna")};

    // Until it is told to trust this certificate, a device refuses the server.
    {
        HttpCloud cloud(CloudAccount{server.url(), {}, {}});
        std::optional<CloudResult<DatabaseChanges>> out;
        cloud.fetchDatabaseChanges(account, {}, [&](auto result) { out = result; });
        ASSERT_TRUE(waitFor([&] { return out.has_value(); }));
        ASSERT_FALSE(out->ok());
        EXPECT_EQ(out->error().code(), CloudError::Code::networkFailure);
    }

    const QSslConfiguration before = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = before;
    trusting.addCaCertificates(files.certificate);
    QSslConfiguration::setDefaultConfiguration(trusting);
    {
        HttpCloud cloud(account);
        QSignalSpy changed(&cloud, &CloudDatabase::databaseChanged);
        ASSERT_TRUE(waitFor([&] { return cloud.isPushConnected(); }));
        std::optional<CloudResult<ModifyZonesResult>> made;
        cloud.modifyZones(account, {RecordZoneID{"Vellora"}}, {}, [&](auto result) { made = result; });
        EXPECT_TRUE(waitFor([&] { return made.has_value() && changed.size() == 2; }));
        EXPECT_TRUE(made && made->ok());
    }
    QSslConfiguration::setDefaultConfiguration(before);

    // Plain HTTP on the TLS port is not answered as HTTP.
    EXPECT_EQ(rawRequest(server.port(), CloudProtocol::kDatabaseChangesPath, "{}", account.token.toLatin1()).status, 0);
}
