#include "cli/SyncCommands.h"

#include "Vellora/DayData/StoreFile.h"
#include "Vellora/Platform/InstanceChannel.h"
#include "Vellora/Sync/AccountKeySetup.h"
#include "Vellora/Sync/AppStore.h"
#include "Vellora/Sync/AppSync.h"
#include "cli/CommandLine.h"
#include "cli/LinkCommand.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QUrl>

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

using namespace SyncKit;

namespace {

constexpr auto kSendAfterEditWait = std::chrono::seconds(1);

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

// A line typed at the terminal without echo, else the first line of standard input.
std::optional<QString> readSecret(const QString &prompt)
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
    if (!read)
        return std::nullopt;
    return QString::fromUtf8(line);
}

// The token: from a terminal without echo, else the first line of standard input.
std::optional<QString> readToken(const QString &prompt)
{
    const QString token = readSecret(prompt).value_or(QString()).trimmed();
    if (token.isEmpty())
        return std::nullopt;
    return token;
}

// The first line of a file the person named, without its line break; why not in `why`.
std::optional<QString> firstLineOf(const QString &path, const QString &what, QString &why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("the %1 file %2 cannot be read: %3").arg(what, path, file.errorString());
        return std::nullopt;
    }
    QByteArray line = file.readLine(64 * 1024);
    if (file.error() != QFileDevice::NoError) {
        why = QStringLiteral("the %1 file %2 cannot be read: %3").arg(what, path, file.errorString());
        return std::nullopt;
    }
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty()) {
        why = QStringLiteral("the %1 file %2 is empty").arg(what, path);
        return std::nullopt;
    }
    return QString::fromUtf8(line);
}

// The sync passphrase: FILE's first line, else typed at the terminal without echo (twice when it is chosen now,
// with a word on its strength). Why not in `why`.
std::optional<QString> readPassphrase(const std::optional<QString> &file, bool choosing, QString &why)
{
    std::optional<QString> passphrase;
    if (file) {
        passphrase = firstLineOf(*file, QStringLiteral("passphrase"), why);
    } else if (!isatty(STDIN_FILENO)) {
        why = QStringLiteral("no sync passphrase was given: pass --passphrase-file FILE, or run this at a terminal");
    } else {
        passphrase = readSecret(choosing ? QStringLiteral("Choose a sync passphrase (at least %1 characters): ")
                                               .arg(PassphraseStrength::kMinimumLength)
                                         : QStringLiteral("Sync passphrase: "));
        if (passphrase && choosing && readSecret(QStringLiteral("The same passphrase again: ")) != passphrase) {
            why = QStringLiteral("the two passphrases differ");
            return std::nullopt;
        }
        if (!passphrase || passphrase->isEmpty()) {
            why = QStringLiteral("no sync passphrase was given");
            return std::nullopt;
        }
    }
    if (passphrase && choosing)
        print(stderr, QStringLiteral("Passphrase strength: %1\n").arg(PassphraseStrength::of(*passphrase).words));
    return passphrase;
}

// How many changes of the store wait to be sent.
qsizetype waitingChanges(const QString &storePath)
{
    const auto saved = StoreFile::peek(storePath);
    const auto state = saved && saved->state ? readSyncState(*saved->state) : std::nullopt;
    return state ? state->recordZoneChanges.size() : 0;
}

// How many records from the server the store's engine could not open.
qsizetype unopenedRecords(const QString &storePath)
{
    const auto saved = StoreFile::peek(storePath);
    const auto state = saved && saved->state ? readSyncState(*saved->state) : std::nullopt;
    return state ? AppSync::unopenedRecords(SyncEngineState::fromSerialization(*state)) : 0;
}

// How many items of the store belong to no account: made while signed out, they join the next account.
qsizetype itemsOfNoAccount(const std::optional<QString> &storePath)
{
    if (!storePath)
        return 0;
    const auto saved = StoreFile::peek(*storePath); // reads only: the store's lock is not held here
    const auto state = saved && saved->state ? readSyncState(*saved->state) : std::nullopt;
    if (!saved || (saved->state && (!state || state->account)))
        return 0;
    return qsizetype(saved->items.size());
}

