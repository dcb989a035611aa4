#include "Cloud/RequestGuard.h"

#include "SyncKit/CloudProtocol.h"

#include <QJsonDocument>
#include <QTimer>
#include <QTimerEvent>

namespace Cloud {

namespace {

// How long a refused client may go on sending before the connection is closed under it.
constexpr int kDrainMs = 2000;
// The first byte of a TLS handshake record: a client that took this port for HTTPS.
constexpr char kTlsHandshake = 0x16;

QByteArray headerValue(const QList<QByteArray> &lines, const QByteArray &name, int &count)
{
    QByteArray value;
    count = 0;
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0) {
            value = line.mid(colon + 1).trimmed();
            ++count;
        }
    }
    return value;
}

bool hasToken(const QByteArray &list, const QByteArray &token)
{
    for (const QByteArray &item : list.split(','))
        if (item.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QByteArray reasonOf(int status)
{
    switch (status) {
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

QByteArray limitJson(const QString &name, const QString &message)
{
    const QJsonObject error{
        {"error", SyncKit::CloudProtocol::errorJson(SyncKit::CloudError::Code::limitExceeded, message, name)}};
    return QJsonDocument(error).toJson(QJsonDocument::Compact);
}

// The answer written straight to a connection that is closed after it.
QByteArray answerOf(const ConnectionPolicy::Rejection &rejection)
{
    QByteArray answer = "HTTP/1.1 " + QByteArray::number(rejection.status) + ' ' + reasonOf(rejection.status) +
                        "\r\nContent-Type: application/json\r\nConnection: close\r\n";
    if (rejection.retryAfter > 0)
        answer += "Retry-After: " + QByteArray::number(rejection.retryAfter) + "\r\n";
    if (rejection.status == 401)
        answer += "WWW-Authenticate: Bearer\r\n";
    return answer + "Content-Length: " + QByteArray::number(rejection.body.size()) + "\r\n\r\n" + rejection.body;
}

// Held by a connection's socket as its child, so that the count of its address drops when the socket goes, whoever
// owns it by then: a push socket's WebSocket takes every signal of the socket away before destroying it.
class ConnectionTicket : public QObject
{
public:
    ConnectionTicket(QObject *socket, std::shared_ptr<ConnectionPolicy> policy, QString key)
        : QObject(socket), m_policy(std::move(policy)), m_key(std::move(key))
    {
    }
    ~ConnectionTicket() override
    {
        const auto found = m_policy->connections.find(m_key);
        if (found != m_policy->connections.end() && --*found <= 0)
            m_policy->connections.erase(found);
    }

private:
    std::shared_ptr<ConnectionPolicy> m_policy;
    QString m_key;
};

} // namespace

QByteArray ConnectionPolicy::Head::header(const QByteArray &name) const
{
    int count = 0;
    return headerValue(lines, name, count);
}

bool admitConnection(QTcpSocket *socket, const std::shared_ptr<ConnectionPolicy> &policy)
{
    const QHostAddress peer = socket->peerAddress();
    const bool counted = std::none_of(policy->trustedProxies.begin(), policy->trustedProxies.end(),
                                      [&](const QHostAddress &proxy) {
                                          return proxy.isEqual(peer, QHostAddress::TolerantConversion);
                                      });
    if (!counted)
        return true;
    const QString key = peer.toString();
    int &open = policy->connections[key];
    if (open >= policy->maxConnectionsPerPeer) {
        const QByteArray answer = answerOf(
            {503,
             limitJson(QStringLiteral("tooManyConnections"),
                       QStringLiteral("at most %1 connections from one address").arg(policy->maxConnectionsPerPeer)),
             QStringLiteral("tooManyConnections"), 1});
        socket->write(answer);
        socket->disconnectFromHost();
        QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kDrainMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        if (policy->refused)
            policy->refused({{}, 503, QStringLiteral("tooManyConnections")});
        return false;
    }
    ++open;
    new ConnectionTicket(socket, policy, key);
    return true;
}

void RequestGuard::watch(QTcpSocket *socket, std::shared_ptr<ConnectionPolicy> policy)
{
    new RequestGuard(socket, std::move(policy));
}

RequestGuard::RequestGuard(QTcpSocket *socket, std::shared_ptr<ConnectionPolicy> policy)
    : QObject(socket), m_socket(socket), m_policy(std::move(policy))
{
    connect(socket, &QTcpSocket::readyRead, this, &RequestGuard::inspect);
    // An answer still being written to a slow reader keeps its connection.
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_state == State::idle)
            m_deadline.start(kIdleMs, this);
    });
    m_deadline.start(kIdleMs, this);
}

