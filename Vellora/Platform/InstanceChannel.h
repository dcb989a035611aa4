#pragma once

#include "Vellora/Platform/StoreLock.h"

#include <QJsonObject>
#include <QString>

class QDeadlineTimer;

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>

// How vellora processes reach the app that has a store file open: the app holds the file's lock for its whole run
// and listens on a local socket named after the file. Both live in the user's private runtime folder
// (RuntimeFolder), and each side checks that the other is the same user before it sends a byte. Each side writes
// one JSON object per line: a request, then its answer; a request may be at most kMaxRequestBytes long.
namespace InstanceChannel {

using namespace std::chrono_literals;

// How long a command waits for the store: for a running app to answer or the lock to come free.
constexpr std::chrono::milliseconds kClaimWait = 5s;
// How long a running app may take to answer a request.
constexpr std::chrono::milliseconds kAnswerWait = 30s;

// The longest request line the app reads; a longer one is answered with requestTooLongMessage() and the
// connection is closed, without reading or keeping more of it.
constexpr qsizetype kMaxRequestBytes = 64 * 1024;
QString requestTooLongMessage();

// The store's lock file and the app's socket: in the user's private runtime folder, named after the store file's
// canonical path, so that each store has its own. Empty, with `error` saying why, when there is no such folder.
QString lockPathFor(const QString &storePath, QString *error = nullptr);
QString serverNameFor(const QString &storePath, QString *error = nullptr);

// The user id that the other side of a connection must have: this process's own. Tests may set another, to stand
// for a socket of another user; std::nullopt goes back to the real one.
uid_t expectedPeerUid();
void setExpectedPeerUidForTesting(std::optional<uid_t> uid);
// The user id of the process at the other end of a connected local socket (SO_PEERCRED); none when it cannot be had.
std::optional<uid_t> peerUid(int fd);

QJsonObject showWindowRequest();
QJsonObject toggleWindowRequest();
QJsonObject commandRequest(const QJsonObject &command);
// One full sync round by the app; answered when the round has ended.
QJsonObject syncRequest();
// How long the app's answer to a sync request may take: a round through a slow network.
constexpr std::chrono::milliseconds kSyncAnswerWait = 5min;

// How many answered request ids the app remembers, and for how long: longer than a command waits for two answers.
constexpr int kRememberedRequests = 64;
constexpr std::chrono::milliseconds kRequestIdMemory = 10min;

// The answer to a request that the app carried out; `outcome` goes with a command's answer.
QJsonObject okAnswer(const QJsonObject &outcome = {});
QJsonObject errorAnswer(const QString &message);

// The calling side of the channel. Blocking: it needs no event loop of its own. Written on the system's sockets
// rather than Qt's, so that a command line loads no network library.
class Client
{
public:
    explicit Client(const QString &storePath);
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    // Connects to the app that has the store open; false when none listens, or when the connection is refused for
    // good: then errorString() says why (no private folder, or a socket of another user).
    bool connectToApp(std::chrono::milliseconds timeout = 500ms);
    QString errorString() const { return m_error; }
    // Sends one request and waits for its answer; none when the app hangs up or does not answer in time.
    std::optional<QJsonObject> ask(const QJsonObject &request, std::chrono::milliseconds timeout = kAnswerWait);
    // For a request that must take effect at most once (a command): it goes with a request id, and when its answer
    // does not come in time it is sent again, once, with the same id on a new connection. The app remembers the ids
    // it has answered (requestIdMemory) and answers a repeated one as it did the first time, without running it
    // again. None when neither answer came: then the request may or may not have taken effect.
    std::optional<QJsonObject> askOnce(QJsonObject request, std::chrono::milliseconds timeout = kAnswerWait);

private:
    bool send(const QByteArray &bytes, const QDeadlineTimer &deadline);
    // The events that came, or none in time.
    short waitFor(short events, const QDeadlineTimer &deadline);

    QString m_error;
    QString m_serverName;
    int m_fd = -1;
    QByteArray m_received;
};

// Whoever may change a store right now: this process, holding the file's lock, or the running app that holds it.
struct StoreClaim
{
    std::unique_ptr<StoreLock> lock;
    std::unique_ptr<Client> app;
    QString error; // with neither: why the lock cannot be had at all, or empty when it stayed taken
};

// Waits up to `wait` for either; a running app is asked first. Both empty when neither came in time, or at once,
// with the error, when the lock file cannot be made (no private runtime folder, or one that cannot be written) or
// the socket belongs to another user.
StoreClaim claimStore(const QString &storePath, std::chrono::milliseconds wait = kClaimWait);

} // namespace InstanceChannel
