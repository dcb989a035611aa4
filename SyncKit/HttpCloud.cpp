#include "SyncKit/HttpCloud.h"

#include "SyncKit/CloudProtocol.h"

#include <QJsonDocument>
#include <QNetworkReply>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QUrl>
#include <QWebSocket>

namespace SyncKit {

using namespace CloudProtocol;

namespace {

// The server's address joined with an operation's path; a server behind a proxy may live under a path of its own.
QUrl endpoint(const QString &server, const char *path, bool push = false)
{
    QUrl url(server);
    QString base = url.path();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    url.setPath(base + QLatin1String(path));
    if (push)
        url.setScheme(url.scheme() == QLatin1String("https") ? QStringLiteral("wss") : QStringLiteral("ws"));
    return url;
}

// The error an answer other than 200 stands for: the server's own when it wrote one.
CloudError errorOfAnswer(int status, const QByteArray &body)
{
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    // The key box asked to replace is no longer the account's: another computer changed it meanwhile.
    if (status == kKeyBoxChangedStatus && object.value("error").toObject().value("name") == QLatin1String(kKeyBoxChanged))
        return CloudError(CloudError::Code::serverRecordChanged, object.value("error").toObject().value("message").toString());
    if (auto error = errorFromJson(object.value("error")))
        return *error;
    const QString words = QStringLiteral("the server answered HTTP %1").arg(status);
    if (status == 401)
        return CloudError(CloudError::Code::notAuthenticated, words);
    // Also when the body was lost on the way: the status alone says what the device must do.
    if (status == kResetStatus)
        return CloudError(CloudError::Code::resetRequired, words);
    if (status == 429 || status >= 500)
        return CloudError(CloudError::Code::serverError, words);
    return CloudError(CloudError::Code::invalidArguments, words);
}

// A TLS handshake that ended as soon as it began: what a server that speaks plain HTTP on the port gives.
bool mayBePlainHttp(const QUrl &url, QNetworkReply::NetworkError error)
{
    return url.scheme() == QLatin1String("https") &&
           (error == QNetworkReply::SslHandshakeFailedError || error == QNetworkReply::RemoteHostClosedError ||
            error == QNetworkReply::ProtocolFailure || error == QNetworkReply::UnknownNetworkError);
}

// The address as it would be with plain HTTP, on the same port.
QString plainAddress(const QString &server)
{
    QUrl url(server);
    url.setPort(url.port(443));
    url.setScheme(QStringLiteral("http"));
    return url.toString(QUrl::StripTrailingSlash);
}

} // namespace

HttpCloud::HttpCloud(CloudAccount account, QObject *parent) : HttpCloud(std::move(account), Timing{}, parent) {}

HttpCloud::HttpCloud(CloudAccount account, Timing timing, QObject *parent)
    : CloudDatabase(parent), m_account(std::move(account)), m_timing(timing)
{
    m_pushRetry.setSingleShot(true);
    connect(&m_pushRetry, &QTimer::timeout, this, &HttpCloud::connectPush);
    if (m_timing.push && !m_account.server.isEmpty() && !m_account.token.isEmpty())
        connectPush();
}

HttpCloud::~HttpCloud()
{
    if (m_push)
        m_push->disconnect(this);
}

void HttpCloud::post(const CloudAccount &account, const char *path, const std::optional<QByteArray> &body, int attempt,
                     Answer done)
{
    QNetworkRequest request(endpoint(account.server, path));
    if (body)
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader("Authorization", "Bearer " + account.token.toUtf8());
    request.setTransferTimeout(int(m_timing.transferTimeout.count()));
    QNetworkReply *reply = body ? m_network.post(request, *body) : m_network.get(request);
    connect(reply, &QNetworkReply::finished, this, [=, this, done = std::move(done)] {
        reply->deleteLater();
        const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!statusAttribute.isValid()) {
            CloudError failure(CloudError::Code::networkFailure, reply->errorString());
            if (mayBePlainHttp(reply->url(), reply->error()))
                return explainTlsFailure(account.server, std::move(failure), done);
            return done(failure);
        }
        const int status = statusAttribute.toInt();
        const QByteArray answer = reply->readAll();
        if (reply->error() != QNetworkReply::NoError && status == 200)
            return done(CloudError(CloudError::Code::networkFailure, reply->errorString()));
        if (status == 200) {
            QJsonParseError parseError;
            const QJsonDocument document = QJsonDocument::fromJson(answer, &parseError);
            if (parseError.error != QJsonParseError::NoError || !document.isObject())
                return done(CloudError(CloudError::Code::networkFailure,
                                       QStringLiteral("the server's answer could not be read")));
            return done(document.object());
        }
        if (status == 429 || status >= 500) {
            bool ok = false;
            const int wait = reply->rawHeader("Retry-After").toInt(&ok);
            if (ok && wait >= 0 && wait <= m_timing.maximumRetryAfter.count() && attempt < m_timing.retries) {
                // The server asked to hear the same request again: a save it refused was not applied.
                QTimer::singleShot(std::chrono::seconds(wait), this,
                                   [=, this] { post(account, path, body, attempt + 1, done); });
                return;
            }
        }
        done(errorOfAnswer(status, answer));
    });
}

