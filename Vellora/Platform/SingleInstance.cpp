#include "Vellora/Platform/SingleInstance.h"

#include <QFile>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <sys/stat.h>

SingleInstance::SingleInstance(QString storePath, Callbacks callbacks, QObject *parent)
    : QObject(parent), m_storePath(std::move(storePath)), m_callbacks(std::move(callbacks))
{
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

SingleInstance::Start SingleInstance::start(std::chrono::milliseconds wait)
{
    InstanceChannel::StoreClaim claim = InstanceChannel::claimStore(m_storePath, wait);
    if (claim.lock) {
        m_lock = std::move(claim.lock);
        listen();
        return Start::primary;
    }
    if (claim.app) {
        const auto answer = claim.app->ask(InstanceChannel::showWindowRequest());
        if (answer && answer->value("ok").toBool())
            return Start::handedOver;
        m_error = QStringLiteral("Vellora is already running but does not answer.");
        return Start::failed;
    }
    m_error = claim.error.isEmpty() ? QStringLiteral("The store file %1 is in use by another vellora.").arg(m_storePath)
                                    : claim.error.left(1).toUpper() + claim.error.mid(1) + QLatin1Char('.');
    return Start::failed;
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

void SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    QString error;
    const QString name = InstanceChannel::serverNameFor(m_storePath, &error);
    // The lock is ours, so a socket left at this name belongs to an app that ended without closing it.
    if (!name.isEmpty() && !m_server->listen(name) && QLocalServer::removeServer(name))
        m_server->listen(name);
    if (m_server->isListening()) {
        // Kept through a periodic clean-up of the folder, as the lock file is.
        ::chmod(QFile::encodeName(name).constData(), S_ISVTX | S_IRWXU);
    } else {
        m_error = QStringLiteral("Other vellora commands cannot reach this app: %1")
                      .arg(name.isEmpty() ? error : m_server->errorString());
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection())
            serve(socket);
    });
}

void SingleInstance::serve(QLocalSocket *socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // Only the user's own processes are served; another user's connection is closed before a byte is read or sent.
    const std::optional<uid_t> peer = InstanceChannel::peerUid(int(socket->socketDescriptor()));
    if (!peer || *peer != InstanceChannel::expectedPeerUid()) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    // The socket reads no more than one request's worth ahead, so a longer one is never kept whole.
    socket->setReadBufferSize(InstanceChannel::kMaxRequestBytes + 1);
    connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        while (socket->canReadLine()) {
            const QByteArray line = socket->readLine();
            if (QJsonDocument::fromJson(line).object().value("request").toString() == QLatin1String("sync") &&
                m_callbacks.syncNow) {
                // A round takes its time on the network: the answer goes out when it ends, if the caller still waits.
                m_callbacks.syncNow([socket = QPointer<QLocalSocket>(socket)](const QJsonObject &answer) {
                    if (socket)
                        socket->write(QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n');
                });
                continue;
            }
            socket->write(QJsonDocument(answer(line)).toJson(QJsonDocument::Compact) + '\n');
        }
        if (socket->bytesAvailable() > InstanceChannel::kMaxRequestBytes) {
            // No line of ours is this long: the request is refused with the reason, unread, and the connection closed.
            disconnect(socket, &QLocalSocket::readyRead, socket, nullptr);
            socket->write(QJsonDocument(InstanceChannel::errorAnswer(InstanceChannel::requestTooLongMessage()))
                              .toJson(QJsonDocument::Compact) +
                          '\n');
            socket->disconnectFromServer();
        }
    });
}

QJsonObject SingleInstance::answer(const QByteArray &line)
{
    const QJsonDocument document = QJsonDocument::fromJson(line);
    const QJsonObject request = document.object();
    const QString kind = request.value("request").toString();
    if (kind == QLatin1String("showWindow") && m_callbacks.showWindow) {
        m_callbacks.showWindow();
        return InstanceChannel::okAnswer();
    }
    if (kind == QLatin1String("toggleWindow") && m_callbacks.toggleWindow) {
        m_callbacks.toggleWindow();
        return InstanceChannel::okAnswer();
    }
    if (kind == QLatin1String("command") && m_callbacks.runCommand && request.value("command").isObject())
        return answerCommand(request);
    return InstanceChannel::errorAnswer(QStringLiteral("The running app does not understand this request."));
}

QJsonObject SingleInstance::answerCommand(const QJsonObject &request)
{
    while (!m_answered.empty() && m_answered.front().forgetAt.hasExpired())
        m_answered.pop_front();
    const QString id = request.value("id").toString();
    if (!id.isEmpty()) {
        for (const Answered &answered : m_answered) {
            if (answered.id == id)
                return answered.answer; // asked again: the command ran the first time
        }
    }
    QJsonObject answer = InstanceChannel::okAnswer(m_callbacks.runCommand(request.value("command").toObject()));
    if (!id.isEmpty()) {
        if (m_answered.size() >= size_t(InstanceChannel::kRememberedRequests))
            m_answered.pop_front();
        m_answered.push_back({id, answer, QDeadlineTimer(InstanceChannel::kRequestIdMemory)});
    }
    return answer;
}
