#pragma once

#include "Cloud/RequestGuard.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QWebSocketServer>

#include <memory>
#include <variant>

class QWebSocket;

namespace Cloud {

class UserDirectory;

// The devices' push sockets. A socket names its token in its first message and, once accepted, hears a short
// "changed" message whenever its user's database changes. Sockets that do not sign in soon are closed; a token is
// judged as on the HTTP routes. Signed-in sockets are pinged, and closed when they stop answering, and a socket
// whose token is revoked is closed within a second.
class PushHub : public QObject
{
    Q_OBJECT

public:
    // The user of a token presented from a peer (with the X-Forwarded-For it sent), or the refusal.
    using Authenticate = std::function<std::variant<qint64, ConnectionPolicy::Rejection>(
        const QHostAddress &peer, const QByteArray &forwardedFor, const QString &token)>;

    PushHub(UserDirectory &users, Authenticate authenticate, QObject *parent = nullptr);
    ~PushHub() override;

    // Takes a connection whose WebSocket handshake has arrived and is still unread.
    void upgrade(QTcpSocket *socket);
    void notify(qint64 user);
    void notifyAll();
    int socketCount() const;

private:
    void accept(QWebSocket *socket);
    void signIn(QWebSocket *socket, const QString &message);
    void drop(QWebSocket *socket);
    void ping();
    void checkRevocations();

    UserDirectory &m_users;
    Authenticate m_authenticate;
    QWebSocketServer m_handshakes;
    QSet<QWebSocket *> m_waiting;
    QHash<qint64, QSet<QWebSocket *>> m_signedIn;
    struct Device
    {
        qint64 user = 0;
        QString token;
        bool answered = true; // the last ping
    };
    QHash<QWebSocket *, Device> m_devices;
    QTimer m_pings;
    QTimer m_revocations;
    QString m_revocationMark;
};

} // namespace Cloud