void HttpCloud::explainTlsFailure(const QString &server, CloudError failure, Answer done)
{
    // Sent the first bytes of a TLS handshake in the clear, a server of ours that speaks plain HTTP on the port says
    // so in a plain answer. A person can act on that, not on how the handshake failed; any other answer, or none,
    // leaves the failure as it was (a TLS server behind a certificate this computer refuses, say).
    const QUrl url(server);
    auto *probe = new QTcpSocket(this);
    auto received = std::make_shared<QByteArray>();
    auto ended = std::make_shared<bool>(false);
    const auto end = [=] {
        if (std::exchange(*ended, true))
            return;
        probe->deleteLater();
        if (!received->startsWith("HTTP/1.") || !received->contains("plainHttp"))
            return done(failure);
        done(CloudError(CloudError::Code::invalidArguments,
                        QStringLiteral("the server speaks plain HTTP: use %1").arg(plainAddress(server))));
    };
    connect(probe, &QTcpSocket::connected, probe, [probe] { probe->write(QByteArray::fromHex("160301020001")); });
    connect(probe, &QTcpSocket::readyRead, probe, [=] {
        *received += probe->readAll();
        if (received->contains("plainHttp"))
            end();
    });
    connect(probe, &QTcpSocket::disconnected, probe, end);
    connect(probe, &QTcpSocket::errorOccurred, probe, end);
    QTimer::singleShot(std::min(m_timing.transferTimeout, std::chrono::milliseconds(5000)), probe, end);
    probe->connectToHost(url.host(), quint16(url.port(443)));
}

template<typename T>
void HttpCloud::call(const CloudAccount &account, const char *path, const QJsonObject &body,
                     std::optional<T> (*read)(const QJsonObject &), Callback<T> done)
{
    post(account, path, QJsonDocument(body).toJson(QJsonDocument::Compact), 0,
         [read, done = std::move(done)](const CloudResult<QJsonObject> &answer) {
             if (!answer.ok())
                 return done(answer.error());
             auto value = read(answer.value());
             if (!value)
                 return done(CloudError(CloudError::Code::networkFailure,
                                        QStringLiteral("the server's answer is not of the expected form")));
             done(std::move(*value));
         });
}

void HttpCloud::modifyZones(const CloudAccount &account, const QList<RecordZoneID> &saves,
                            const QList<RecordZoneID> &deletes, Callback<ModifyZonesResult> done)
{
    call<ModifyZonesResult>(account, kModifyZonesPath, ModifyZonesRequest{saves, deletes}.toJson(),
                            &CloudProtocol::modifyZonesResult, std::move(done));
}

void HttpCloud::modifyRecords(const CloudAccount &account, const QList<Record> &saves, const QList<Record> &deletes,
                              Callback<ModifyRecordsResult> done)
{
    call<ModifyRecordsResult>(account, kModifyRecordsPath, ModifyRecordsRequest::toJson(saves, deletes),
                              &CloudProtocol::modifyRecordsResult, std::move(done));
}

void HttpCloud::fetchDatabaseChanges(const CloudAccount &account, const QByteArray &token,
                                     Callback<DatabaseChanges> done)
{
    call<DatabaseChanges>(account, kDatabaseChangesPath, DatabaseChangesRequest{token}.toJson(),
                          &CloudProtocol::databaseChanges, std::move(done));
}

void HttpCloud::fetchZoneChanges(const CloudAccount &account, const RecordZoneID &zoneID, const QByteArray &token,
                                 int limit, Callback<ZoneChanges> done)
{
    call<ZoneChanges>(account, kZoneChangesPath, ZoneChangesRequest{zoneID, token, std::max(limit, 0)}.toJson(),
                      &CloudProtocol::zoneChanges, std::move(done));
}

