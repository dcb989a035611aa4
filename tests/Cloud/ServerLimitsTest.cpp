// What protects the server's memory and its users' tokens: the size of a request is known before its body is read,
// and a peer that keeps guessing tokens must wait; and the server's own TLS.
#include "SyncKit/CloudProtocol.h"
#include "SyncKit/HttpCloud.h"
#include "tests/Cloud/AwaitCloud.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/RawHttp.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QSslSocket>
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

    CloudServerProcess server;
    QByteArray token;
};

} // namespace

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

TEST(ServerTlsTest, ADeviceThatTrustsTheCertificateSyncsAndHearsPushOverTlsAndBadFilesAreNamed)
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

    CloudServerProcess server({"--tls-cert", files.certificate, "--tls-key", files.key});
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    ASSERT_TRUE(server.url().startsWith("https://"));
    const CloudAccount account{server.url(), "anna", server.addUser("anna")};

    // Until it is told to trust this certificate, a device refuses the server.
    {
        HttpCloud cloud(CloudAccount{server.url(), {}, {}});
        const auto out = awaitAnswer<DatabaseChanges>([&](auto done) { cloud.fetchDatabaseChanges(account, {}, done); });
        ASSERT_TRUE(out && !out->ok());
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
        const auto made = awaitAnswer<ModifyZonesResult>(
            [&](auto done) { cloud.modifyZones(account, {RecordZoneID{"Vellora"}}, {}, done); });
        EXPECT_TRUE(made && made->ok());
        EXPECT_TRUE(waitFor([&] { return changed.size() == 2; }));
    }
    QSslConfiguration::setDefaultConfiguration(before);

    // Plain HTTP on the TLS port is not answered as HTTP.
    EXPECT_EQ(rawRequest(server.port(), CloudProtocol::kDatabaseChangesPath, "{}", account.token.toLatin1()).status, 0);
}
