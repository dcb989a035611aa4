#include "cli/SyncCommands.h"

#include "Vellora/Platform/InstanceChannel.h"
#include "Vellora/Sync/AppSync.h"
#include "Vellora/Sync/AppStore.h"
#include "cli/CommandLine.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

using namespace SyncKit;

namespace {

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

int fail(const QString &message)
{
    print(stderr, QStringLiteral("vellora: %1\n").arg(message));
    return 1;
}

// Runs the event loop until `start` has called its completion, which may happen before it returns.
template<typename Result> Result waitFor(const std::function<void(std::function<void(const Result &)>)> &start)
{
    QEventLoop loop;
    std::optional<Result> result;
    start([&](const Result &value) {
        result = value;
        loop.quit();
    });
    if (!result)
        loop.exec();
    return *result;
}

// The token: from a terminal without echo, else the first line of standard input.
std::optional<QString> readToken(const QString &prompt)
{
    const bool terminal = isatty(STDIN_FILENO);
    termios saved{};
    if (terminal) {
        print(stderr, prompt);
        std::fflush(stderr);
        if (tcgetattr(STDIN_FILENO, &saved) == 0) {
            termios silent = saved;
            silent.c_lflag &= ~tcflag_t(ECHO);
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
        }
    }
    std::string line;
    const bool read = bool(std::getline(std::cin, line));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        print(stderr, QStringLiteral("\n"));
    }
    const QString token = QString::fromUtf8(line).trimmed();
    if (!read || token.isEmpty())
        return std::nullopt;
    return token;
}

int signIn(const QString &server, const QString &user)
{
    const QUrl url(server);
    if (!url.isValid() || (url.scheme() != "https" && url.scheme() != "http") || url.host().isEmpty())
        return fail(QStringLiteral("'%1' is not a server address (give it as https://host)").arg(server));
    const auto token = readToken(QStringLiteral("Token for %1 at %2: ").arg(user, serverHost(server)));
    if (!token)
        return fail(QStringLiteral("no token was given; pass it on standard input"));
    const CloudAccount account{server, user, *token};
    QObject context;
    const auto error =
        waitFor<std::optional<CloudError>>([&](auto done) { AppSync::checkAccount(account, &context, done); });
    if (const auto reason = AppSync::describeCheck(error))
        return fail(QStringLiteral("not signed in: %1").arg(*reason));
    const QString path = CloudAccount::defaultFilePath();
    if (!account.writeFile(path))
        return fail(QStringLiteral("the account file %1 cannot be written; not signed in").arg(path));
    print(stdout, QStringLiteral("Signed in as %1 at %2.\n").arg(user, serverHost(server)));
    return 0;
}

int signOut()
{
    const QString path = CloudAccount::defaultFilePath();
    if (!QFile::exists(path)) {
        print(stdout, QStringLiteral("Not signed in.\n"));
        return 0;
    }
    QFile file(path);
    if (!file.remove())
        return fail(QStringLiteral("the account file %1 cannot be removed: %2").arg(path, file.errorString()));
    // The last sync belongs to the account that left.
    QFile::remove(SyncStatus::filePathFor(path));
    print(stdout, QStringLiteral("Signed out. This computer's changes wait until the next sign-in.\n"));
    return 0;
}

int status(bool json)
{
    AppSync sync;
    const auto account = sync.account();
    auto last = sync.lastSync();
    if (last && (!account || !account->isSameAccount({last->server, last->user, {}})))
        last.reset();
    if (json) {
        QJsonObject object{{"signedIn", bool(account)}};
        if (account) {
            object.insert("server", account->server);
            object.insert("user", account->user);
        }
        if (last) {
            QJsonObject lastSync{{"time", last->time.toString(Qt::ISODateWithMs)}, {"ok", !last->error}};
            if (last->error)
                lastSync.insert("error", *last->error);
            object.insert("lastSync", lastSync);
        }
        print(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)));
        return 0;
    }
    if (!account) {
        print(stdout, QStringLiteral("Not signed in.\n"));
        return 0;
    }
    QString out = QStringLiteral("Signed in as %1 at %2.\n").arg(account->user, account->server);
    if (!last)
        out += QStringLiteral("Not synced yet.\n");
    else
        out += QStringLiteral("Last sync: %1 (%2)%3\n")
                   .arg(last->time.toLocalTime().toString(Qt::ISODate),
                        timeAgo(last->time, QDateTime::currentDateTimeUtc()),
                        last->error ? QStringLiteral(", failed: %1").arg(*last->error) : QStringLiteral(", ok"));
    print(stdout, out);
    return 0;
}

// One round in this process, on the store file under its lock.
int syncFile(const QString &path)
{
    AppSync sync;
    auto store = makeAppStore(path, sync.setup(false));
    if (!store->openError().isEmpty())
        return fail(QStringLiteral("the store %1 cannot be used: %2").arg(path, store->openError()));
    if (!store->fileURL())
        return fail(QStringLiteral("the store file %1 cannot be read or moved aside").arg(path));
    sync.attach(*store);
    const auto reason = waitFor<std::optional<QString>>([&](auto done) { sync.syncNow(done); });
    const auto saveError = store->saveError();
    // The process ends now: the store is not taken apart item by item.
    static_cast<void>(store.release());
    if (saveError)
        return fail(QStringLiteral("the synced changes cannot be saved: %1 (%2)").arg(*saveError, path));
    if (reason)
        return fail(QStringLiteral("sync incomplete: %1").arg(*reason));
    if (const auto error = sync.statusError())
        print(stderr, QStringLiteral("vellora: the last sync cannot be noted: %1\n").arg(*error));
    return 0;
}

int syncStore(const Command &command)
{
    if (!CloudAccount::readFile(CloudAccount::defaultFilePath()))
        return fail(QStringLiteral("not signed in; sign in with: vellora account sign-in SERVER USER"));
    const auto path = storePathFor(command);
    if (!path)
        return fail(QStringLiteral("neither HOME nor XDG_DATA_HOME is set, so there is no store file"));
    InstanceChannel::StoreClaim claim = InstanceChannel::claimStore(*path);
    if (claim.app) {
        // The running app syncs: it is the only writer of the file.
        const auto answer = claim.app->ask(InstanceChannel::syncRequest(), InstanceChannel::kSyncAnswerWait);
        if (!answer)
            return fail(QStringLiteral("Vellora is running but did not answer in time"));
        if (!answer->value("ok").toBool())
            return fail(QStringLiteral("sync incomplete: %1").arg(answer->value("error").toString()));
        return 0;
    }
    if (!claim.lock)
        return fail(claim.error.isEmpty()
                        ? QStringLiteral("the store %1 is in use by another vellora; try again").arg(*path)
                        : claim.error);
    return syncFile(*path);
}

} // namespace

int runNetworkCommand(const Command &command)
{
    if (command.verb == Command::Verb::sync)
        return syncStore(command);
    const QString action = command.arguments.value(0);
    if (action == "sign-in")
        return signIn(command.arguments.value(1), command.arguments.value(2));
    if (action == "sign-out")
        return signOut();
    return status(command.json);
}