QString recoveryKeyNote(const QString &recoveryKey)
{
    return QStringLiteral("Recovery key: %1\nKeep it somewhere safe, apart from this computer: with it you can sign in "
                          "when the sync passphrase is lost. Without both, no one (not the server either) can open "
                          "the account's tasks.\n")
        .arg(recoveryKey);
}

int signIn(const QString &server, const QString &user, const Command &command,
           const std::optional<QString> &storePath)
{
    const QUrl url(server);
    if (!url.isValid() || (url.scheme() != "https" && url.scheme() != "http") || url.host().isEmpty())
        return fail(QStringLiteral("'%1' is not a server address (give it as https://host)").arg(server));
    const auto token = readToken(QStringLiteral("Token for %1 at %2: ").arg(user, serverText(server)));
    if (!token)
        return fail(QStringLiteral("no token was given; pass it on standard input"));
    const QString path = CloudAccount::defaultFilePath();
    AccountKeySetup setup(CloudAccount{server, user, *token}, path);
    const auto reason = waitFor<std::optional<QString>>([&](auto done) { setup.lookUp(done); });
    if (reason)
        return fail(QStringLiteral("not signed in: %1").arg(*reason));
    QString why;
    std::optional<QString> recoveryText;
    if (command.recoveryKeyFile && !(recoveryText = firstLineOf(*command.recoveryKeyFile, "recovery key", why)))
        return fail(QStringLiteral("not signed in: %1").arg(why));
    const auto passphrase = readPassphrase(command.passphraseFile, recoveryText || !setup.accountHasKey(), why);
    if (!passphrase)
        return fail(QStringLiteral("not signed in: %1").arg(why));
    const qsizetype joining = itemsOfNoAccount(storePath);
    const auto outcome = waitFor<AccountKeySetup::Outcome>([&](auto done) {
        if (recoveryText)
            setup.recover(*recoveryText, *passphrase, done);
        else
            setup.signIn(*passphrase, done);
    });
    if (outcome.error)
        return fail(QStringLiteral("not signed in: %1").arg(*outcome.error));
    QString out = QStringLiteral("Signed in as %1 at %2. Tasks are encrypted on this computer before they leave it.\n")
                      .arg(user, serverText(server));
    if (recoveryText)
        out += QStringLiteral("The passphrase given is the account's sync passphrase now.\n");
    if (!outcome.recoveryKey.isEmpty())
        out += recoveryKeyNote(outcome.recoveryKey);
    if (joining > 0)
        out += QStringLiteral("The %1 task(s) made while signed out join %2's planner.\n").arg(joining).arg(user);
    print(stdout, out);
    return 0;
}

// The account of the account file when this computer holds its key; else says why not and gives none.
std::optional<CloudAccount> accountWithKey()
{
    const auto account = CloudAccount::readFile(CloudAccount::defaultFilePath());
    if (!account)
        fail(QStringLiteral("not signed in; sign in with: vellora account sign-in SERVER USER"));
    else if (!account->key)
        fail(QStringLiteral("this computer does not hold the account's key: sign in again with: vellora account "
                            "sign-in %1 %2")
                 .arg(account->server, account->user));
    return account && account->key ? account : std::nullopt;
}

int changePassphrase(const Command &command)
{
    const auto account = accountWithKey();
    if (!account)
        return ExitStatus::failed;
    QString why;
    const auto passphrase = readPassphrase(command.passphraseFile, true, why);
    if (!passphrase)
        return fail(QStringLiteral("the passphrase is unchanged: %1").arg(why));
    AccountKeySetup setup(*account, CloudAccount::defaultFilePath());
    const auto outcome =
        waitFor<AccountKeySetup::Outcome>([&](auto done) { setup.changePassphrase(*passphrase, done); });
    if (outcome.error)
        return fail(QStringLiteral("the passphrase is unchanged: %1").arg(*outcome.error));
    print(stdout, QStringLiteral("The sync passphrase is changed. The other computers keep syncing; sign in new ones "
                                 "with the new passphrase.\n"));
    return 0;
}

int showRecoveryKey()
{
    const auto account = accountWithKey();
    if (!account)
        return ExitStatus::failed;
    print(stdout, recoveryKeyNote(account->key->recoveryText()));
    return 0;
}

