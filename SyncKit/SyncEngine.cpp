#include "SyncKit/SyncEngine.h"

#include "SyncKit/SyncEngineDelegate.h"
#include "SyncKit/SyncEngineWork.h"

#include <QPointer>

#include <algorithm>

namespace SyncKit {

SyncEngine::SyncEngine(Configuration configuration, QObject *parent)
    : QObject(parent)
    , m_configuration(std::move(configuration))
    , m_givenAccount(m_configuration.account)
{
    if (m_configuration.stateSerialization)
        m_state = State::fromSerialization(*m_configuration.stateSerialization);
    m_state.setChangeHandler([this] { stateChanged(); });

    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &SyncEngine::roundDue);

    if (m_configuration.database) {
        if (m_configuration.accountFile) {
            m_accountWatcher = std::make_unique<AccountFileWatcher>(*m_configuration.accountFile);
            connect(m_accountWatcher.get(), &AccountFileWatcher::accountChanged, this, [this] {
                Work work(*this);
                checkAccount();
            });
        }
        connect(m_configuration.database, &CloudDatabase::databaseChanged, this,
                [this](const QString &server, const QString &user) {
                    if (m_account && m_account->server == server && m_account->user == user) {
                        // The server speaks again: what waits goes now rather than after the pause of a failure.
                        m_backOffUntil = QDeadlineTimer();
                        m_fetchDue = true;
                        ++m_changeNotices;
                        // Work under way may have missed the change: another round follows it.
                        if (m_running)
                            m_roundAgain = true;
                        else
                            scheduleRound(m_configuration.timing.fetchDelay);
                    }
                });
    }
    // The delegate hears of the account once the engine's maker holds the engine.
    QTimer::singleShot(0, this, &SyncEngine::start);
}

SyncEngine::~SyncEngine()
{
    m_state.setChangeHandler({});
}

void SyncEngine::start()
{
    Work work(*this);
    checkAccount();
    // The fetch at start, after whatever waits from the last run has been sent.
    scheduleRound(std::chrono::milliseconds(0));
}

std::optional<CloudAccount> SyncEngine::currentAccount() const
{
    if (m_accountWatcher)
        return m_accountWatcher->account();
    if (m_configuration.accountFile)
        return CloudAccount::readFile(*m_configuration.accountFile);
    return m_givenAccount;
}

void SyncEngine::followAccount()
{
    Work work(*this);
    // The file may have changed a moment ago without its notice having come yet.
    if (m_accountWatcher)
        m_accountWatcher->reload();
    checkAccount();
}

void SyncEngine::setAccount(const std::optional<CloudAccount> &account)
{
    if (m_configuration.accountFile)
        return;
    Work work(*this);
    m_givenAccount = account;
    checkAccount();
}

namespace {

bool isSameAccount(const std::optional<CloudAccount> &a, const std::optional<CloudAccount> &b)
{
    return (!a && !b) || (a && b && a->isSameAccount(*b));
}

} // namespace

