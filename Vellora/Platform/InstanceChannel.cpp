#include "Vellora/Platform/InstanceChannel.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

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

Client::~Client()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Client::connectToApp(std::chrono::milliseconds timeout)
{
    const QByteArray path = QFile::encodeName(m_serverName);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));

    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return false;
    // A busy app may not have taken earlier connections yet: connecting waits for room as long as allowed.
    const timeval wait{time_t(timeout.count() / 1000), suseconds_t(timeout.count() % 1000 * 1000)};
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    int connected;
    do
        connected = ::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    while (connected != 0 && errno == EINTR);
    if (connected == 0 && ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK) == 0)
        return true;
    ::close(m_fd);
    m_fd = -1;
    return false;
}

std::optional<QJsonObject> Client::ask(const QJsonObject &request, std::chrono::milliseconds timeout)
{
    if (m_fd < 0)
        return std::nullopt;
    const QDeadlineTimer deadline(timeout);
    if (!send(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n', deadline))
        return std::nullopt;
    qsizetype lineEnd;
    while ((lineEnd = m_received.indexOf('\n')) < 0) {
        char buffer[4096];
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (got > 0)
            m_received.append(buffer, got);
        else if (got == 0 || (errno != EAGAIN && errno != EINTR) || !waitFor(POLLIN, deadline))
            return std::nullopt; // hung up, failed, or out of time
    }
    const QJsonDocument answer = QJsonDocument::fromJson(m_received.left(lineEnd));
    m_received.remove(0, lineEnd + 1);
    if (!answer.isObject())
        return std::nullopt;
    return answer.object();
}

bool Client::send(const QByteArray &bytes, const QDeadlineTimer &deadline)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        // No SIGPIPE when the app has gone away: that is an answer that never comes, not a reason to die.
        const ssize_t done = ::send(m_fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (done > 0)
            sent += done;
        else if ((errno != EAGAIN && errno != EINTR) || !waitFor(POLLOUT, deadline))
            return false;
    }
    return true;
}

bool Client::waitFor(short events, const QDeadlineTimer &deadline)
{
    pollfd entry{m_fd, events, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, int(std::min<qint64>(deadline.remainingTime(), INT_MAX)));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

StoreClaim claimStore(const QString &storePath, std::chrono::milliseconds wait)
{
    const QDeadlineTimer deadline(wait);
    for (;;) {
        auto app = std::make_unique<Client>(storePath);
        if (app->connectToApp())
            return {nullptr, std::move(app), {}};
        QString error;
        if (auto lock = StoreLock::tryLock(lockPathFor(storePath), &error))
            return {std::move(lock), nullptr, {}};
        if (!error.isEmpty())
            return {nullptr, nullptr, error}; // waiting would not change it
        if (deadline.hasExpired())
            return {};
        QThread::msleep(kPollMs);
    }
}

} // namespace InstanceChannel