void HttpCloud::userOfToken(const CloudAccount &account, Callback<QString> done)
{
    post(account, kAccountPath, std::nullopt, 0, [done = std::move(done)](const CloudResult<QJsonObject> &answer) {
        if (!answer.ok())
            return done(answer.error());
        const QString user = answer.value().value("user").toString();
        if (user.isEmpty())
            return done(CloudError(CloudError::Code::networkFailure,
                                   QStringLiteral("the server's answer is not of the expected form")));
        done(user);
    });
}

void HttpCloud::fetchKeyBox(const CloudAccount &account, Callback<std::optional<KeyBox>> done)
{
    post(account, kAccountKeyPath, std::nullopt, 0, [done = std::move(done)](const CloudResult<QJsonObject> &answer) {
        if (!answer.ok())
            return done(answer.error());
        auto box = keyBoxOfAnswer(answer.value());
        if (!box)
            return done(CloudError(CloudError::Code::networkFailure,
                                   QStringLiteral("the server's answer is not of the expected form")));
        done(std::move(*box));
    });
}

void HttpCloud::askLinkCode(const CloudAccount &account, Callback<LinkCode> done)
{
    call<LinkCode>(account, kAccountLinkPath, QJsonObject{}, &LinkCode::fromJson, std::move(done));
}

void HttpCloud::storeKeyBox(const CloudAccount &account, const KeyBoxRequest &request, Callback<KeyBox> done)
{
    // The server answers with the box it now keeps, which must be the one sent.
    call<KeyBox>(
        account, kAccountKeyPath, request.toJson(),
        +[](const QJsonObject &object) -> std::optional<KeyBox> {
            const auto box = keyBoxOfAnswer(object);
            return box ? *box : std::nullopt;
        },
        [box = request.box, done = std::move(done)](const CloudResult<KeyBox> &stored) {
            if (stored.ok() && !(stored.value() == box))
                return done(CloudError(CloudError::Code::networkFailure,
                                       QStringLiteral("the server kept another key box than the one sent")));
            done(stored);
        });
}

void HttpCloud::networkReachable()
{
    if (!m_timing.push || m_account.server.isEmpty() || m_account.token.isEmpty())
        return;
    // The back-off was for a network that was away.
    m_pushRetry.stop();
    m_pushFailures = 0;
    connectPush();
    emit databaseChanged(m_account.server, m_account.user);
}

void HttpCloud::connectPush()
{
    if (m_push) {
        m_push->disconnect(this);
        m_push->deleteLater();
    }
    m_push = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    connect(m_push, &QWebSocket::connected, this, [this] {
        if (m_push->sendTextMessage(QString::fromUtf8(pushHello(m_account.token))) <= 0)
            m_push->abort();
    });
    connect(m_push, &QWebSocket::textMessageReceived, this, &HttpCloud::pushMessage);
    connect(m_push, &QWebSocket::disconnected, this, &HttpCloud::pushClosed);
    // A connection that never opens reports an error and no disconnection.
    connect(m_push, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this, &HttpCloud::pushClosed);
    m_push->open(endpoint(m_account.server, kPushPath, true));
}

void HttpCloud::pushMessage(const QString &message)
{
    const QJsonObject object = QJsonDocument::fromJson(message.toUtf8()).object();
    if (object.value("ready").toBool()) {
        m_pushFailures = 0;
        setPushReady(true);
    } else if (!object.value("changed").toBool()) {
        return;
    }
    emit databaseChanged(m_account.server, m_account.user);
}

void HttpCloud::setPushReady(bool ready)
{
    // A first attempt that fails is news too: the channel was never open.
    if (ready == m_pushReady && (ready || m_pushFailures > 0))
        return;
    m_pushReady = ready;
    emit pushConnectedChanged(ready);
}

void HttpCloud::pushClosed()
{
    setPushReady(false);
    if (m_pushRetry.isActive())
        return;
    const std::chrono::milliseconds grown(m_timing.pushRetryDelay.count() << std::min(m_pushFailures, 16));
    const auto capped = std::min(grown, m_timing.maximumPushRetryDelay);
    // Up to a fifth less, so that the devices of a server that comes back do not all knock at the same moment.
    const auto jitter = std::chrono::milliseconds(QRandomGenerator::global()->bounded(qint64(capped.count() / 5 + 1)));
    m_pushRetry.start(capped - jitter);
    ++m_pushFailures;
}

} // namespace SyncKit
