#include "Cloud/CloudServer.h"

#include "Cloud/RequestGuard.h"
#include "SyncKit/CloudProtocol.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSslServer>
#include <QWebSocket>

namespace Cloud {

using namespace SyncKit;
using namespace SyncKit::CloudProtocol;
using Status = QHttpServerResponse::StatusCode;

namespace {

constexpr int kRetryAfterStoreFailure = 2;

QByteArray header(const QHttpServerRequest &request, const char *name)
{
    for (const auto &[key, value] : request.headers()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QHttpServerResponse refuse(Status status, CloudError::Code code, const QString &name, const QString &message,
                           int retryAfter = 0)
{
    QHttpServerResponse response(QJsonObject{{"error", errorJson(code, message, name)}}, status);
    if (retryAfter > 0)
        response.setHeader("Retry-After", QByteArray::number(retryAfter));
    if (status == Status::Unauthorized)
        response.setHeader("WWW-Authenticate", "Bearer");
    return response;
}

QHttpServerResponse storeFailed(const StoreFailure &failure)
{
    qWarning("vellora-cloud: database failure: %s", qPrintable(failure.message));
    return refuse(Status::ServiceUnavailable, CloudError::Code::serverError, QStringLiteral("databaseUnavailable"),
                  QStringLiteral("the database is unavailable; try again later"), kRetryAfterStoreFailure);
}

QHttpServerResponse invalid(const Invalid &why)
{
    const bool tooLarge = why.name == QLatin1String("tooManyChanges");
    return refuse(tooLarge ? Status::PayloadTooLarge : Status::BadRequest,
                  tooLarge ? CloudError::Code::limitExceeded : CloudError::Code::invalidArguments, why.name,
                  why.message);
}

QHttpServerResponse resetRequired()
{
    return refuse(Status(kResetStatus), CloudError::Code::resetRequired, {},
                  QStringLiteral("the server's data was restored from a backup; send everything again"));
}

// The token of "Authorization: Bearer TOKEN"; empty when there is none.
QString bearerToken(const QHttpServerRequest &request)
{
    const QByteArray value = header(request, "authorization").trimmed();
    if (!value.startsWith("Bearer ") && !value.startsWith("bearer "))
        return {};
    return QString::fromLatin1(value.mid(7).trimmed());
}

} // namespace

CloudServer::CloudServer(SqlConnection &connection, Limits limits, QObject *parent)
    : QObject(parent), m_connection(connection), m_users(connection), m_records(connection),
      m_limiter(limits.requestsPerSecond, limits.burst), m_guesses(limits.guessesPerSecond, limits.guessBurst),
      m_push(m_users, m_guesses)
{
    const auto post = QHttpServerRequest::Method::Post;
    m_http.route(QLatin1String(kModifyZonesPath), post,
                 [this](const QHttpServerRequest &request) { return handle(request, Operation::modifyZones); });
    m_http.route(QLatin1String(kModifyRecordsPath), post,
                 [this](const QHttpServerRequest &request) { return handle(request, Operation::modifyRecords); });
    m_http.route(QLatin1String(kDatabaseChangesPath), post,
                 [this](const QHttpServerRequest &request) { return handle(request, Operation::databaseChanges); });
    m_http.route(QLatin1String(kZoneChangesPath), post,
                 [this](const QHttpServerRequest &request) { return handle(request, Operation::zoneChanges); });
    m_http.route(QLatin1String(kAccountPath), QHttpServerRequest::Method::Get,
                 [this](const QHttpServerRequest &request) { return handle(request, Operation::account); });
    m_http.route(QLatin1String(kHealthPath), QHttpServerRequest::Method::Get, [this] { return health(); });
    m_http.route(QStringLiteral("/metrics"), QHttpServerRequest::Method::Get,
                 [this](const QHttpServerRequest &request) { return metrics(request); });
    // The upgrade to a WebSocket happens only for a request some route accepts; this one answers nothing itself.
    m_http.route(QLatin1String(kPushPath), QHttpServerRequest::Method::Get,
                 [](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                     if (header(request, "upgrade").compare("websocket", Qt::CaseInsensitive) != 0)
                         responder.write(QHttpServerResponder::StatusCode::BadRequest);
                 });
    connect(&m_http, &QHttpServer::newWebSocketConnection, this, [this] {
        while (m_http.hasPendingWebSocketConnections())
            m_push.accept(m_http.nextPendingWebSocketConnection());
    });
}

std::variant<quint16, QString> CloudServer::listen(const QHostAddress &address, quint16 port,
                                                   const std::optional<QSslConfiguration> &tls)
{
    const auto refused = [this](const RequestGuard::Refusal &refusal) {
        m_metrics.record(routeOf(refusal.path), refusal.status, refusal.name, 0);
    };
    QTcpServer *server = nullptr;
    if (tls) {
        auto *secure = new GuardedServer<QSslServer>(kMaxBodyBytes, refused, this);
        secure->setSslConfiguration(*tls);
        server = secure;
    } else {
        server = new GuardedServer<QTcpServer>(kMaxBodyBytes, refused, this);
    }
    if (!server->listen(address, port)) {
        const QString why = server->errorString();
        delete server;
        return QStringLiteral("cannot listen on %1 port %2: %3").arg(address.toString()).arg(port).arg(why);
    }
    m_http.bind(server);
    return server->serverPort();
}

QHttpServerResponse CloudServer::health()
{
    try {
        m_connection.value(QStringLiteral("SELECT 1"));
    } catch (const StoreFailure &failure) {
        return storeFailed(failure);
    }
    return QHttpServerResponse(QJsonObject{{"ok", true}});
}

namespace {

const QString kRoutes[] = {QLatin1String(kModifyZonesPath), QLatin1String(kModifyRecordsPath),
                           QLatin1String(kDatabaseChangesPath), QLatin1String(kZoneChangesPath),
                           QLatin1String(kAccountPath)};

} // namespace

// The route a refused request was headed for; any other path counts as one, so that no client adds labels.
QString CloudServer::routeOf(const QByteArray &path)
{
    for (const QString &route : kRoutes) {
        if (path == route.toLatin1())
            return route;
    }
    return QStringLiteral("other");
}

QHttpServerResponse CloudServer::handle(const QHttpServerRequest &request, Operation operation)
{
    QElapsedTimer timer;
    timer.start();
    QHttpServerResponse response = answer(request, operation);
    const int status = int(response.statusCode());
    QString kind;
    if (status >= 400)
        kind = QJsonDocument::fromJson(response.data()).object().value("error").toObject().value("name").toString();
    m_metrics.record(kRoutes[int(operation)], status, kind, double(timer.nsecsElapsed()) / 1e9);
    return response;
}

QHttpServerResponse CloudServer::metrics(const QHttpServerRequest &request)
{
    // For the machine's own monitoring only, even when the server listens on other addresses.
    if (!request.remoteAddress().isLoopback())
        return QHttpServerResponse(Status::NotFound);
    return QHttpServerResponse(QByteArrayLiteral("text/plain; version=0.0.4"),
                               m_metrics.text(m_push.socketCount(), m_connection.sizeInBytes()));
}

QHttpServerResponse CloudServer::answer(const QHttpServerRequest &request, Operation operation)
{
    // The body's size was checked by the connection's RequestGuard before a byte of it was read.
    // A peer out of guesses is not even told whether its next token would have worked.
    const QByteArray peer = RateLimiter::peerKey(request.remoteAddress(), header(request, "x-forwarded-for"));
    if (const int wait = m_guesses.take(peer, false))
        return refuse(Status::TooManyRequests, CloudError::Code::serverError, QStringLiteral("rateLimited"),
                      QStringLiteral("too many requests without a valid token; try again later"), wait);
    const QString token = bearerToken(request);
    if (token.isEmpty()) {
        m_guesses.take(peer);
        return refuse(Status::Unauthorized, CloudError::Code::notAuthenticated, {},
                      QStringLiteral("no bearer token was given"));
    }
    // A database that fails for a moment says nothing about the token: 503, and no guess is counted.
    const auto user = m_users.userForToken(token);
    if (const auto *failure = std::get_if<StoreFailure>(&user))
        return storeFailed(*failure);
    const auto id = std::get<std::optional<qint64>>(user);
    if (!id) {
        m_guesses.take(peer);
        return refuse(Status::Unauthorized, CloudError::Code::notAuthenticated, {},
                      QStringLiteral("the token was not accepted"));
    }

    if (const int wait = m_limiter.take(QByteArray::number(*id)))
        return refuse(Status::TooManyRequests, CloudError::Code::serverError, QStringLiteral("rateLimited"),
                      QStringLiteral("too many requests; try again later"), wait);

    // The account is asked with a GET, which has no body.
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(request.body(), &parseError);
    if (operation != Operation::account && (parseError.error != QJsonParseError::NoError || !document.isObject()))
        return refuse(Status::BadRequest, CloudError::Code::invalidArguments, QStringLiteral("badRequest"),
                      QStringLiteral("the body is not a JSON object"));
    return perform(*id, operation, document.object());
}

QHttpServerResponse CloudServer::account(qint64 user)
{
    const auto name = m_users.nameOf(user);
    if (const auto *failure = std::get_if<StoreFailure>(&name))
        return storeFailed(*failure);
    const auto &found = std::get<std::optional<QString>>(name);
    // Removed between the token check and now: the token no longer counts.
    if (!found)
        return refuse(Status::Unauthorized, CloudError::Code::notAuthenticated, {},
                      QStringLiteral("the token was not accepted"));
    return QHttpServerResponse(QJsonObject{{"user", *found}});
}

QHttpServerResponse CloudServer::perform(qint64 user, Operation operation, const QJsonObject &body)
{
    bool changed = false;
    std::variant<QJsonObject, StoreFailure> answer = StoreFailure{};
    switch (operation) {
    case Operation::modifyZones: {
        const auto request = ModifyZonesRequest::fromJson(body);
        if (const auto *why = std::get_if<Invalid>(&request))
            return invalid(*why);
        answer = m_records.modifyZones(user, std::get<ModifyZonesRequest>(request), changed);
        break;
    }
    case Operation::modifyRecords: {
        const auto request = ModifyRecordsRequest::fromJson(body);
        if (const auto *why = std::get_if<Invalid>(&request))
            return invalid(*why);
        if (m_records.isOfAnotherEpoch(std::get<ModifyRecordsRequest>(request)))
            return resetRequired();
        answer = m_records.modifyRecords(user, std::get<ModifyRecordsRequest>(request), changed);
        break;
    }
    case Operation::databaseChanges: {
        const auto request = DatabaseChangesRequest::fromJson(body);
        if (const auto *why = std::get_if<Invalid>(&request))
            return invalid(*why);
        if (m_records.isOfAnotherEpoch(std::get<DatabaseChangesRequest>(request).token))
            return resetRequired();
        answer = m_records.databaseChanges(user, std::get<DatabaseChangesRequest>(request));
        break;
    }
    case Operation::zoneChanges: {
        const auto request = ZoneChangesRequest::fromJson(body);
        if (const auto *why = std::get_if<Invalid>(&request))
            return invalid(*why);
        if (m_records.isOfAnotherEpoch(std::get<ZoneChangesRequest>(request).token))
            return resetRequired();
        const auto changes = m_records.zoneChanges(user, std::get<ZoneChangesRequest>(request));
        if (const auto *failure = std::get_if<StoreFailure>(&changes))
            return storeFailed(*failure);
        const auto &found = std::get<std::optional<QJsonObject>>(changes);
        if (!found)
            return refuse(Status::NotFound, CloudError::Code::zoneNotFound, {},
                          std::get<ZoneChangesRequest>(request).zoneID.zoneName);
        answer = *found;
        break;
    }
    case Operation::account:
        return account(user);
    }
    if (const auto *failure = std::get_if<StoreFailure>(&answer))
        return storeFailed(*failure);
    if (changed && !m_changesHeard)
        m_push.notify(user);
    return QHttpServerResponse(std::get<QJsonObject>(answer));
}

} // namespace Cloud
