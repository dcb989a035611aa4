// The requests of the engine's rounds: sending what waits and fetching what is new.
#include "SyncKit/RecordSealing.h"
#include "SyncKit/SyncEngine.h"
#include "SyncKit/SyncEngineDelegate.h"
#include "SyncKit/SyncEngineWork.h"

#include <QPointer>

#include <algorithm>

namespace SyncKit {

namespace {

// Record changes are offered to the delegate at most this often in one send; what it queues again after
// the last pass waits for the next send.
constexpr int kMaximumSendPasses = 4;

} // namespace

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