RequestGuard::~RequestGuard()
{
    releaseBody();
}

void RequestGuard::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_deadline.timerId())
        return QObject::timerEvent(event);
    m_deadline.stop();
    switch (m_state) {
    case State::idle:
        m_socket->disconnectFromHost();
        break;
    case State::head:
        refuse(pathOf(m_head), 408, QStringLiteral("headTimeout"),
               QStringLiteral("the head of a request must arrive within %1 seconds").arg(kHeadMs / 1000));
        break;
    case State::body:
        refuse({}, 408, QStringLiteral("bodyTimeout"),
               QStringLiteral("the body of a request stopped coming for %1 seconds").arg(kIdleMs / 1000));
        break;
    case State::closing:
        m_socket->abort();
        break;
    }
}

// Sees the bytes that arrived since the last time; the HTTP server reads them all right after.
void RequestGuard::inspect()
{
    if (m_state == State::closing)
        return drain();
    const QByteArray incoming = m_socket->peek(m_socket->bytesAvailable());
    if (std::exchange(m_fresh, false) && incoming.startsWith(kTlsHandshake))
        return refuse({}, 400, QStringLiteral("plainHttp"),
                      QStringLiteral("this server speaks plain HTTP, not HTTPS: use an http:// address"));
    qsizetype at = 0;
    while (at < incoming.size() && m_state != State::closing) {
        if (m_bodyLeft > 0) {
            const qint64 skipped = std::min<qint64>(m_bodyLeft, incoming.size() - at);
            m_bodyLeft -= skipped;
            at += skipped;
            if (m_bodyLeft == 0)
                requestComplete();
            else
                m_deadline.start(kIdleMs, this);
            continue;
        }
        // Empty lines before a request line are allowed; they are not part of its head.
        if (m_head.isEmpty()) {
            while (at < incoming.size() && (incoming[at] == '\r' || incoming[at] == '\n'))
                ++at;
            if (at == incoming.size())
                break;
            // The whole head is due within a few seconds of its first byte, however it trickles in.
            m_state = State::head;
            m_deadline.start(kHeadMs, this);
        }
        const qsizetype before = m_head.size();
        const qsizetype taken = std::min<qsizetype>(incoming.size() - at, kMaxHeadBytes + 4 - before);
        m_head.append(incoming.constData() + at, taken);
        const qsizetype end = m_head.indexOf("\r\n\r\n", std::max<qsizetype>(0, before - 3));
        if (end < 0) {
            at += taken;
            if (m_head.size() > kMaxHeadBytes)
                refuse(pathOf(m_head), 431, QStringLiteral("headTooLarge"),
                       QStringLiteral("the head of a request holds at most %1 KiB").arg(kMaxHeadBytes / 1024));
            continue;
        }
        at += end + 4 - before;
        const QByteArray head = m_head.left(end + 4);
        m_head.clear();
        checkHead(head);
    }
}

QByteArray RequestGuard::pathOf(const QByteArray &head)
{
    return head.left(head.indexOf('\n')).trimmed().split(' ').value(1);
}

