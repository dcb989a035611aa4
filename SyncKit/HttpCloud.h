#pragma once

#include "SyncKit/CloudDatabase.h"
#include "SyncKit/CloudProtocol.h"

#include <QNetworkAccessManager>
#include <QTimer>

#include <chrono>

class QWebSocket;

namespace SyncKit {

// The cloud database of a vellora-cloud server, over HTTP. Each call goes to the server and with the token of the
// account it names. The account given at construction is the one whose push channel it keeps open: databaseChanged
// is emitted on every push and after every (re)connection, since changes may have come while it was away.
//
//     HttpCloud cloud(CloudAccount{"https://cloud.example.org", "anna", token});
//     engine configuration: .database = &cloud
//
// Lost connections and unreadable answers fail as networkFailure (but an https address of a server that speaks plain
// HTTP fails as invalidArguments, with the address to use); answers of "too many requests" or "unavailable"
// are tried again after the server's Retry-After a few times, then fail as serverError for the engine to back off.
class HttpCloud : public CloudDatabase
{
    Q_OBJECT

public:
    struct Timing
    {
        std::chrono::milliseconds pushRetryDelay{1000}; // doubled after each failed connection
        std::chrono::milliseconds maximumPushRetryDelay{10000}; // less up to a fifth, at random
        int retries = 3;                            // of one request the server asked to repeat later
        std::chrono::seconds maximumRetryAfter{30}; // a longer wait is left to the engine
        std::chrono::milliseconds transferTimeout{30000};
        bool push = true; // off: a short-lived client that only asks, such as a command
    };

    explicit HttpCloud(CloudAccount account, QObject *parent = nullptr);
    HttpCloud(CloudAccount account, Timing timing, QObject *parent = nullptr);
    ~HttpCloud() override;

    const CloudAccount &account() const { return m_account; }
    // Whether the push channel is open and signed in.
    bool isPushConnected() const { return m_pushReady; }

    void modifyZones(const CloudAccount &account, const QList<RecordZoneID> &saves, const QList<RecordZoneID> &deletes,
                     Callback<ModifyZonesResult> done) override;
    void modifyRecords(const CloudAccount &account, const QList<Record> &saves, const QList<Record> &deletes,
                       Callback<ModifyRecordsResult> done) override;
    void fetchDatabaseChanges(const CloudAccount &account, const QByteArray &token,
                              Callback<DatabaseChanges> done) override;
    void fetchZoneChanges(const CloudAccount &account, const RecordZoneID &zoneID, const QByteArray &token, int limit,
                          Callback<ZoneChanges> done) override;

    // The system's network is reachable again: the push channel opens anew at once (a socket of before may be dead
    // without knowing it) and databaseChanged tells the engine to send what waits and fetch.
    void networkReachable();

    // The name of the user whose token the account carries, as the server knows it.
    void userOfToken(const CloudAccount &account, Callback<QString> done);

    // The account's wrapped key: none inside when the account has none yet.
    void fetchKeyBox(const CloudAccount &account, Callback<std::optional<KeyBox>> done);
    // Stores a box. When the account's box is not the one the request replaces (another computer set one meanwhile)
    // it fails as serverRecordChanged.
    void storeKeyBox(const CloudAccount &account, const CloudProtocol::KeyBoxRequest &request, Callback<KeyBox> done);
    // A one-time sign-in code for another device of the account.
    void askLinkCode(const CloudAccount &account, Callback<CloudProtocol::LinkCode> done);

signals:
    void pushConnectedChanged(bool connected);

private:
    using Answer = std::function<void(CloudResult<QJsonObject>)>;

    // A POST of the body, or a GET when there is none.
    void post(const CloudAccount &account, const char *path, const std::optional<QByteArray> &body, int attempt,
              Answer done);
    // A failed TLS handshake with a server that speaks plain HTTP on that port is said so, with the address to use.
    void explainTlsFailure(const QString &server, CloudError failure, Answer done);
    void setPushReady(bool ready);
    template<typename T>
    void call(const CloudAccount &account, const char *path, const QJsonObject &body,
              std::optional<T> (*read)(const QJsonObject &), Callback<T> done);

    void connectPush();
    void pushClosed();
    void pushMessage(const QString &message);

    CloudAccount m_account;
    Timing m_timing;
    QNetworkAccessManager m_network;
    QWebSocket *m_push = nullptr;
    QTimer m_pushRetry;
    int m_pushFailures = 0;
    bool m_pushReady = false;
};

} // namespace SyncKit
