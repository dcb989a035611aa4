#include "Vellora/Sync/AppSync.h"

#include <QFile>
#include <QNetworkInformation>
#include <QPointer>
#include <QTimer>

#include <memory>

using namespace SyncKit;

namespace {

HttpCloud::Timing cloudTiming(bool push)
{
    HttpCloud::Timing timing;
    timing.push = push;
    return timing;
}

} // namespace

AppSync::AppSync(QString accountFile, bool push, QObject *parent)
    : QObject(parent), m_accountFile(std::move(accountFile)), m_cloud(m_accountFile, cloudTiming(push))
{
    connect(&m_cloud, &CloudDatabase::databaseChanged, this, &AppSync::statusChanged);
    connect(&m_cloud, &AccountCloud::pushConnectedChanged, this, &AppSync::pushConnectedChanged);
    // Once the window is up: the engine fetches at start anyway, and asking the system costs a moment.
    if (push)
        QTimer::singleShot(std::chrono::seconds(1), this, &AppSync::watchNetwork);
}

void AppSync::watchNetwork()
{
    // Not every system can tell (no backend, as under test): then push's own retries are all there is.
    if (!QNetworkInformation::instance() &&
        !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return;
    QNetworkInformation *information = QNetworkInformation::instance();
    connect(information, &QNetworkInformation::reachabilityChanged, this,
            [this, last = information->reachability()](QNetworkInformation::Reachability reachability) mutable {
                const bool back = reachability == QNetworkInformation::Reachability::Online &&
                                  last != QNetworkInformation::Reachability::Online;
                last = reachability;
                if (back)
                    networkReachable();
            });
}

void AppSync::networkReachable()
{
    m_cloud.networkReachable();
}

SyncSetup AppSync::setup(bool automaticallySync)
{
    SyncSetup setup;
    setup.database = &m_cloud;
    setup.accountFile = m_accountFile;
    setup.automaticallySync = automaticallySync;
    return setup;
}

void AppSync::attach(AppStore &store)
{
    m_store = &store;
    if (SyncEngine *engine = store.engine())
        connect(engine, &SyncEngine::workFinished, this, &AppSync::record);
}

std::optional<CloudAccount> AppSync::account() const
{
    return CloudAccount::readFile(m_accountFile);
}

std::optional<SyncStatus> AppSync::lastSync() const
{
    return SyncStatus::readFile(SyncStatus::filePathFor(m_accountFile));
}

QString AppSync::statusLine() const
{
    const auto signedIn = account();
    if (!signedIn)
        return QStringLiteral("Not signed in: this computer's changes wait until it is.");
    const auto last = lastSync();
    if (!last || !signedIn->isSameAccount(CloudAccount{last->server, last->user, {}}))
        return QStringLiteral("Signed in as %1 at %2; not synced yet.")
            .arg(signedIn->user, serverText(signedIn->server));
    QString line = last->describe(QDateTime::currentDateTimeUtc()) + QLatin1Char('.');
    if (const qsizetype unopened = m_store ? m_store->unopenedRecordCount() : 0)
        line += QStringLiteral(" %1 record(s) from the server could not be opened; this computer keeps its own copy.")
                    .arg(unopened);
    return line;
}

void AppSync::record(const std::optional<CloudError> &error)
{
    // Without an account there was no round, only changes kept for later; a round stopped by a change of account
    // says nothing about either account's server.
    const SyncEngine *engine = m_store ? m_store->engine() : nullptr;
    if (!engine || !engine->account() || (error && error->code() == CloudError::Code::operationCancelled))
        return;
    SyncStatus status;
    status.time = QDateTime::currentDateTimeUtc();
    status.server = engine->account()->server;
    status.user = engine->account()->user;
    if (error)
        status.error = describe(*error);
    // A failure, or a push channel that is down, leaves this computer out of touch since the first of them.
    const bool pushDown = m_cloud.current() && !m_cloud.isPushConnected() && m_pushDown;
    if (error || pushDown) {
        const auto last = lastSync();
        const bool sameAccount = last && engine->account()->isSameAccount({last->server, last->user, {}});
        status.disconnectedSince = sameAccount && last->disconnectedSince ? last->disconnectedSince : status.time;
    }
    writeStatus(status);
}

void AppSync::pushConnectedChanged(bool connected)
{
    m_pushDown = !connected;
    // Back again: the round that the returning channel starts says "Synced" once it has worked.
    const auto signedIn = account();
    if (connected || !signedIn)
        return;
    SyncStatus status;
    const auto last = lastSync();
    if (last && signedIn->isSameAccount({last->server, last->user, {}})) {
        if (last->disconnectedSince)
            return;
        status = *last;
    } else {
        status.time = QDateTime::currentDateTimeUtc();
        status.server = signedIn->server;
        status.user = signedIn->user;
    }
    status.disconnectedSince = QDateTime::currentDateTimeUtc();
    writeStatus(status);
}

void AppSync::writeStatus(const SyncStatus &status)
{
    m_statusError = status.writeFile(SyncStatus::filePathFor(m_accountFile));
    emit statusChanged();
}

void AppSync::syncNow(Done done)
{
    SyncEngine *engine = m_store ? m_store->engine() : nullptr;
    if (!engine)
        return done(m_store && m_store->syncError() ? *m_store->syncError()
                                                    : QStringLiteral("this store does not sync (it is kept in memory only)"));
    if (!account())
        return done(QStringLiteral("not signed in; sign in with: vellora account sign-in SERVER USER"));
    QPointer<SyncEngine> watched(engine);
    engine->syncChanges([watched, done](const std::optional<CloudError> &error) {
        if (error)
            return done(describe(*error));
        if (!watched)
            return done(QStringLiteral("the sync was stopped"));
        const qsizetype left =
            watched->state().pendingRecordZoneChanges().size() + watched->state().pendingDatabaseChanges().size();
        if (left > 0)
            return done(QStringLiteral("%1 change(s) are still waiting to be sent").arg(left));
        done(std::nullopt);
    });
}

void AppSync::signOut(std::chrono::milliseconds wait, std::function<void(const SignOut &)> done)
{
    auto result = std::make_shared<SignOut>();
    if (const auto signedIn = account())
        result->user = signedIn->user;
    QPointer<SyncEngine> engine(m_store ? m_store->engine() : nullptr);
    auto ended = std::make_shared<bool>(false);
    auto finish = [this, self = QPointer<AppSync>(this), engine, result, ended, wait,
                   done](const std::optional<CloudError> &error, bool late) {
        if (!self || std::exchange(*ended, true))
            return;
        if (engine) {
            result->unsent = engine->state().pendingRecordZoneChanges().size();
            if (result->unsent > 0)
                result->why = error  ? describe(*error)
                              : late ? QStringLiteral("the server did not answer within %1 s")
                                           .arg(std::max<qint64>(1, qint64(wait.count()) / 1000))
                                     : QStringLiteral("they were made while the others were being sent");
        }
        result->error = removeAccount();
        // The engine follows now rather than when the file's notice comes: the items leave before anything else.
        if (!result->error && engine)
            engine->followAccount();
        emit statusChanged();
        done(*result);
    };
    if (!engine || !engine->account() || engine->state().pendingRecordZoneChanges().isEmpty())
        return finish(std::nullopt, false);
    QTimer::singleShot(wait, this, [finish] { finish(std::nullopt, true); });
    engine->sendChanges({}, [finish](const std::optional<CloudError> &error) { finish(error, false); });
}

std::optional<QString> AppSync::removeAccount()
{
    QFile file(m_accountFile);
    if (file.exists() && !file.remove())
        return QStringLiteral("the account file %1 cannot be removed: %2").arg(file.fileName(), file.errorString());
    // The last sync belongs to the account that left.
    QFile::remove(SyncStatus::filePathFor(m_accountFile));
    return std::nullopt;
}

void AppSync::checkAccount(const CloudAccount &account, QObject *context,
                           std::function<void(const std::optional<QString> &)> done)
{
    // A cloud of its own, with no push channel: the check is one signed request.
    HttpCloud::Timing timing;
    timing.retries = 0;
    timing.transferTimeout = std::chrono::seconds(15);
    auto cloud = std::shared_ptr<HttpCloud>(new HttpCloud(CloudAccount{account.server, account.user, {}}, timing),
                                            [](HttpCloud *cloud) { cloud->deleteLater(); });
    QPointer<QObject> guard(context);
    cloud->userOfToken(account, [cloud, guard, account, done](CloudResult<QString> result) {
        if (!guard)
            return;
        if (!result.ok()) {
            if (result.error().code() == CloudError::Code::notAuthenticated)
                return done(QStringLiteral("the server refused this token"));
            return done(describe(result.error()));
        }
        // Another user's token would sync that user's planner under this name.
        if (result.value() != account.user)
            return done(QStringLiteral("this token is %1's, not %2's").arg(result.value(), account.user));
        done(std::nullopt);
    });
}

qsizetype AppSync::unopenedRecords(const SyncEngineState &state)
{
    return state.unopenedRecords().size();
}

qsizetype AppSync::unopenedRecords() const
{
    SyncKit::SyncEngine *engine = m_store ? m_store->engine() : nullptr;
    return engine ? unopenedRecords(engine->state()) : 0;
}

QString AppSync::describe(const CloudError &error)
{
    switch (error.code()) {
    case CloudError::Code::notAuthenticated:
        return QStringLiteral("the server refused this account's token; sign in again");
    case CloudError::Code::networkFailure:
        return QStringLiteral("the server cannot be reached: %1").arg(error.message());
    case CloudError::Code::serverError:
        return QStringLiteral("the server cannot take requests now: %1").arg(error.message());
    case CloudError::Code::invalidArguments:
        // The server's own words say what it could not read ("the server speaks plain HTTP: use http://…").
        return error.message().isEmpty() ? error.description() : error.message();
    default:
        return error.description();
    }
}
