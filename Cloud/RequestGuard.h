#pragma once

#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

namespace Cloud {

// Reads the head of every request on one connection as its bytes arrive, before the HTTP server parses them, which
// would otherwise gather a whole body in memory however large it is. A request that declares a body over the limit,
// one that does not declare its length (chunked), or a head that never ends is answered at once with a JSON error
// and the connection is closed; what the client still sends is read and dropped for a moment, so that it gets to
// read the answer rather than a reset. A connection that turns into a WebSocket is left alone from then on.
class RequestGuard : public QObject
{
    Q_OBJECT

public:
    struct Refusal
    {
        QByteArray path;
        int status = 0;
        QString name;
    };
    using Refused = std::function<void(const Refusal &)>;

    static constexpr qint64 kMaxHeadBytes = 64 * 1024;

    // Must be called before anything else connects to the socket's readyRead: this guard reads first.
    static void watch(QTcpSocket *socket, qint64 maxBodyBytes, Refused refused);

private:
    RequestGuard(QTcpSocket *socket, qint64 maxBodyBytes, Refused refused);

    void inspect();
    void checkHead(const QByteArray &head);
    void refuse(const QByteArray &path, int status, const QByteArray &reason, const QString &name,
                const QString &message);
    void drain();
    static QByteArray pathOf(const QByteArray &head);

    QTcpSocket *m_socket;
    qint64 m_maxBodyBytes;
    Refused m_refused;
    QByteArray m_head;     // of the request being read, up to its blank line
    qint64 m_bodyLeft = 0; // bytes of the current request's body still to come
    bool m_closing = false; // refused, or left to the WebSocket
};

// A listening server whose connections are watched by a RequestGuard before the HTTP server takes them; Base is
// QTcpServer, or QSslServer for TLS (whose connections come out after their handshake).
template<typename Base> class GuardedServer : public Base
{
public:
    GuardedServer(qint64 maxBodyBytes, RequestGuard::Refused refused, QObject *parent = nullptr)
        : Base(parent), m_maxBodyBytes(maxBodyBytes), m_refused(std::move(refused))
    {
    }

    QTcpSocket *nextPendingConnection() override
    {
        QTcpSocket *socket = Base::nextPendingConnection();
        if (socket)
            RequestGuard::watch(socket, m_maxBodyBytes, m_refused);
        return socket;
    }

private:
    qint64 m_maxBodyBytes;
    RequestGuard::Refused m_refused;
};

} // namespace Cloud
