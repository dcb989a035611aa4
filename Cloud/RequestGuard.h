#pragma once

#include <QBasicTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <memory>
#include <optional>

namespace Cloud {

// What the connections of one listening server share: the limits, the bodies being read at this moment, the
// connections of each peer address, and the server's say on a request from its head alone.
struct ConnectionPolicy
{
    // A request refused before its body: the status, the JSON body of the answer, and the error's name.
    struct Rejection
    {
        int status = 0;
        QByteArray body;
        QString name;
        int retryAfter = 0;
    };
    struct Head
    {
        QHostAddress peer;
        QByteArray path;
        QList<QByteArray> lines; // the header lines, after the request line
        QByteArray header(const QByteArray &name) const;
    };
    // For the server's count of refusals.
    struct Refusal
    {
        QByteArray path;
        int status = 0;
        QString name;
    };

    qint64 maxBodyBytes = 0;
    // All the bodies being read at once, so that many uploads together cannot fill the memory.
    qint64 maxBodyBytesInFlight = 0;
    int maxConnectionsPerPeer = 0;
    // Connections from these are not counted per address: behind them are many devices.
    QList<QHostAddress> trustedProxies;
    // Asked before a byte of a body is read; a rejection is the answer.
    std::function<std::optional<Rejection>(const Head &)> admit;
    std::function<void(const Refusal &)> refused;
    // A WebSocket's handshake arrived: the socket is handed over, with the handshake still unread.
    std::function<void(QTcpSocket *)> upgrade;

    qint64 bodyBytesInFlight = 0;
    QHash<QString, int> connections;
};

// Reads the head of every request on one connection as its bytes arrive, before the HTTP server parses them, which
// would otherwise gather a whole body in memory however large it is. A body is read only once the server admitted
// its request from the head (its token) and there is room for it among the bodies being read. A request that
// declares a body over the limit, one that does not declare its length (chunked), a head that does not arrive within
// a few seconds, a body that stops coming, or a TLS hello on the plain port is answered at once with a JSON error and
// the connection is closed; what the client still sends is read and dropped for a moment, so that it gets to read
// the answer rather than a reset. An idle connection is closed, and so is one whose request asked for it
// ("Connection: close") once it is answered. A WebSocket handshake is handed over with its connection.
class RequestGuard : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kMaxHeadBytes = 64 * 1024;
    static constexpr int kHeadMs = 5000;
    static constexpr int kIdleMs = 30000;

    // Must be called before anything else connects to the socket's readyRead: this guard reads first.
    static void watch(QTcpSocket *socket, std::shared_ptr<ConnectionPolicy> policy);

    ~RequestGuard() override;

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    enum class State { idle, head, body, closing };

    RequestGuard(QTcpSocket *socket, std::shared_ptr<ConnectionPolicy> policy);

    void inspect();
    void checkHead(const QByteArray &head);
    void requestComplete();
    void handOver();
    void refuse(const QByteArray &path, int status, const QString &name, const QString &message,
                int retryAfter = 0);
    void refuse(const QByteArray &path, const ConnectionPolicy::Rejection &rejection);
    void releaseBody();
    void drain();
    static QByteArray pathOf(const QByteArray &head);

    QTcpSocket *m_socket;
    std::shared_ptr<ConnectionPolicy> m_policy;
    QByteArray m_head;      // of the request being read, up to its blank line
    qint64 m_bodyLeft = 0;  // bytes of the current request's body still to come
    qint64 m_reserved = 0;  // of the bodies in flight, for this request's
    State m_state = State::idle;
    bool m_fresh = true;    // nothing read yet on this connection
    bool m_closeAfter = false;
    QBasicTimer m_deadline;
};

// Counts the connection against its peer address, or turns it away when that address has too many.
bool admitConnection(QTcpSocket *socket, const std::shared_ptr<ConnectionPolicy> &policy);

// A listening server whose connections are watched by a RequestGuard before the HTTP server takes them; Base is
// QTcpServer, or QSslServer for TLS (whose connections come out after their handshake). A peer address past its
// number of connections is told so and closed.
template<typename Base> class GuardedServer : public Base
{
public:
    GuardedServer(std::shared_ptr<ConnectionPolicy> policy, QObject *parent = nullptr)
        : Base(parent), m_policy(std::move(policy))
    {
    }

    QTcpSocket *nextPendingConnection() override
    {
        while (QTcpSocket *socket = Base::nextPendingConnection()) {
            if (admitConnection(socket, m_policy)) {
                RequestGuard::watch(socket, m_policy);
                return socket;
            }
        }
        return nullptr;
    }

private:
    std::shared_ptr<ConnectionPolicy> m_policy;
};

} // namespace Cloud
