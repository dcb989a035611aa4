#include "Cloud/PushHub.h"

#include "Cloud/UserDirectory.h"
#include "SyncKit/CloudProtocol.h"

#include <QWebSocket>

namespace Cloud {

using namespace SyncKit;

namespace {

constexpr int kSignInTimeoutMs = 10000;
constexpr int kMaxHelloBytes = 4096;
constexpr int kTryAgainLater = 1013;
// A device that has not answered a ping by the next one is gone (a laptop closed, a network changed).
constexpr int kPingIntervalMs = 30000;
constexpr int kRevocationCheckMs = 1000;
// How long a device may take to answer the server's closing handshake before its connection is cut.
constexpr int kCloseGraceMs = 5000;

// A peer that never answers the closing handshake (gone, or not reading) would keep its socket for ever.
void closeSocket(QWebSocket *socket, int code, const QString &reason)
{
    socket->close(QWebSocketProtocol::CloseCode(code), reason);
    QTimer::singleShot(kCloseGraceMs, socket, [socket] { socket->abort(); });
}

} // namespace

PushHub::PushHub(UserDirectory &users, Authenticate authenticate, QObject *parent)
    : QObject(parent), m_users(users), m_authenticate(std::move(authenticate)),
      m_handshakes(QStringLiteral("vellora-cloud"), QWebSocketServer::NonSecureMode)
{
    // The handshake's own timeout ends connections that never finish it.
    connect(&m_handshakes, &QWebSocketServer::newConnection, this, [this] {
        while (m_handshakes.hasPendingConnections())
            accept(m_handshakes.nextPendingConnection());
    });
    m_pings.setInterval(kPingIntervalMs);
    connect(&m_pings, &QTimer::timeout, this, &PushHub::ping);
    m_pings.start();
    m_revocations.setInterval(kRevocationCheckMs);
    connect(&m_revocations, &QTimer::timeout, this, &PushHub::checkRevocations);
    m_revocations.start();
    const auto mark = m_users.revocationMark();
    if (const auto *text = std::get_if<QString>(&mark))
        m_revocationMark = *text;
}

PushHub::~PushHub()
{
    const auto sockets = m_devices.keys() + m_waiting.values();
    for (QWebSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
}

int PushHub::socketCount() const
{
    return int(m_devices.size());
}

void PushHub::upgrade(QTcpSocket *socket)
{
    m_handshakes.handleConnection(socket);
    // The handshake is already in the socket's buffer, and no more may come.
    QMetaObject::invokeMethod(socket, [socket] { emit socket->readyRead(); }, Qt::QueuedConnection);
}

void PushHub::accept(QWebSocket *socket)
{
    socket->setParent(this);
    if (socket->requestUrl().path() != QLatin1String(CloudProtocol::kPushPath)) {
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("no such channel"));
        socket->deleteLater();
        return;
    }
    socket->setMaxAllowedIncomingMessageSize(kMaxHelloBytes);
    m_waiting.insert(socket);
    connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString &message) {
        if (m_waiting.contains(socket))
            signIn(socket, message);
    });
    connect(socket, &QWebSocket::pong, this, [this, socket] {
        const auto device = m_devices.find(socket);
        if (device != m_devices.end())
            device->answered = true;
    });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { drop(socket); });
    QTimer::singleShot(kSignInTimeoutMs, socket, [this, socket] {
        if (m_waiting.contains(socket))
            closeSocket(socket, QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("no sign-in"));
    });
}

void PushHub::signIn(QWebSocket *socket, const QString &message)
{
    m_waiting.remove(socket);
    const QString token = CloudProtocol::tokenOfPushHello(message.toUtf8()).value_or(QString());
    const auto user =
        m_authenticate(socket->peerAddress(), socket->request().rawHeader("X-Forwarded-For"), token);
    if (const auto *rejection = std::get_if<ConnectionPolicy::Rejection>(&user)) {
        // "Later" for a peer that must wait or a database that failed; "no" only for the token itself.
        if (rejection->status == 401)
            closeSocket(socket, CloudProtocol::kPushRejected, QStringLiteral("token rejected"));
        else
            closeSocket(socket, kTryAgainLater, QStringLiteral("try again later"));
        return;
    }
    const qint64 id = std::get<qint64>(user);
    m_signedIn[id].insert(socket);
    m_devices.insert(socket, Device{id, token});
    socket->sendTextMessage(QLatin1String(CloudProtocol::kPushReady));
}

void PushHub::notify(qint64 user)
{
    const auto sockets = m_signedIn.value(user);
    for (QWebSocket *socket : sockets) {
        // A socket that cannot take a message is broken: its device reconnects and fetches anyway.
        if (socket->sendTextMessage(QLatin1String(CloudProtocol::kPushChanged)) <= 0)
            socket->abort();
    }
}

void PushHub::notifyAll()
{
    const auto users = m_signedIn.keys();
    for (qint64 user : users)
        notify(user);
}

void PushHub::ping()
{
    QList<QWebSocket *> silent;
    for (auto device = m_devices.begin(); device != m_devices.end(); ++device) {
        if (!device->answered)
            silent.append(device.key());
        device->answered = false;
        device.key()->ping();
    }
    for (QWebSocket *socket : std::as_const(silent))
        socket->abort();
}

// Tokens are revoked by another process (the command line, or another server on the same database), which leaves a
// new mark in the database; then every socket's token is looked at again.
void PushHub::checkRevocations()
{
    if (m_devices.isEmpty())
        return;
    const auto mark = m_users.revocationMark();
    if (!std::holds_alternative<QString>(mark) || std::get<QString>(mark) == m_revocationMark)
        return;
    QList<QWebSocket *> revoked;
    for (auto device = m_devices.cbegin(); device != m_devices.cend(); ++device) {
        const auto user = m_users.userForToken(device->token);
        // A database that fails now says nothing about the token: it is looked at again at the next mark.
        if (std::holds_alternative<StoreFailure>(user))
            return;
        if (std::get<std::optional<qint64>>(user) != device->user)
            revoked.append(device.key());
    }
    m_revocationMark = std::get<QString>(mark);
    for (QWebSocket *socket : std::as_const(revoked))
        closeSocket(socket, CloudProtocol::kPushRejected, QStringLiteral("token revoked"));
}

void PushHub::drop(QWebSocket *socket)
{
    m_waiting.remove(socket);
    const auto device = m_devices.find(socket);
    if (device != m_devices.end()) {
        auto sockets = m_signedIn.find(device->user);
        sockets->remove(socket);
        if (sockets->isEmpty())
            m_signedIn.erase(sockets);
        m_devices.erase(device);
    }
    socket->deleteLater();
}

} // namespace Cloud
