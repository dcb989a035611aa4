#pragma once

#include "Vellora/Platform/StoreLock.h"

#include <QJsonObject>
#include <QString>

class QDeadlineTimer;

#include <chrono>
#include <memory>
#include <optional>

// How vellora processes reach the app that has a store file open: the app holds the file's lock for its whole run
// and listens on a local socket named after the file. Each side writes one JSON object per line: a request, then
// its answer.
namespace InstanceChannel {

using namespace std::chrono_literals;

// How long a command waits for the store: for a running app to answer or the lock to come free.
constexpr std::chrono::milliseconds kClaimWait = 5s;
// How long a running app may take to answer a request.
constexpr std::chrono::milliseconds kAnswerWait = 30s;

QString lockPathFor(const QString &storePath);
// A socket in the user's runtime folder, named after the store file, so that each store has its own app.
QString serverNameFor(const QString &storePath);

QJsonObject showWindowRequest();
QJsonObject toggleWindowRequest();
QJsonObject commandRequest(const QJsonObject &command);

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

    // Connects to the app that has the store open; false when none listens.
    bool connectToApp(std::chrono::milliseconds timeout = 500ms);
    // Sends one request and waits for its answer; none when the app hangs up or does not answer in time.
    std::optional<QJsonObject> ask(const QJsonObject &request, std::chrono::milliseconds timeout = kAnswerWait);

private:
    bool send(const QByteArray &bytes, const QDeadlineTimer &deadline);
    bool waitFor(short events, const QDeadlineTimer &deadline);

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

// Waits up to `wait` for either; a running app is asked first. Both empty when neither came in time, or at once
// when the lock file cannot be made (a folder that cannot be written).
StoreClaim claimStore(const QString &storePath, std::chrono::milliseconds wait = kClaimWait);

} // namespace InstanceChannel