// Signs out in this process, on the store under its lock, as the window does: what waits goes first.
AppSync::SignOut signOutHere(const QString &storePath)
{
    AppSync sync(CloudAccount::defaultFilePath(), false);
    auto store = makeAppStore(storePath, sync.setup(false));
    sync.attach(*store);
    const auto result = waitFor<AppSync::SignOut>([&](auto done) { sync.signOut(AppSync::kSendBeforeSignOut, done); });
    if (!result.error && (!store->openError().isEmpty() || store->saveError()))
        print(stderr, QStringLiteral("vellora: the tasks leave the store when it is next opened: %1\n")
                          .arg(store->saveError().value_or(store->openError())));
    return result;
}

// Signs out beside the running app, if there is one: asked to sync, it sends what waits, and it follows the account
// file by itself. Without one, the store follows the next time it is opened.
AppSync::SignOut signOutBeside(const QString &storePath, InstanceChannel::Client *app)
{
    AppSync::SignOut result;
    AppSync sync(CloudAccount::defaultFilePath(), false);
    if (const auto account = sync.account())
        result.user = account->user;
    if (app && waitingChanges(storePath) > 0) {
        const auto answer = app->ask(InstanceChannel::syncRequest(), AppSync::kSendBeforeSignOut);
        result.unsent = waitingChanges(storePath);
        result.why = !answer ? QStringLiteral("the server did not answer within %1 s")
                                   .arg(std::max<qint64>(1, AppSync::kSendBeforeSignOut.count() / 1000))
                     : answer->value("ok").toBool() ? QStringLiteral("the app had not sent them yet")
                                                    : answer->value("error").toString();
    }
    result.error = sync.removeAccount();
    return result;
}

int signOut(const std::optional<QString> &storePath)
{
    if (!QFile::exists(CloudAccount::defaultFilePath())) {
        print(stdout, QStringLiteral("Not signed in.\n"));
        return 0;
    }
    AppSync::SignOut result;
    std::optional<QString> notFollowed;
    InstanceChannel::StoreClaim claim;
    if (storePath)
        claim = InstanceChannel::claimStore(*storePath);
    if (claim.lock) {
        result = signOutHere(*storePath);
    } else {
        if (storePath && !claim.app)
            notFollowed =
                claim.error.isEmpty() ? QStringLiteral("the store is in use by another vellora") : claim.error;
        result = signOutBeside(storePath.value_or(QString()), claim.app.get());
    }
    if (result.error)
        return fail(QStringLiteral("%1; still signed in").arg(*result.error));
    if (result.unsent > 0)
        print(stderr, QStringLiteral("vellora: %1 change(s) had not reached the server (%2) and left with the "
                                     "account's tasks\n")
                          .arg(result.unsent)
                          .arg(result.why));
    const QString who = result.user.isEmpty() ? QStringLiteral("The account's") : result.user + QStringLiteral("'s");
    print(stdout, QStringLiteral("Signed out. %1 tasks left this computer; the server keeps them. Tasks made now "
                                 "join the next account signed in.\n")
                      .arg(who));
    if (notFollowed)
        print(stderr,
              QStringLiteral("vellora: the tasks leave the store when it is next opened: %1\n").arg(*notFollowed));
    return 0;
}

