#include "Vellora/Platform/InstanceChannel.h"

#include "Vellora/Files/RuntimeFolder.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QThread>
#include <QUuid>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

namespace InstanceChannel {

namespace {

constexpr int kPollMs = 20;

std::atomic<qint64> expectedPeerOverride{-1};

// One path for one file, however it was named: relative, through a linked folder. The file itself is not followed:
// a save puts a new file at the path, and the name must stay the same when it does.
QString canonicalStorePath(const QString &storePath)
{
    const QFileInfo info(storePath);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? info.absoluteFilePath() : folder + QLatin1Char('/') + info.fileName();
}

// A file in the user's private runtime folder named after the store file, so that each store has its own.
QString pathInRuntimeFolder(const QString &storePath, const char *suffix, QString *error)
{
    const QString folder = RuntimeFolder::find(error);
    if (folder.isEmpty())
        return {};
    const QByteArray hash =
        QCryptographicHash::hash(canonicalStorePath(storePath).toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return folder + QStringLiteral("/vellora-%1.%2").arg(QString::fromLatin1(hash), QLatin1String(suffix));
}

} // namespace

QString lockPathFor(const QString &storePath, QString *error)
{
    return pathInRuntimeFolder(storePath, "lock", error);
}

QString serverNameFor(const QString &storePath, QString *error)
{
    return pathInRuntimeFolder(storePath, "socket", error);
}

uid_t expectedPeerUid()
{
    const qint64 overridden = expectedPeerOverride.load();
    return overridden >= 0 ? uid_t(overridden) : ::geteuid();
}

void setExpectedPeerUidForTesting(std::optional<uid_t> uid)
{
    expectedPeerOverride.store(uid ? qint64(*uid) : -1);
}

std::optional<uid_t> peerUid(int fd)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials)
        return std::nullopt;
    return credentials.uid;
}

QString requestTooLongMessage()
{
    return QStringLiteral("the request is longer than %1 KiB; the running app refused it").arg(kMaxRequestBytes / 1024);
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

QJsonObject syncRequest()
{
    return {{"request", "sync"}};
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

Client::Client(const QString &storePath) : m_serverName(serverNameFor(storePath, &m_error)) {}

Client::~Client()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Client::connectToApp(std::chrono::milliseconds timeout)
{
    if (m_serverName.isEmpty())
        return false; // no private folder to look in: m_error says why
    const QByteArray path = QFile::encodeName(m_serverName);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path)) {
        m_error = QStringLiteral("the socket's name %1 is too long for the system").arg(m_serverName);
        return false;
    }
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));

    if (m_fd >= 0)
        ::close(m_fd);
    m_received.clear(); // what came on an earlier connection answers nothing on this one
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
    if (connected == 0) {
        // Not a byte goes to a listener of another user: it would learn the task's text and could answer anything.
        const std::optional<uid_t> peer = peerUid(m_fd);
        if (!peer || *peer != expectedPeerUid()) {
            m_error = peer ? QStringLiteral("the socket %1 is owned by another user (uid %2); refusing to talk to it")
                                 .arg(m_serverName)
                                 .arg(*peer)
                           : QStringLiteral("the owner of the socket %1 cannot be told; refusing to talk to it")
                                 .arg(m_serverName);
        } else if (::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK) == 0) {
            return true;
        }
    }
    ::close(m_fd);
    m_fd = -1;
    return false;
}

std::optional<QJsonObject> Client::ask(const QJsonObject &request, std::chrono::milliseconds timeout)
{
    if (m_fd < 0)
        return std::nullopt;
    const QDeadlineTimer deadline(timeout);
    // An app that refuses a request (one too long) answers before it has read all of it and hangs up: its answer
    // is read even when the sending stopped short.
    send(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n', deadline);
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

std::optional<QJsonObject> Client::askOnce(QJsonObject request, std::chrono::milliseconds timeout)
{
    if (!request.contains(QLatin1String("id")))
        request.insert(QStringLiteral("id"), QUuid::createUuid().toString(QUuid::WithoutBraces));
    if (auto answer = ask(request, timeout))
        return answer;
    // The first answer may still be on its way out of a busy app; a new connection asks for it again.
    if (!connectToApp())
        return std::nullopt;
    return ask(request, timeout);
}

bool Client::send(const QByteArray &bytes, const QDeadlineTimer &deadline)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        // No SIGPIPE when the app has gone away: that is an answer that never comes, not a reason to die.
        const ssize_t done = ::send(m_fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (done > 0) {
            sent += done;
            continue;
        }
        if (errno != EAGAIN && errno != EINTR)
            return false;
        // The app answers early only to refuse: sending more would be for nothing.
        const short ready = waitFor(POLLOUT | POLLIN, deadline);
        if (!(ready & POLLOUT) || (ready & POLLIN))
            return false;
    }
    return true;
}

short Client::waitFor(short events, const QDeadlineTimer &deadline)
{
    pollfd entry{m_fd, events, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, int(std::min<qint64>(deadline.remainingTime(), INT_MAX)));
        if (ready > 0)
            return entry.revents;
        if (ready == 0 || errno != EINTR)
            return 0;
    }
}

StoreClaim claimStore(const QString &storePath, std::chrono::milliseconds wait)
{
    QString error;
    const QString lockPath = lockPathFor(storePath, &error);
    if (lockPath.isEmpty())
        return {nullptr, nullptr, error};
    const QDeadlineTimer deadline(wait);
    for (;;) {
        auto app = std::make_unique<Client>(storePath);
        if (app->connectToApp())
            return {nullptr, std::move(app), {}};
        if (!app->errorString().isEmpty())
            return {nullptr, nullptr, app->errorString()}; // waiting would not change it
        if (auto lock = StoreLock::tryLock(lockPath, &error))
            return {std::move(lock), nullptr, {}};
        if (!error.isEmpty())
            return {nullptr, nullptr, error};
        if (deadline.hasExpired())
            return {};
        QThread::msleep(kPollMs);
    }
}

} // namespace InstanceChannel
