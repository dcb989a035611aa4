#pragma once

#include <QHash>
#include <QObject>
#include <QSet>

#include <memory>

class QWebSocket;

namespace Cloud {

class RateLimiter;
class UserDirectory;

// The devices' push sockets. A socket names its token in its first message and, once accepted, hears a short
// "changed" message whenever its user's database changes. Sockets that do not sign in soon are closed; a rejected
// token counts as a guess of its peer, as on the HTTP routes.
class PushHub : public QObject
{
    Q_OBJECT

public:
    PushHub(UserDirectory &users, RateLimiter &guesses, QObject *parent = nullptr);
    ~PushHub() override;

    void accept(std::unique_ptr<QWebSocket> socket);
    void notify(qint64 user);
    void notifyAll();
    int socketCount() const;

private:
    void signIn(QWebSocket *socket, const QString &message);
    void drop(QWebSocket *socket);

    UserDirectory &m_users;
    RateLimiter &m_guesses;
    QSet<QWebSocket *> m_waiting;
    QHash<qint64, QSet<QWebSocket *>> m_signedIn;
    QHash<QWebSocket *, qint64> m_userOf;
};

} // namespace Cloud