void RequestGuard::checkHead(const QByteArray &head)
{
    const QByteArray requestLine = head.left(head.indexOf('\n')).trimmed();
    const QList<QByteArray> lines = head.split('\n').mid(1);
    int lengths = 0;
    int encodings = 0;
    int upgrades = 0;
    int connections = 0;
    const QByteArray length = headerValue(lines, "content-length", lengths);
    headerValue(lines, "transfer-encoding", encodings);
    const QByteArray upgrade = headerValue(lines, "upgrade", upgrades);
    const QByteArray connection = headerValue(lines, "connection", connections);
    const QByteArray path = pathOf(head);

    if (upgrades > 0 && upgrade.compare("websocket", Qt::CaseInsensitive) == 0 && m_policy->upgrade)
        return handOver();
    // The body's end must be known from the head alone, read the same way here as by the HTTP server.
    if (encodings > 0)
        return refuse(path, 411, QStringLiteral("lengthRequired"),
                      QStringLiteral("a request body must be sent with its Content-Length"));
    bool digits = !length.isEmpty();
    for (const char c : length)
        digits = digits && c >= '0' && c <= '9';
    if (lengths > 1 || (lengths == 1 && !digits))
        return refuse(path, 400, QStringLiteral("badRequest"), QStringLiteral("the Content-Length cannot be read"));
    const qint64 declared = lengths == 0 ? 0 : length.size() <= 18 ? length.toLongLong() : -1;
    if (declared < 0 || declared > m_policy->maxBodyBytes)
        return refuse(path, 413, QStringLiteral("bodyTooLarge"),
                      QStringLiteral("a request body holds at most %1 MiB").arg(m_policy->maxBodyBytes / 1024 / 1024));
    m_closeAfter = hasToken(connection, "close") ||
                   (requestLine.endsWith("HTTP/1.0") && !hasToken(connection, "keep-alive"));
    if (declared > 0) {
        if (m_policy->admit) {
            if (const auto rejection = m_policy->admit(ConnectionPolicy::Head{m_socket->peerAddress(), path, lines}))
                return refuse(path, *rejection);
        }
        if (m_policy->bodyBytesInFlight + declared > m_policy->maxBodyBytesInFlight)
            return refuse(path, 503, QStringLiteral("busy"),
                          QStringLiteral("the server is reading many requests at once; try again in a moment"), 1);
        m_reserved = declared;
        m_policy->bodyBytesInFlight += declared;
    }
    m_bodyLeft = declared;
    if (declared == 0)
        return requestComplete();
    m_state = State::body;
    m_deadline.start(kIdleMs, this);
}

// The HTTP server answers the request in the same turn of the event loop, right after this guard has looked.
void RequestGuard::requestComplete()
{
    releaseBody();
    if (m_closeAfter) {
        m_state = State::closing;
        m_deadline.start(kIdleMs, this);
        QMetaObject::invokeMethod(this, [this] { m_socket->disconnectFromHost(); }, Qt::QueuedConnection);
        return;
    }
    m_state = State::idle;
    m_deadline.start(kIdleMs, this);
}

void RequestGuard::handOver()
{
    // What follows is the WebSocket's own framing, whose messages have limits of their own. The HTTP server lets go
    // of the connection entirely, so that the push channel owns it until it closes.
    m_state = State::closing;
    m_deadline.stop();
    disconnect(m_socket, &QTcpSocket::readyRead, nullptr, nullptr);
    disconnect(m_socket, &QTcpSocket::disconnected, nullptr, nullptr);
    disconnect(m_socket, nullptr, this, nullptr);
    // The HTTP server keeps an object for each connection until it hears that the socket was destroyed, which it
    // never would: the WebSocket takes the socket's signals away before destroying it. Told now, it lets go at once.
    emit m_socket->destroyed(m_socket);
    disconnect(m_socket, &QObject::destroyed, nullptr, nullptr);
    QTcpSocket *socket = m_socket;
    deleteLater();
    m_policy->upgrade(socket);
}

void RequestGuard::refuse(const QByteArray &path, int status, const QString &name, const QString &message,
                          int retryAfter)
{
    refuse(path, ConnectionPolicy::Rejection{status, limitJson(name, message), name, retryAfter});
}

void RequestGuard::refuse(const QByteArray &path, const ConnectionPolicy::Rejection &rejection)
{
    m_state = State::closing;
    m_head.clear();
    releaseBody();
    // The HTTP server must not read this request: only this guard hears the socket from now on.
    disconnect(m_socket, &QTcpSocket::readyRead, nullptr, nullptr);
    connect(m_socket, &QTcpSocket::readyRead, this, &RequestGuard::drain);
    const QByteArray answer = answerOf(rejection);
    if (m_socket->write(answer) != answer.size())
        m_socket->abort();
    drain();
    m_deadline.start(kDrainMs, this);
    if (m_policy->refused)
        m_policy->refused({path, rejection.status, rejection.name});
}

void RequestGuard::releaseBody()
{
    m_policy->bodyBytesInFlight -= std::exchange(m_reserved, 0);
}

void RequestGuard::drain()
{
    m_socket->skip(m_socket->bytesAvailable());
}

} // namespace Cloud
