#include "Cloud/PushHub.h"

#include "Cloud/RateLimiter.h"
#include "Cloud/UserDirectory.h"
#include "SyncKit/CloudProtocol.h"

#include <QTimer>
#include <QWebSocket>

namespace Cloud {

using namespace SyncKit;

namespace {

constexpr int kSignInTimeoutMs = 10000;
constexpr int kMaxHelloBytes = 4096;
constexpr int kTryAgainLater = 1013;

} // namespace

PushHub::PushHub(UserDirectory &users, RateLimiter &guesses, QObject *parent)
    : QObject(parent), m_users(users), m_guesses(guesses)
{
}

PushHub::~PushHub()
{
    const auto sockets = m_userOf.keys() + m_waiting.values();
    for (QWebSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
}

int PushHub::socketCount() const
{
    return int(m_userOf.size());
}

void PushHub::accept(std::unique_ptr<QWebSocket> owned)
{
    QWebSocket *socket = owned.release();
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
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { drop(socket); });
    QTimer::singleShot(kSignInTimeoutMs, socket, [this, socket] {
        if (m_waiting.contains(socket))
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("no sign-in"));
    });
}

void PushHub::signIn(QWebSocket *socket, const QString &message)
{
    m_waiting.remove(socket);
    const QByteArray peer = RateLimiter::peerKey(socket->peerAddress(), socket->request().rawHeader("X-Forwarded-For"));
    if (m_guesses.take(peer, false)) {
        socket->close(QWebSocketProtocol::CloseCode(kTryAgainLater), QStringLiteral("try again later"));
        return;
    }
    const auto token = CloudProtocol::tokenOfPushHello(message.toUtf8());
    if (!token) {
        m_guesses.take(peer);
        socket->close(QWebSocketProtocol::CloseCode(CloudProtocol::kPushRejected), QStringLiteral("no token"));
        return;
    }
    const auto user = m_users.userForToken(*token);
    if (const auto *failure = std::get_if<StoreFailure>(&user)) {
        qWarning("vellora-cloud: push sign-in failed: %s", qPrintable(failure->message));
        socket->close(QWebSocketProtocol::CloseCode(kTryAgainLater), QStringLiteral("try again later"));
        return;
    }
    const auto id = std::get<std::optional<qint64>>(user);
    if (!id) {
        m_guesses.take(peer);
        socket->close(QWebSocketProtocol::CloseCode(CloudProtocol::kPushRejected), QStringLiteral("token rejected"));
        return;
    }
    m_signedIn[*id].insert(socket);
    m_userOf.insert(socket, *id);
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

void PushHub::drop(QWebSocket *socket)
{
    m_waiting.remove(socket);
    const auto user = m_userOf.find(socket);
    if (user != m_userOf.end()) {
        auto sockets = m_signedIn.find(*user);
        sockets->remove(socket);
        if (sockets->isEmpty())
            m_signedIn.erase(sockets);
        m_userOf.erase(user);
    }
    socket->deleteLater();
}

} // namespace Cloud
