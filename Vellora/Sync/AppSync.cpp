#include "Vellora/Sync/AppSync.h"

#include <QPointer>

#include <memory>

using namespace SyncKit;

AppSync::AppSync(QString accountFile, QObject *parent)
    : QObject(parent), m_accountFile(std::move(accountFile)), m_cloud(m_accountFile)
{
    connect(&m_cloud, &CloudDatabase::databaseChanged, this, &AppSync::statusChanged);
}

SyncSetup AppSync::setup(bool automaticallySync)
{
    SyncSetup setup;
    setup.database = &m_cloud;
    setup.accountFile = m_accountFile;
    setup.automaticallySync = automaticallySync;
    return setup;
}

void AppSync::attach(DayStore &store)
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
            .arg(signedIn->user, serverHost(signedIn->server));
    return last->describe(QDateTime::currentDateTimeUtc()) + QLatin1Char('.');
}

void AppSync::record(const std::optional<CloudError> &error)
{
    // Without an account there was no round, only changes kept for later.
    const SyncEngine *engine = m_store ? m_store->engine() : nullptr;
    if (!engine || !engine->account())
        return;
    SyncStatus status;
    status.time = QDateTime::currentDateTimeUtc();
    status.server = engine->account()->server;
    status.user = engine->account()->user;
    if (error)
        status.error = describe(*error);
    m_statusError = status.writeFile(SyncStatus::filePathFor(m_accountFile));
    emit statusChanged();
}

void AppSync::syncNow(Done done)
{
    SyncEngine *engine = m_store ? m_store->engine() : nullptr;
    if (!engine)
        return done(QStringLiteral("this store does not sync (it is kept in memory only)"));
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

void AppSync::checkAccount(const CloudAccount &account, QObject *context,
                           std::function<void(const std::optional<CloudError> &)> done)
{
    // A cloud of its own, with no push channel: the check is one signed request.
    HttpCloud::Timing timing;
    timing.retries = 0;
    timing.transferTimeout = std::chrono::seconds(15);
    auto cloud = std::shared_ptr<HttpCloud>(new HttpCloud(CloudAccount{account.server, account.user, {}}, timing),
                                            [](HttpCloud *cloud) { cloud->deleteLater(); });
    QPointer<QObject> guard(context);
    cloud->fetchDatabaseChanges(account, {}, [cloud, guard, done](CloudResult<DatabaseChanges> result) {
        if (!guard)
            return;
        if (result.ok())
            return done(std::nullopt);
        done(result.error());
    });
}

std::optional<QString> AppSync::describeCheck(const std::optional<CloudError> &error)
{
    if (!error)
        return std::nullopt;
    if (error->code() == CloudError::Code::notAuthenticated)
        return QStringLiteral("the server refused this token");
    return describe(*error);
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
    default:
        return error.description();
    }
}
