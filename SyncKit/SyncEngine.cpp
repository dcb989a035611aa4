#include "SyncKit/SyncEngine.h"

#include "SyncKit/RecordSealing.h"
#include "SyncKit/SyncEngineDelegate.h"

#include <QPointer>

#include <algorithm>

namespace SyncKit {

namespace {

// Record changes are offered to the delegate at most this often in one send; what it queues again after
// the last pass waits for the next send.
constexpr int kMaximumSendPasses = 4;

} // namespace

// Marks the engine as running its own code. When the outermost piece ends, a changed state is reported once.
class SyncEngine::Work
{
public:
    explicit Work(SyncEngine &engine) : m_engine(engine) { ++m_engine.m_depth; }
    ~Work()
    {
        if (--m_engine.m_depth == 0)
            m_engine.flushStateUpdate();
    }
    Work(const Work &) = delete;
    Work &operator=(const Work &) = delete;

private:
    SyncEngine &m_engine;
};

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

void SyncEngine::sendAll(const SendChangesContext &context, Next next)
{
    if (!hasPendingChanges(context.options.scope))
        return next(std::nullopt);
    deliver(SyncEvent::WillSendChanges{});
    QPointer<SyncEngine> self(this);
    sendDatabaseChanges(context.options.scope, [this, self, context, next](const std::optional<CloudError> &error) {
        if (!self)
            return;
        if (error) {
            deliver(SyncEvent::DidSendChanges{});
            return next(error);
        }
        sendRecordPass(context, 0, [this, self, next](const std::optional<CloudError> &error) {
            if (!self)
                return;
            deliver(SyncEvent::DidSendChanges{});
            next(error);
        });
    });
}

void SyncEngine::sendDatabaseChanges(const SendChangesScope &scope, Next next)
{
    QList<PendingDatabaseChange> changes;
    QList<RecordZoneID> saves;
    QList<RecordZoneID> deletes;
    for (const auto &change : m_state.pendingDatabaseChanges()) {
        if (!scope.contains(change.zoneID))
            continue;
        changes.append(change);
        (change.kind == PendingDatabaseChange::Kind::saveZone ? saves : deletes).append(change.zoneID);
    }
    if (changes.isEmpty())
        return next(std::nullopt);

    QPointer<SyncEngine> self(this);
    m_configuration.database->modifyZones(
        *m_workAccount, saves, deletes,
        answerOf([this, self, changes, next](const CloudResult<ModifyZonesResult> &result) {
            if (!self)
                return;
            Work work(*this);
            if (!result.ok())
                return next(result.error());
            // Failed ones leave the queue as well: the delegate hears of them and decides.
            m_state.remove(changes);
            const ModifyZonesResult &zones = result.value();
            deliver(SyncEvent::SentDatabaseChanges{zones.savedZones, zones.failedZoneSaves, zones.deletedZones,
                                                   zones.failedZoneDeletes});
            next(std::nullopt);
        }));
}

void SyncEngine::sendRecordPass(const SendChangesContext &context, int pass, Next next)
{
    const auto &pending = m_state.pendingRecordZoneChanges();
    const bool any = std::any_of(pending.begin(), pending.end(),
                                 [&](const auto &change) { return context.options.scope.contains(change); });
    if (!any)
        return next(std::nullopt);
    if (pass >= kMaximumSendPasses) {
        m_passLimitReached = true;
        return next(std::nullopt);
    }

    std::optional<RecordZoneChangeBatch> batch;
    if (m_configuration.delegate)
        batch = m_configuration.delegate->nextRecordZoneChangeBatch(context, *this);
    if (!batch || batch->isEmpty())
        return next(std::nullopt);

    auto changes = std::make_shared<QList<PendingRecordZoneChange>>();
    auto records = std::make_shared<QHash<RecordID, Record>>();
    auto revisions = std::make_shared<QHash<RecordID, quint64>>();
    for (const Record &record : batch->recordsToSave()) {
        changes->append(PendingRecordZoneChange::save(record.recordID()));
        records->insert(record.recordID(), record);
    }
    for (const Record &tombstone : batch->recordsToDelete()) {
        changes->append(PendingRecordZoneChange::remove(tombstone.recordID()));
        records->insert(tombstone.recordID(), tombstone);
    }
    for (const auto &change : std::as_const(*changes))
        revisions->insert(change.recordID, m_state.revision(change.recordID));

    QPointer<SyncEngine> self(this);
    sendRequest(changes, records, revisions, 0, context.options.scope,
                [this, self, context, pass, next](const std::optional<CloudError> &error) {
                    if (!self)
                        return;
                    if (error)
                        return next(error);
                    sendRecordPass(context, pass + 1, next);
                });
}

void SyncEngine::sendRequest(std::shared_ptr<const QList<PendingRecordZoneChange>> changes,
                             std::shared_ptr<const QHash<RecordID, Record>> records,
                             std::shared_ptr<const QHash<RecordID, quint64>> revisions, qsizetype offset,
                             const SendChangesScope &scope, Next next)
{
    if (offset >= changes->size())
        return next(std::nullopt);

    QPointer<SyncEngine> self(this);
    // A zone queued again by the delegate (its records failed for want of it) goes before the next records.
    sendDatabaseChanges(scope, [=, this](const std::optional<CloudError> &error) {
        if (!self)
            return;
        if (error)
            return next(error);
        const qsizetype count = std::min<qsizetype>(std::max(1, m_configuration.requestSize), changes->size() - offset);
        QList<Record> saves;
        QList<Record> deletes;
        const RecordSealing sealing(m_workAccount->key, m_state);
        for (qsizetype i = offset; i < offset + count; ++i) {
            const PendingRecordZoneChange &change = changes->at(i);
            const Record &record = records->value(change.recordID);
            if (change.kind == PendingRecordZoneChange::Kind::saveRecord)
                saves.append(sealing.sealed(record, RecordSeal::Kind::save));
            else
                deletes.append(sealing.sealed(record, RecordSeal::Kind::tombstone));
        }
        m_configuration.database->modifyRecords(
            *m_workAccount, saves, deletes, answerOf([=, this](const CloudResult<ModifyRecordsResult> &result) {
                if (!self)
                    return;
                Work work(*this);
                if (!result.ok())
                    return next(result.error());
                const ModifyRecordsResult &sent = result.value();
                RecordSealing sealing(m_workAccount->key, m_state);
                SyncEvent::SentRecordZoneChanges event{{}, {}, sent.deletedRecordIDs, {}};
                // The queue first, so that the delegate can queue a change again. Failed ones leave it as well:
                // the delegate hears of them and decides.
                QList<PendingRecordZoneChange> done;
                for (const Record &record : sent.savedRecords) {
                    done.append(PendingRecordZoneChange::save(record.recordID()));
                    event.savedRecords.append(sealing.saved(records->value(record.recordID()), record));
                }
                for (const RecordResult &failure : sent.failedRecordSaves) {
                    done.append(PendingRecordZoneChange::save(failure.recordID));
                    event.failedRecordSaves.append({records->value(failure.recordID), sealing.opened(failure.error)});
                }
                for (const RecordID &recordID : sent.deletedRecordIDs)
                    done.append(PendingRecordZoneChange::remove(recordID));
                for (const RecordResult &failure : sent.failedRecordDeletes) {
                    done.append(PendingRecordZoneChange::remove(failure.recordID));
                    event.failedRecordDeletes.append({failure.recordID, sealing.opened(failure.error)});
                }
                removeUnlessQueuedAgain(done, *revisions);
                deliver(event);
                sealing.queuePlainAgain();
                sendRequest(changes, records, revisions, offset + count, scope, next);
            }));
    });
}

void SyncEngine::removeUnlessQueuedAgain(const QList<PendingRecordZoneChange> &changes,
                                         const QHash<RecordID, quint64> &revisions)
{
    // A change queued again while the request was on its way is newer than what was sent: it stays.
    QList<PendingRecordZoneChange> sent;
    for (const PendingRecordZoneChange &change : changes) {
        if (m_state.revision(change.recordID) == revisions.value(change.recordID))
            sent.append(change);
    }
    m_state.remove(sent);
}

void SyncEngine::fetchAll(Next next)
{
    deliver(SyncEvent::WillFetchChanges{});
    QPointer<SyncEngine> self(this);
    const QByteArray token = m_state.databaseChangeToken();
    const quint64 notices = m_changeNotices;
    m_configuration.database->fetchDatabaseChanges(
        *m_workAccount, token, answerOf([this, self, next, notices](const CloudResult<DatabaseChanges> &result) {
            if (!self)
                return;
            Work work(*this);
            if (!result.ok()) {
                deliver(SyncEvent::DidFetchChanges{});
                return next(result.error());
            }
            const DatabaseChanges &changes = result.value();
            if (!changes.modifiedZones.isEmpty() || !changes.deletedZones.isEmpty())
                deliver(SyncEvent::FetchedDatabaseChanges{changes.modifiedZones, changes.deletedZones});
            for (const RecordZoneID &zoneID : changes.deletedZones)
                m_state.forgetZoneChangeToken(zoneID);
            const QByteArray newToken = changes.changeToken;
            fetchZones(changes.modifiedZones, [=, this](const std::optional<CloudError> &error) {
                if (!self)
                    return;
                Work work(*this);
                // The database token moves on only when every changed zone was fetched. A change the server told of
                // meanwhile may have missed this fetch's answers: it is fetched again.
                if (!error) {
                    m_state.setDatabaseChangeToken(newToken);
                    m_fetchDue = m_changeNotices != notices;
                }
                deliver(SyncEvent::DidFetchChanges{});
                next(error);
            });
        }));
}

void SyncEngine::fetchZones(QList<RecordZoneID> zones, Next next)
{
    if (zones.isEmpty())
        return next(std::nullopt);
    const RecordZoneID zoneID = zones.first();
    deliver(SyncEvent::WillFetchRecordZoneChanges{zoneID});
    QPointer<SyncEngine> self(this);
    m_configuration.database->fetchZoneChanges(
        *m_workAccount, zoneID, m_state.zoneChangeToken(zoneID), m_configuration.fetchLimit,
        answerOf([this, self, zones, next, zoneID](const CloudResult<ZoneChanges> &result) {
            if (!self)
                return;
            Work work(*this);
            if (!result.ok()) {
                deliver(SyncEvent::DidFetchRecordZoneChanges{zoneID, result.error()});
                if (result.error().code() != CloudError::Code::zoneNotFound)
                    return next(result.error());
                // Deleted since the database changes were read; the next fetch reports the deletion.
                m_state.forgetZoneChangeToken(zoneID);
                return fetchZones(zones.mid(1), next);
            }
            const ZoneChanges &changes = result.value();
            RecordSealing sealing(m_workAccount->key, m_state);
            SyncEvent::FetchedRecordZoneChanges opened{sealing.opened(changes.modifications),
                                                       sealing.opened(changes.deletions)};
            if (!opened.modifications.isEmpty() || !opened.deletions.isEmpty())
                deliver(opened);
            sealing.queuePlainAgain();
            // After the delegate has the records: a token saved earlier could skip them.
            m_state.setZoneChangeToken(zoneID, changes.changeToken);
            if (changes.moreComing)
                return fetchZones(zones, next);
            deliver(SyncEvent::DidFetchRecordZoneChanges{zoneID, std::nullopt});
            fetchZones(zones.mid(1), next);
        }));
}

} // namespace SyncKit
