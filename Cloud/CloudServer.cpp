#include "Cloud/CloudServer.h"

#include "Cloud/RequestGuard.h"
#include "Cloud/WebPage.h"
#include "SyncKit/CloudProtocol.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSslServer>

namespace Cloud {

using namespace SyncKit;
using namespace SyncKit::CloudProtocol;
using Status = QHttpServerResponse::StatusCode;

namespace {

constexpr int kRetryAfterStoreFailure = 2;
// In the order of the operations.
const char *const kRoutes[] = {kModifyZonesPath, kModifyRecordsPath, kDatabaseChangesPath, kZoneChangesPath,
                               kAccountPath,     kAccountKeyPath,    kAccountKeyPath,       kAccountLinkPath};
// A redeem's body holds a code and a device's name.
constexpr qint64 kMaxRedeemBytes = 1024;

QByteArray header(const QHttpServerRequest &request, const char *name)
{
    for (const auto &[key, value] : request.headers()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

constexpr int kMaxZoneNameBytes = 255;

ConnectionPolicy::Rejection rejection(Status status, CloudError::Code code, const QString &name,
                                      const QString &message, int retryAfter = 0)
{
    const QJsonObject body{{"error", errorJson(code, message, name)}};
    return {int(status), QJsonDocument(body).toJson(QJsonDocument::Compact), name, retryAfter};
}

QHttpServerResponse respond(const ConnectionPolicy::Rejection &rejection)
{
    QHttpServerResponse response(QByteArrayLiteral("application/json"), rejection.body, Status(rejection.status));
    if (rejection.retryAfter > 0)
        response.setHeader("Retry-After", QByteArray::number(rejection.retryAfter));
    if (rejection.status == int(Status::Unauthorized))
        response.setHeader("WWW-Authenticate", "Bearer");
    return response;
}

QHttpServerResponse refuse(Status status, CloudError::Code code, const QString &name, const QString &message,
                           int retryAfter = 0)
{
    return respond(rejection(status, code, name, message, retryAfter));
}

ConnectionPolicy::Rejection storeFailure(const StoreFailure &failure)
{
    if (failure.userGone)
        return rejection(Status::Unauthorized, CloudError::Code::notAuthenticated, {},
                         QStringLiteral("the token was not accepted"));
    qWarning("vellora-cloud: database failure: %s", qPrintable(failure.message));
    return rejection(Status::ServiceUnavailable, CloudError::Code::serverError, QStringLiteral("databaseUnavailable"),
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
QString bearerToken(const QByteArray &authorization)
{
    const QByteArray value = authorization.trimmed();
    if (!value.startsWith("Bearer ") && !value.startsWith("bearer "))
        return {};
    return QString::fromLatin1(value.mid(7).trimmed());
}

// Zones are made by devices, which name them shortly; a name is stored and sent back in every change feed.
bool namesZonesWithinLimits(const QList<RecordZoneID> &zones)
{
    return std::all_of(zones.begin(), zones.end(), [](const RecordZoneID &zone) {
        return zone.zoneName.toUtf8().size() <= kMaxZoneNameBytes && zone.ownerName.toUtf8().size() <= kMaxZoneNameBytes;
    });
}

} // namespace

CloudServer::CloudServer(SqlConnection &connection, Limits limits, QObject *parent)
    : QObject(parent), m_connection(connection), m_users(connection), m_records(connection), m_keyBoxes(connection),
      m_linkCodes(connection, m_users), m_limiter(limits.requestsPerSecond, limits.burst),
      m_guesses(limits.guessesPerSecond, limits.guessBurst), m_redeems(limits.redeemsPerSecond, limits.redeemBurst),
      m_limits(std::move(limits)),
      m_push(m_users, [this](const QHostAddress &peer, const QByteArray &forwardedFor,
                             const QString &token) { return authenticate(peer, forwardedFor, token); })
{
    for (const Operation operation : {Operation::modifyZones, Operation::modifyRecords, Operation::databaseChanges,
                                      Operation::zoneChanges, Operation::account, Operation::keyBox,
                                      Operation::storeKeyBox, Operation::link}) {
        const auto method = isQuestion(operation) ? QHttpServerRequest::Method::Get : QHttpServerRequest::Method::Post;
        m_http.route(QLatin1String(kRoutes[int(operation)]), method,
                     [this, operation](const QHttpServerRequest &request) { return handle(request, operation); });
    }
    m_http.route(QLatin1String(kLinkRedeemPath), QHttpServerRequest::Method::Post,
                 [this](const QHttpServerRequest &request) {
                     return measured(kLinkRedeemPath, [&] { return redeem(request); });
                 });
    m_http.route(QLatin1String(kHealthPath), QHttpServerRequest::Method::Get, [this] { return health(); });
    m_http.route(QStringLiteral("/metrics"), QHttpServerRequest::Method::Get,
                 [this](const QHttpServerRequest &request) { return metrics(request); });
    // WebSocket handshakes go to the push channel before the HTTP server sees them; anything else here is wrong.
    m_http.route(QLatin1String(kPushPath), QHttpServerRequest::Method::Get,
                 [] { return QHttpServerResponse(Status::BadRequest); });
    WebPage::addRoutes(m_http);
}

std::variant<quint16, QString> CloudServer::listen(const QHostAddress &address, quint16 port,
                                                   const std::optional<QSslConfiguration> &tls)
{
    m_policy = std::make_shared<ConnectionPolicy>();
    auto &policy = m_policy;
    policy->maxBodyBytes = kMaxBodyBytes;
    policy->maxBodyBytesInFlight = m_limits.bodyBytesInFlight;
    policy->maxConnectionsPerPeer = m_limits.connectionsPerAddress;
    policy->trustedProxies = m_limits.trustedProxies;
    policy->refused = [this](const ConnectionPolicy::Refusal &refusal) {
        m_metrics.record(routeOf(refusal.path), refusal.status, refusal.name, 0);
    };
    // A body is read only for a token the server knows.
    policy->admit = [this](const ConnectionPolicy::Head &head) -> std::optional<Rejection> {
        // The one request without a token; its tries are counted when it is answered.
        if (head.path.split('?').constFirst() == kLinkRedeemPath) {
            if (head.header("content-length").toLongLong() <= kMaxRedeemBytes)
                return std::nullopt;
            return rejection(Status::PayloadTooLarge, CloudError::Code::invalidArguments,
                             QStringLiteral("bodyTooLarge"), QStringLiteral("a sign-in code is a short request"));
        }
        const auto user =
            authenticate(head.peer, head.header("x-forwarded-for"), bearerToken(head.header("authorization")));
        if (const auto *refused = std::get_if<Rejection>(&user))
            return *refused;
        return std::nullopt;
    };
    policy->upgrade = [this](QTcpSocket *socket) { m_push.upgrade(socket); };
    QTcpServer *server = nullptr;
    if (tls) {
        auto *secure = new GuardedServer<QSslServer>(policy, this);
        secure->setSslConfiguration(*tls);
        server = secure;
    } else {
        server = new GuardedServer<QTcpServer>(policy, this);
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
        return respond(storeFailure(failure));
    }
    return QHttpServerResponse(QJsonObject{{"ok", true}});
}

// The route a refused request was headed for; any other path counts as one, so that no client adds labels.
QString CloudServer::routeOf(const QByteArray &path)
{
    for (const char *route : kRoutes) {
        if (path == route)
            return QLatin1String(route);
    }
    if (path == kLinkRedeemPath)
        return QLatin1String(kLinkRedeemPath);
    return QStringLiteral("other");
}

// The account and its key box are asked with a GET, which has no body.
bool CloudServer::isQuestion(Operation operation)
{
    return operation == Operation::account || operation == Operation::keyBox;
}

QHttpServerResponse CloudServer::handle(const QHttpServerRequest &request, Operation operation)
{
    return measured(kRoutes[int(operation)], [&] { return answer(request, operation); });
}

QHttpServerResponse CloudServer::measured(const char *route, const std::function<QHttpServerResponse()> &work)
{
    QElapsedTimer timer;
    timer.start();
    QHttpServerResponse response = work();
    const int status = int(response.statusCode());
    QString kind;
    if (status >= 400)
        kind = QJsonDocument::fromJson(response.data()).object().value("error").toObject().value("name").toString();
    m_metrics.record(QLatin1String(route), status, kind, double(timer.nsecsElapsed()) / 1e9);
    return response;
}

QHttpServerResponse CloudServer::metrics(const QHttpServerRequest &request)
{
    // For the machine's own monitoring only, even when the server listens on other addresses. Behind a reverse
    // proxy on the same machine every request comes from loopback: one that a proxy passed on says so in a header.
    if (!request.remoteAddress().isLoopback())
        return QHttpServerResponse(Status::NotFound);
    for (const auto &[key, value] : request.headers()) {
        for (const char *forwarded : {"forwarded", "x-forwarded-for", "x-real-ip"}) {
            if (key.compare(forwarded, Qt::CaseInsensitive) == 0)
                return QHttpServerResponse(Status::Forbidden);
        }
    }
    return QHttpServerResponse(QByteArrayLiteral("text/plain; version=0.0.4"),
                               m_metrics.text(m_push.socketCount(), m_connection.sizeInBytes()));
}

std::variant<qint64, CloudServer::Rejection> CloudServer::authenticate(const QHostAddress &peer,
                                                                      const QByteArray &forwardedFor,
                                                                      const QString &token)
{
    const QByteArray key = RateLimiter::peerKey(peer, forwardedFor, m_limits.trustedProxies);
    const auto refused = [&](const QString &message) {
        // A peer out of guesses is told to wait rather than whether this token was right.
        if (const int wait = m_guesses.take(key))
            return rejection(Status::TooManyRequests, CloudError::Code::serverError, QStringLiteral("rateLimited"),
                             QStringLiteral("too many requests without a valid token; try again later"), wait);
        return rejection(Status::Unauthorized, CloudError::Code::notAuthenticated, {}, message);
    };
    if (token.isEmpty())
        return refused(QStringLiteral("no bearer token was given"));
    const auto user = m_users.userForToken(token);
    if (const auto *failure = std::get_if<StoreFailure>(&user))
        return storeFailure(*failure);
    const auto id = std::get<std::optional<qint64>>(user);
    if (!id)
        return refused(QStringLiteral("the token was not accepted"));
    return *id;
}

QHttpServerResponse CloudServer::answer(const QHttpServerRequest &request, Operation operation)
{
    // The body's size and its token were checked by the connection's RequestGuard before a byte of the body was
    // read; the token is looked at again, since it may have been revoked since.
    const auto user = authenticate(request.remoteAddress(), header(request, "x-forwarded-for"),
                                   bearerToken(header(request, "authorization")));
    if (const auto *refused = std::get_if<Rejection>(&user))
        return respond(*refused);
    const qint64 id = std::get<qint64>(user);

    if (const int wait = m_limiter.take(QByteArray::number(id)))
        return refuse(Status::TooManyRequests, CloudError::Code::serverError, QStringLiteral("rateLimited"),
                      QStringLiteral("too many requests; try again later"), wait);

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(request.body(), &parseError);
    // Asking for a sign-in code says everything in its token.
    if (!isQuestion(operation) && operation != Operation::link && (parseError.error != QJsonParseError::NoError || !document.isObject()))
        return refuse(Status::BadRequest, CloudError::Code::invalidArguments, QStringLiteral("badRequest"),
                      QStringLiteral("the body is not a JSON object"));
    return perform(id, operation, document.object());
}

QHttpServerResponse CloudServer::account(qint64 user)
{
    const auto name = m_users.nameOf(user);
    if (const auto *failure = std::get_if<StoreFailure>(&name))
        return respond(storeFailure(*failure));
    const auto &found = std::get<std::optional<QString>>(name);
    // Removed between the token check and now: the token no longer counts.
    if (!found)
        return refuse(Status::Unauthorized, CloudError::Code::notAuthenticated, {},
                      QStringLiteral("the token was not accepted"));
    return QHttpServerResponse(QJsonObject{{"user", *found}});
}

QHttpServerResponse CloudServer::keyBox(qint64 user)
{
    const auto box = m_keyBoxes.box(user);
    if (const auto *failure = std::get_if<StoreFailure>(&box))
        return respond(storeFailure(*failure));
    return QHttpServerResponse(keyBoxAnswer(std::get<std::optional<KeyBox>>(box)));
}

QHttpServerResponse CloudServer::storeKeyBox(qint64 user, const QJsonObject &body)
{
    const auto request = KeyBoxRequest::fromJson(body);
    if (const auto *why = std::get_if<Invalid>(&request))
        return invalid(*why);
    const auto stored = m_keyBoxes.store(user, std::get<KeyBoxRequest>(request));
    if (const auto *failure = std::get_if<StoreFailure>(&stored))
        return respond(storeFailure(*failure));
    // The other devices are not told: they hold the key already, and a new passphrase changes nothing for them.
    switch (std::get<KeyBoxStore::Stored>(stored)) {
    case KeyBoxStore::Stored::stored:
        return QHttpServerResponse(keyBoxAnswer(std::get<KeyBoxRequest>(request).box));
    case KeyBoxStore::Stored::changed:
        return refuse(Status(kKeyBoxChangedStatus), CloudError::Code::invalidArguments, QLatin1String(kKeyBoxChanged),
                      QStringLiteral("the account's key box changed meanwhile; fetch it again"));
    case KeyBoxStore::Stored::otherKey:
        return refuse(Status::Forbidden, CloudError::Code::invalidArguments, QLatin1String(kOtherKey),
                      QStringLiteral("the new key box holds another key than the account's"));
    }
    Q_UNREACHABLE();
}

QHttpServerResponse CloudServer::link(qint64 user)
{
    const auto issued = m_linkCodes.issue(user, m_limits.linkLifetimeSeconds);
    if (const auto *failure = std::get_if<StoreFailure>(&issued))
        return respond(storeFailure(*failure));
    const auto &code = std::get<LinkCodeStore::Issued>(issued);
    return QHttpServerResponse(LinkCode{code.code, code.expiresAt, m_limits.linkLifetimeSeconds}.toJson());
}

QHttpServerResponse CloudServer::redeem(const QHttpServerRequest &request)
{
    const QByteArray peer =
        RateLimiter::peerKey(request.remoteAddress(), header(request, "x-forwarded-for"), m_limits.trustedProxies);
    if (const int wait = m_redeems.take(peer))
        return refuse(Status::TooManyRequests, CloudError::Code::serverError, QStringLiteral("rateLimited"),
                      QStringLiteral("too many sign-in codes tried from here; try again later"), wait);
    const QJsonObject body = QJsonDocument::fromJson(request.body()).object();
    if (!body.value("code").isString() || !(body.value("device").isString() || body.value("device").isUndefined()))
        return refuse(Status::BadRequest, CloudError::Code::invalidArguments, QStringLiteral("badRequest"),
                      QStringLiteral("a sign-in code is sent as {\"code\": CODE, \"device\": NAME}"));
    const auto redeemed = m_linkCodes.redeem(body.value("code").toString(), body.value("device").toString());
    if (const auto *failure = std::get_if<StoreFailure>(&redeemed))
        return respond(storeFailure(*failure));
    const auto &outcome = std::get<LinkCodeStore::Redeemed>(redeemed);
    if (!outcome.refusal)
        return QHttpServerResponse(QJsonObject{{"user", outcome.user}, {"token", outcome.token}});
    const QString askAgain =
        QStringLiteral("ask for a new one with “vellora account link” or “Open on another device…”");
    switch (*outcome.refusal) {
    case LinkCodeStore::Refusal::used:
        return refuse(Status::Forbidden, CloudError::Code::invalidArguments, QLatin1String(kLinkCodeUsed),
                      QStringLiteral("this sign-in code was already used: ") + askAgain);
    case LinkCodeStore::Refusal::expired:
        return refuse(Status::Forbidden, CloudError::Code::invalidArguments, QLatin1String(kLinkCodeExpired),
                      QStringLiteral("this sign-in code has expired: ") + askAgain);
    case LinkCodeStore::Refusal::unknown:
        break;
    }
    return refuse(Status::Forbidden, CloudError::Code::invalidArguments, QLatin1String(kLinkCodeUnknown),
                  QStringLiteral("this sign-in code is not known here: check it, or ") + askAgain);
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
        if (!namesZonesWithinLimits(std::get<ModifyZonesRequest>(request).saves))
            return refuse(Status::BadRequest, CloudError::Code::invalidArguments, QStringLiteral("zoneNameTooLong"),
                          QStringLiteral("a zone's name and owner hold at most %1 bytes each").arg(kMaxZoneNameBytes));
        answer = m_records.modifyZones(user, std::get<ModifyZonesRequest>(request), changed);
        break;
    }
    case Operation::modifyRecords: {
        const auto request = ModifyRecordsRequest::fromJson(body);
        if (const auto *why = std::get_if<Invalid>(&request))
            return invalid(*why);
        if (m_records.isOfAnotherEpoch(std::get<ModifyRecordsRequest>(request)))
            return resetRequired();
        const auto modified = m_records.modifyRecords(user, std::get<ModifyRecordsRequest>(request), changed);
        if (const auto *failure = std::get_if<StoreFailure>(&modified))
            return respond(storeFailure(*failure));
        const auto &applied = std::get<std::optional<QJsonObject>>(modified);
        if (!applied)
            return refuse(Status::Forbidden, CloudError::Code::invalidArguments, QLatin1String(kPlainRecordRefused),
                          QStringLiteral("this account's tasks are encrypted: update Vellora on this computer, then "
                                         "sign in again with the sync passphrase"));
        answer = *applied;
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
            return respond(storeFailure(*failure));
        const auto &found = std::get<std::optional<QJsonObject>>(changes);
        if (!found)
            return refuse(Status::NotFound, CloudError::Code::zoneNotFound, {},
                          std::get<ZoneChangesRequest>(request).zoneID.zoneName);
        answer = *found;
        break;
    }
    case Operation::account:
        return account(user);
    case Operation::keyBox:
        return keyBox(user);
    case Operation::storeKeyBox:
        return storeKeyBox(user, body);
    case Operation::link:
        return link(user);
    }
    if (const auto *failure = std::get_if<StoreFailure>(&answer))
        return respond(storeFailure(*failure));
    if (changed && !m_changesHeard)
        m_push.notify(user);
    return QHttpServerResponse(std::get<QJsonObject>(answer));
}

} // namespace Cloud
