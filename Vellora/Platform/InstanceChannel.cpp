#include "Vellora/Platform/InstanceChannel.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QThread>

#include <unistd.h>

namespace InstanceChannel {

namespace {

constexpr int kPollMs = 20;

// One path for one file, however it was named: relative, through a linked folder.
QString canonicalStorePath(const QString &storePath)
{
    const QFileInfo info(storePath);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? info.absoluteFilePath() : folder + QLatin1Char('/') + info.fileName();
}

// The same folder for the app started by the desktop and for a command typed in a shell that lacks
// XDG_RUNTIME_DIR (a login over ssh): the user's runtime folder is found by its usual place too.
QString runtimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime;
    const QFileInfo usual(QStringLiteral("/run/user/%1").arg(getuid()));
    if (usual.isDir() && usual.ownerId() == getuid())
        return usual.filePath();
    return QDir::tempPath();
}

} // namespace

QString lockPathFor(const QString &storePath)
{
    return storePath + QStringLiteral(".lock");
}

QString serverNameFor(const QString &storePath)
{
    const QByteArray hash =
        QCryptographicHash::hash(canonicalStorePath(storePath).toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return runtimeFolder() + QStringLiteral("/vellora-%1-%2.socket").arg(getuid()).arg(QString::fromLatin1(hash));
}

QJsonObject showWindowRequest()
{
    return {{"request", "showWindow"}};
}

QJsonObject toggleWindowRequest()
{
    return {{"request", "toggleWindow"}};
}

QJsonObject commandRequest(const QJsonObject &command)
{
    return {{"request", "command"}, {"command", command}};
}

QJsonObject okAnswer(const QJsonObject &outcome)
{
    QJsonObject answer{{"ok", true}};
    if (!outcome.isEmpty())
        answer.insert("outcome", outcome);
    return answer;
}

QJsonObject errorAnswer(const QString &message)
{
    return {{"ok", false}, {"error", message}};
}

Client::Client(const QString &storePath) : m_serverName(serverNameFor(storePath)) {}

bool Client::connectToApp(std::chrono::milliseconds timeout)
{
    m_socket.connectToServer(m_serverName);
    return m_socket.waitForConnected(int(timeout.count()));
}

std::optional<QJsonObject> Client::ask(const QJsonObject &request, std::chrono::milliseconds timeout)
{
    if (m_socket.state() != QLocalSocket::ConnectedState)
        return std::nullopt;
    QDeadlineTimer deadline(timeout);
    m_socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    while (m_socket.bytesToWrite() > 0) {
        if (!m_socket.waitForBytesWritten(int(deadline.remainingTime())))
            return std::nullopt;
    }
    while (!m_socket.canReadLine()) {
        if (!m_socket.waitForReadyRead(int(deadline.remainingTime())))
            return std::nullopt;
    }
    const QJsonDocument answer = QJsonDocument::fromJson(m_socket.readLine());
    if (!answer.isObject())
        return std::nullopt;
    return answer.object();
}

StoreClaim claimStore(const QString &storePath, std::chrono::milliseconds wait)
{
    auto lock = std::make_unique<QLockFile>(lockPathFor(storePath));
    // The app holds the lock for as long as it runs: a lock is stale only when its process is gone, never for its
    // age (which would also hand over the lock of an app on another machine that shares this home folder).
    lock->setStaleLockTime(0);
    const QDeadlineTimer deadline(wait);
    for (;;) {
        auto app = std::make_unique<Client>(storePath);
        if (app->connectToApp())
            return {nullptr, std::move(app)};
        if (lock->tryLock(0))
            return {std::move(lock), nullptr};
        if (deadline.hasExpired())
            return {};
        QThread::msleep(kPollMs);
    }
}

} // namespace InstanceChannel