void SyncEngine::checkAccount()
{
    // Without a database nothing is sent or fetched, but the account still says whose items the store holds.
    const std::optional<CloudAccount> current = currentAccount();
    const bool otherAccount = !isSameAccount(current, m_account);
    if (m_configuration.database) {
        const bool signedInAnew = current != m_account;
        m_account = current;
        if (signedInAnew) {
            // A new sign-in, even of the same user, may carry a token that works again; what waits goes now.
            m_accountRejected = false;
            scheduleRound(std::chrono::milliseconds(0));
        }
    }

    const std::optional<CloudAccount> recorded = m_state.account();
    if (!isSameAccount(recorded, current)) {
        using ChangeType = SyncEvent::AccountChange::ChangeType;
        const ChangeType type = !recorded  ? ChangeType::signIn
                                : !current ? ChangeType::signOut
                                           : ChangeType::switchAccounts;
        if (type != ChangeType::signIn) {
            // The tokens and the changes waiting belong to the old account: none of them goes to another.
            // (What was made while signed out has no account yet and joins the one signing in.)
            m_state.forgetChangeTokens();
            const QList<PendingRecordZoneChange> waiting = m_state.pendingRecordZoneChanges();
            m_state.remove(waiting);
        }
        m_state.setAccount(current);
        m_state.setSealed(current && current->key);
        m_fetchDue = true;
        deliver(SyncEvent::AccountChange{type, recorded, current});
    } else if (current && current->key.has_value() != m_state.isSealed()) {
        m_state.setSealed(current->key.has_value());
        if (current->key) {
            // The account gained its key: the delegate sends everything again sealed over the plain copies, and
            // all is fetched once, so that plain records this device never saw are sealed too.
            m_state.forgetChangeTokens();
            m_fetchDue = true;
            CloudAccount plain = *current;
            plain.key.reset();
            deliver(SyncEvent::AccountChange{SyncEvent::AccountChange::ChangeType::signIn, plain, current});
        }
    }
    if (otherAccount && m_configuration.database)
        abandonWork();
}

void SyncEngine::abandonWork()
{
    ++m_generation; // answers still on their way are dropped
    if (m_job)
        finish(*m_job, CloudError(CloudError::Code::operationCancelled, QStringLiteral("the account changed")));
}

void SyncEngine::deliver(const SyncEngineEvent &event)
{
    Work work(*this);
    if (m_configuration.delegate)
        m_configuration.delegate->handleEvent(event, *this);
}

void SyncEngine::flushStateUpdate()
{
    // The delegate should not change the state while it stores it; if it does, that change is reported too.
    for (int round = 0; round < 3 && m_stateDirty; ++round) {
        m_stateDirty = false;
        ++m_depth;
        if (m_configuration.delegate)
            m_configuration.delegate->handleEvent(SyncEvent::StateUpdate{m_state.serialization()}, *this);
        --m_depth;
    }
}

void SyncEngine::stateChanged()
{
    m_stateDirty = true;
    if (m_depth > 0)
        return; // reported when the engine's work ends; what the delegate queues during a send is sent by it
    {
        // A change from outside, usually the store queueing an edit: report it before returning to it.
        Work work(*this);
    }
    if (hasPendingChanges(SendChangesScope::all()))
        scheduleRound(m_configuration.timing.sendDelay);
}

bool SyncEngine::hasPendingChanges(const SendChangesScope &scope) const
{
    const auto &records = m_state.pendingRecordZoneChanges();
    const auto &zones = m_state.pendingDatabaseChanges();
    return std::any_of(records.begin(), records.end(), [&](const auto &change) { return scope.contains(change); }) ||
           std::any_of(zones.begin(), zones.end(), [&](const auto &change) { return scope.contains(change.zoneID); });
}

void SyncEngine::fetchChanges(Completion done)
{
    run(Job{false, true, {SendChangesContext::Reason::manual, {}}, std::move(done)});
}

void SyncEngine::sendChanges(SendChangesOptions options, Completion done)
{
    run(Job{true, false, {SendChangesContext::Reason::manual, std::move(options)}, std::move(done)});
}

void SyncEngine::syncChanges(Completion done)
{
    run(Job{true, true, {SendChangesContext::Reason::manual, {}}, std::move(done)});
}

void SyncEngine::scheduleRound(std::chrono::milliseconds delay)
{
    if (!m_configuration.automaticallySync || !m_configuration.database || !m_account || m_accountRejected)
        return; // a sign-in schedules the work that waits
    const auto backOff = std::chrono::milliseconds(m_backOffUntil.remainingTime());
    const auto wait = std::max(delay, m_backOffUntil.hasExpired() ? std::chrono::milliseconds(0) : backOff);
    if (m_timer.isActive() && std::chrono::milliseconds(m_timer.remainingTime()) <= wait)
        return;
    m_timer.start(wait);
}