int status(bool json, const std::optional<QString> &storePath)
{
    AppSync sync(CloudAccount::defaultFilePath(), false);
    const auto account = sync.account();
    const qsizetype unopened = storePath ? unopenedRecords(*storePath) : 0;
    auto last = sync.lastSync();
    if (last && (!account || !account->isSameAccount({last->server, last->user, {}})))
        last.reset();
    if (json) {
        QJsonObject object{{"signedIn", bool(account)},
                           {"encrypted", account && account->key},
                           {"unopenedRecords", unopened}};
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
        if (account) {
            const bool connected = last && !last->error && !last->disconnectedSince;
            object.insert("connected", connected);
            if (last && !connected)
                object.insert("disconnectedSince",
                              last->disconnectedSince.value_or(last->time).toString(Qt::ISODateWithMs));
        }
        print(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)));
        return 0;
    }
    if (!account) {
        print(stdout, QStringLiteral("Not signed in.\n"));
        return 0;
    }
    QString out = QStringLiteral("Signed in as %1 at %2.\n").arg(account->user, serverText(account->server));
    out += account->key ? QStringLiteral("Encrypted: tasks are sealed on this computer before they leave it.\n")
                        : QStringLiteral("Not encrypted: tasks travel readable to the server. Sign in again to set a "
                                         "sync passphrase: vellora account sign-in %1 %2\n")
                              .arg(account->server, account->user);
    if (unopened > 0)
        out += QStringLiteral("%1 record(s) from the server could not be opened (damaged, or sealed with another key); "
                              "this computer keeps its own copies.\n")
                   .arg(unopened);
    if (!last)
        out += QStringLiteral("Not synced yet.\n");
    if (last && (last->error || last->disconnectedSince))
        out += last->describe(QDateTime::currentDateTimeUtc()) + QStringLiteral(".\n");
    if (last)
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
    AppSync sync(CloudAccount::defaultFilePath(), false);
    auto store = makeAppStore(path, sync.setup(false));
    if (!store->openError().isEmpty())
        return fail(QStringLiteral("the store %1 cannot be used: %2").arg(path, store->openError()));
    if (!store->filePath())
        return fail(QStringLiteral("the store file %1 cannot be read or moved aside").arg(path));
    sync.attach(*store);
    const auto reason = waitFor<std::optional<QString>>([&](auto done) { sync.syncNow(done); });
    const auto saveError = store->saveError();
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

// Sends what waits in the store, under its lock, for at most `wait`: none when all of it went (or a running app has
// the store and sends it), else why not in words.
std::optional<QString> sendWaiting(const QString &path, std::chrono::milliseconds wait)
{
    InstanceChannel::StoreClaim claim = InstanceChannel::claimStore(path, std::chrono::milliseconds(200));
    if (claim.app)
        return std::nullopt;
    if (!claim.lock)
        return QStringLiteral("the store is in use");
    AppSync sync(CloudAccount::defaultFilePath(), false);
    auto store = makeAppStore(path, sync.setup(false));
    if (!store->filePath() || !store->engine())
        return QStringLiteral("the store cannot be opened");
    sync.attach(*store);
    QEventLoop loop;
    std::optional<CloudError> failure;
    bool ended = false;
    store->engine()->sendChanges({}, [&](const std::optional<CloudError> &error) {
        failure = error;
        ended = true;
        loop.quit();
    });
    if (!ended) {
        QTimer::singleShot(wait, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const auto saveError = store->saveError();
    if (!ended)
        return QStringLiteral("the server did not answer within %1 s").arg(qMax<qint64>(1, wait.count() / 1000));
    if (failure)
        return AppSync::describe(*failure);
    if (saveError)
        return QStringLiteral("the store cannot be saved: %1").arg(*saveError);
    return std::nullopt;
}

// Sends what a command changed without a window running, waiting at most a moment: a command that is done does not
// keep its person waiting for a slow server. What is not sent by then waits in the store, and is said.
int sendAfterEdit(const Command &command)
{
    const auto path = storePathFor(command);
    if (!path || !CloudAccount::readFile(CloudAccount::defaultFilePath()))
        return 0;
    if (const auto why = sendWaiting(*path, kSendAfterEditWait))
        print(stderr,
              QStringLiteral("vellora: not sent yet (%1); the change waits here for the next sync\n").arg(*why));
    return 0;
}

} // namespace

int runNetworkCommand(const Command &command)
{
    if (command.verb == Command::Verb::sync)
        return command.arguments == QStringList{QLatin1String(kSendAfterEdit)} ? sendAfterEdit(command)
                                                                               : syncStore(command);
    const QString action = command.arguments.value(0);
    const auto storePath = storePathFor(command);
    if (action == "sign-in")
        return signIn(command.arguments.value(1), command.arguments.value(2), command, storePath);
    if (action == "sign-out")
        return signOut(storePath);
    if (action == "passphrase")
        return changePassphrase(command);
    if (action == "recovery-key")
        return showRecoveryKey();
    if (action == "link")
        return linkDevice(command.json);
    return status(command.json, storePath);
}
