#pragma once

#include "Cloud/KeyBoxStore.h"
#include "Cloud/LinkCodeStore.h"
#include "Cloud/Metrics.h"
#include "Cloud/PushHub.h"
#include "Cloud/RateLimiter.h"
#include "Cloud/RecordStore.h"
#include "Cloud/RequestGuard.h"
#include "Cloud/UserDirectory.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QObject>
#include <QSslConfiguration>
#include <QTimer>

namespace Cloud {

// The HTTP face of the users' databases: one POST route per operation, answered synchronously with JSON, and the
// push channel on the same port. The user always comes from the bearer token, judged from the request's head before
// its body is read; requests are checked against the size and rate limits before anything is parsed or stored. A
// peer that keeps presenting tokens the server does not know must wait before it may try another, while a valid
// token from the same address always passes.
class CloudServer : public QObject
{
    Q_OBJECT

public:
    struct Limits
    {
        double requestsPerSecond = 20;
        double burst = 60;
        // Requests without a valid token, per peer address: enough for devices whose token was revoked to find out.
        double guessesPerSecond = 1;
        double guessBurst = 20;
        // Sign-in codes tried per peer address, right or wrong: a few a minute, so that no code can be guessed.
        double redeemsPerSecond = 0.1;
        double redeemBurst = 10;
        int linkLifetimeSeconds = 600;
        // Only these peers are believed when they name the client in X-Forwarded-For.
        QList<QHostAddress> trustedProxies;
        int connectionsPerAddress = 128;
        qint64 bodyBytesInFlight = 64 * 1024 * 1024;
    };

    CloudServer(SqlConnection &connection, Limits limits, QObject *parent = nullptr);

    // With several server processes on one database, changes are heard from the database, the server's own among
    // them, and handed to these; a lone server tells its devices of its own changes.
    void setChangesHeardFromDatabase(bool heard) { m_changesHeard = heard; }
    void userChanged(qint64 user) { m_push.notify(user); }
    void everyoneChanged() { m_push.notifyAll(); }

    // The port it listens on (useful when 0 was asked for), or why it cannot listen. With a TLS configuration, it
    // speaks HTTPS and secure WebSockets only.
    std::variant<quint16, QString> listen(const QHostAddress &address, quint16 port,
                                          const std::optional<QSslConfiguration> &tls = std::nullopt);

private:
    enum class Operation {
        modifyZones,
        modifyRecords,
        databaseChanges,
        zoneChanges,
        account,
        keyBox,
        storeKeyBox,
        link
    };

    using Rejection = ConnectionPolicy::Rejection;

    // The user of a token presented from a peer, or the refusal: a wrong or missing token counts as a guess of the
    // peer, and a peer out of guesses waits; a database that fails says nothing about the token.
    std::variant<qint64, Rejection> authenticate(const QHostAddress &peer, const QByteArray &forwardedFor,
                                                 const QString &token);
    QHttpServerResponse handle(const QHttpServerRequest &request, Operation operation);
    QHttpServerResponse answer(const QHttpServerRequest &request, Operation operation);
    QHttpServerResponse metrics(const QHttpServerRequest &request);
    QHttpServerResponse perform(qint64 user, Operation operation, const QJsonObject &body);
    QHttpServerResponse account(qint64 user);
    QHttpServerResponse keyBox(qint64 user);
    QHttpServerResponse storeKeyBox(qint64 user, const QJsonObject &body);
    QHttpServerResponse link(qint64 user);
    QHttpServerResponse redeem(const QHttpServerRequest &request);
    // The answer, counted in the metrics by its route, status, error name and time.
    QHttpServerResponse measured(const char *route, const std::function<QHttpServerResponse()> &work);
    static bool isQuestion(Operation operation);
    QHttpServerResponse health();
    static QString routeOf(const QByteArray &path);

    SqlConnection &m_connection;
    UserDirectory m_users;
    RecordStore m_records;
    KeyBoxStore m_keyBoxes;
    LinkCodeStore m_linkCodes;
    RateLimiter m_limiter; // by user
    RateLimiter m_guesses; // by peer, for requests without a valid token
    RateLimiter m_redeems; // by peer, for sign-in codes
    Limits m_limits;
    Metrics m_metrics;
    PushHub m_push;
    QHttpServer m_http;
    std::shared_ptr<ConnectionPolicy> m_policy;
    bool m_changesHeard = false;
};

} // namespace Cloud