void SyncEngine::roundDue()
{
    if (m_running) {
        m_roundAgain = true;
        return;
    }
    run(Job{true, m_fetchDue, {SendChangesContext::Reason::scheduled, {}}, {}});
}

void SyncEngine::run(Job job)
{
    if (m_running) {
        m_waiting.append(std::move(job));
        return;
    }
    Work work(*this);
    checkAccount();
    if (!m_configuration.database)
        return finish(job, CloudError(CloudError::Code::networkFailure, QStringLiteral("no cloud is set up")));
    if (!m_account || m_accountRejected)
        return finish(job, CloudError(CloudError::Code::notAuthenticated, QStringLiteral("no account is signed in")));

    m_running = true;
    m_passLimitReached = false;
    m_job = job;
    m_workAccount = m_account;
    perform(std::move(job), false);
}

void SyncEngine::perform(Job job, bool startedOver)
{
    QPointer<SyncEngine> self(this);
    auto end = [this, self, job, startedOver](const std::optional<CloudError> &error) {
        if (!self)
            return;
        // Once per piece of work: a server that asks again at once is reported rather than obeyed in a loop.
        if (error && error->code() == CloudError::Code::resetRequired && !startedOver)
            return startOver(job);
        finish(job, error);
    };
    // What the fetch settled in this device's favour (a part changed here later, a task moved off a full block) goes
    // at once, so that a round ends with nothing left to send.
    auto sendAgainThenFinish = [this, self, job, end](const std::optional<CloudError> &error) {
        if (!self)
            return;
        if (!error && job.send && hasPendingChanges(job.context.options.scope))
            return sendAll(job.context, end);
        end(error);
    };
    auto fetchThenFinish = [this, self, job, end, sendAgainThenFinish](const std::optional<CloudError> &error) {
        if (!self)
            return;
        if (error)
            return end(error);
        // After a send, fetch only once nothing local waits to be offered first.
        if (job.fetch && (!job.send || !hasPendingChanges(job.context.options.scope)))
            return fetchAll(sendAgainThenFinish);
        end(std::nullopt);
    };
    if (job.send)
        sendAll(job.context, fetchThenFinish);
    else
        fetchThenFinish(std::nullopt);
}

void SyncEngine::startOver(Job job)
{
    Work work(*this);
    m_state.forgetChangeTokens();
    m_fetchDue = true;
    deliver(SyncEvent::ServerReset{});
    // Everything the delegate queued goes, whatever the scope of the work that met the reset, and then all is
    // fetched: the union of what the server kept and what the device holds.
    job.send = true;
    job.fetch = true;
    job.context.options = SendChangesOptions{};
    perform(std::move(job), true);
}

void SyncEngine::finish(const Job &job, const std::optional<CloudError> &error)
{
    Work work(*this);
    m_running = false;
    m_job.reset();
    if (error && error->code() == CloudError::Code::notAuthenticated && m_account) {
        m_accountRejected = true; // until the account is signed in again
    } else if (error && error->isTransient()) {
        ++m_failures;
        const auto base = m_configuration.timing.retryDelay;
        const std::chrono::milliseconds grown(base.count() << std::min(m_failures - 1, 20));
        const auto delay = std::min(grown, m_configuration.timing.maximumRetryDelay);
        m_backOffUntil = QDeadlineTimer(delay);
        scheduleRound(delay);
    } else if (!error) {
        m_failures = 0;
        m_backOffUntil = QDeadlineTimer();
        if (m_passLimitReached)
            scheduleRound(m_configuration.timing.sendDelay);
    }
    // What came while the work was under way and was not taken in by it (the passes send what is queued meanwhile)
    // goes now; nothing is left for an empty round.
    if (std::exchange(m_roundAgain, false) && (m_fetchDue || hasPendingChanges(SendChangesScope::all())))
        scheduleRound(std::chrono::milliseconds(0));
    emit workFinished(error);
    if (job.done)
        job.done(error);
    if (!m_waiting.isEmpty() && !m_running)
        run(m_waiting.takeFirst());
}

} // namespace SyncKit
