#include "Vellora/Sync/SyncDriver.h"

#include "Vellora/Sync/ItemRecord.h"

#include <QHash>
#include <QJsonDocument>

using namespace SyncKit;

namespace {

template<class... Handlers>
struct Overloaded : Handlers...
{
    using Handlers::operator()...;
};
template<class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

const QDateTime &distantPast()
{
    static const QDateTime time(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
    return time;
}

// The server's copy as an item. One that does not say when its device changed it loses to any local change.
DayItem serverItem(const Record &record)
{
    DayItem item = dayItemFromRecord(record);
    if (!recordChangeTime(record))
        item.titleChangedAt = item.doneChangedAt = item.placeChangedAt = distantPast();
    return item;
}

} // namespace

std::optional<SyncEngine::State::Serialization> readSyncState(const QJsonObject &state)
{
    return SyncEngine::State::Serialization::fromJson(QJsonDocument(state).toJson(QJsonDocument::Compact));
}

SyncDriver::SyncDriver(DayStore &store, const SyncSetup &setup)
    : m_store(store)
{
    std::optional<SyncEngine::State::Serialization> state;
    if (const auto &saved = store.saved().state) {
        state = readSyncState(*saved);
        if (!state) {
            // Written by a later version, or edited by hand: sending on without it could lose what it queued.
            m_syncError = QStringLiteral("the sync state in the store file cannot be read, so this computer does "
                                         "not sync; the file keeps it as it is");
            return;
        }
    }
    SyncEngine::Configuration configuration;
    configuration.database = setup.database;
    configuration.stateSerialization = state;
    configuration.delegate = this;
    configuration.accountFile = setup.accountFile;
    configuration.account = setup.account;
    configuration.automaticallySync = setup.automaticallySync;
    configuration.timing = setup.timing;
    configuration.requestSize = setup.requestSize;
    configuration.fetchLimit = setup.fetchLimit;
    m_engine.emplace(std::move(configuration));
    connect(&store, &DayStore::itemsChanged, this, &SyncDriver::queue);
    if (!state)
        m_engine->state().add(QList{PendingDatabaseChange::saveZone(syncZoneID())});
    // A sign-out or switch since the last run takes the old account's items away before anything new is made, so
    // that what is made now belongs to the account signed in now, or to none.
    m_engine->followAccount();
}

void SyncDriver::queue(const QStringList &ids)
{
    QList<PendingRecordZoneChange> pending;
    for (const QString &id : ids) {
        const RecordID recordID{id, syncZoneID()};
        const bool kept = m_store.item(id).has_value();
        pending.append(kept ? PendingRecordZoneChange::save(recordID) : PendingRecordZoneChange::remove(recordID));
    }
    // The engine reports its new state at once, and the store writes it with the change.
    m_engine->state().add(pending);
}

void SyncDriver::handleEvent(const SyncEngineEvent &event, SyncEngine &engine)
{
    bool write = false;
    std::visit(Overloaded{
                   [&](const SyncEvent::StateUpdate &update) {
                       m_store.setSyncState(update.stateSerialization.toJsonObject());
                       write = true;
                   },
                   [&](const SyncEvent::AccountChange &change) {
                       handleAccountChange(change, engine);
                       write = true;
                   },
                   [&](const SyncEvent::ServerReset &) { handleServerReset(engine); },
                   [&](const SyncEvent::FetchedDatabaseChanges &changes) { handleDatabaseChanges(changes); },
                   [&](const SyncEvent::FetchedRecordZoneChanges &changes) {
                       handleRecordZoneChanges(changes, engine);
                   },
                   [&](const SyncEvent::SentRecordZoneChanges &changes) {
                       handleSentRecordZoneChanges(changes, engine);
                   },
                   // Once a fetch or a send is over, not between its pages: a later page may free the row.
                   [&](const SyncEvent::DidFetchChanges &) {
                       m_store.settleOverflow();
                       write = true;
                   },
                   [&](const SyncEvent::DidSendChanges &) {
                       m_store.settleOverflow();
                       write = true;
                   },
                   [](const auto &) {},
               },
               event);
    // The items an event brought wait for the state update that ends the engine's piece of work, so the file takes
    // both at once and never holds a change token ahead of the items fetched before it. (Items written early would
    // do no harm; a token written early would skip them after a crash.) The store writes only what it lacks.
    if (write)
        m_store.save();
}

void SyncDriver::handleAccountChange(const SyncEvent::AccountChange &change, SyncEngine &engine)
{
    using ChangeType = SyncEvent::AccountChange::ChangeType;
    // Another account's items, or none: the items of the old account leave this device, and the engine has
    // dropped their waiting changes; the server keeps them. A sign-in keeps what was made while signed out: it
    // belongs to no account and joins this one.
    if (change.changeType == ChangeType::signOut || change.changeType == ChangeType::switchAccounts)
        m_store.removeAllItems();
    const auto &before = change.previousAccount;
    const auto &now = change.currentAccount;
    if (before && now && before->isSameAccount(*now) && !before->key && now->key)
        queueEverything(engine);
}

void SyncDriver::queueEverything(SyncEngine &engine)
{
    // The account's records go sealed from now on: every item and every delete not yet sent goes again, over the
    // change tag of the plain copy the server holds; a conflict is settled as any other.
    QList<PendingRecordZoneChange> changes;
    for (const auto &[id, item] : m_store.saved().items)
        changes.append(PendingRecordZoneChange::save(RecordID{id, syncZoneID()}));
    for (const auto &[id, deletion] : m_store.saved().deletions)
        changes.append(PendingRecordZoneChange::remove(RecordID{id, syncZoneID()}));
    if (!changes.isEmpty())
        engine.state().add(changes);
}

void SyncDriver::handleServerReset(SyncEngine &engine)
{
    // The restored server may lack any of our items and knows none of their tags: every item goes again as a new
    // record. One the server kept comes back as a conflict, which the later change wins.
    const std::map<QString, DayItem> items = m_store.saved().items;
    QList<PendingRecordZoneChange> saves;
    for (auto [id, item] : items) {
        if (item.systemFields) {
            item.systemFields.reset();
            m_store.applyItem(id, item);
        }
        saves.append(PendingRecordZoneChange::save(RecordID{id, syncZoneID()}));
    }
    // Deletes go without a tag: against whatever the restored server holds, decided by the times.
    const std::map<QString, DayStore::Deletion> deletions = m_store.saved().deletions;
    for (auto [id, deletion] : deletions) {
        if (deletion.systemFields) {
            deletion.systemFields.reset();
            m_store.setDeletion(id, deletion);
        }
    }
    if (!saves.isEmpty())
        engine.state().add(saves);
}

void SyncDriver::handleDatabaseChanges(const SyncEvent::FetchedDatabaseChanges &changes)
{
    if (changes.deletions.contains(syncZoneID()))
        m_store.removeAllItems();
}

void SyncDriver::handleRecordZoneChanges(const SyncEvent::FetchedRecordZoneChanges &changes, SyncEngine &engine)
{
    // What this computer changed later than the server's copy stays, and goes to the server.
    QList<PendingRecordZoneChange> resend;
    for (const Record &record : changes.modifications) {
        if (record.recordType() != kDayItemRecordType)
            continue;
        if (auto change = settle(record))
            resend.append(*change);
    }
    for (const RecordDeletion &deletion : changes.deletions) {
        if (auto change = settleDeleted(deletion.recordID, deletion.tombstone))
            resend.append(*change);
    }
    if (!resend.isEmpty())
        engine.state().add(resend);
}

std::optional<PendingRecordZoneChange> SyncDriver::settle(const Record &server)
{
    const QString &name = server.recordID().recordName;
    const DayItem theirs = serverItem(server);
    if (auto deletion = m_store.deletion(name)) {
        if (deletion->deletedAt > recordChangeTime(server).value_or(distantPast())) {
            // Deleted here after that change: the delete goes against this copy.
            deletion->systemFields = theirs.systemFields;
            m_store.setDeletion(name, deletion);
            return PendingRecordZoneChange::remove(server.recordID());
        }
        m_store.setDeletion(name, std::nullopt);
        m_store.applyItem(name, dayItemFromRecord(server));
        return std::nullopt;
    }
    const auto ours = m_store.item(name);
    if (!ours) {
        m_store.applyItem(name, dayItemFromRecord(server));
        return std::nullopt;
    }
    const DayItem merged = mergedItem(*ours, theirs);
    m_store.applyItem(name, merged);
    // Also when only a part's time is ours: the server must hold the latest time of every part.
    if (merged == theirs)
        return std::nullopt;
    return PendingRecordZoneChange::save(server.recordID());
}

std::optional<PendingRecordZoneChange> SyncDriver::settleDeleted(const RecordID &recordID, const Record &tombstone)
{
    const QString &name = recordID.recordName;
    // A delete of an older version says not when: it wins, as it always did.
    const QDateTime deletedAt = tombstoneTime(tombstone).value_or(QDateTime());
    auto ours = m_store.item(name);
    if (ours && deletedAt.isValid() && ours->changeTime() > deletedAt) {
        // Changed here after the delete: the item stays and is made again over the tombstone.
        ours->systemFields = archiveSystemFields(tombstone);
        m_store.applyItem(name, ours);
        return PendingRecordZoneChange::save(recordID);
    }
    if (ours)
        m_store.applyItem(name, std::nullopt);
    m_store.setDeletion(name, std::nullopt);
    return std::nullopt;
}

void SyncDriver::handleSentRecordZoneChanges(const SyncEvent::SentRecordZoneChanges &changes, SyncEngine &engine)
{
    for (const Record &record : changes.savedRecords) {
        if (auto item = m_store.item(record.recordID().recordName)) {
            item->systemFields = archiveSystemFields(record);
            m_store.applyItem(item->id, item);
        }
    }
    for (const RecordID &recordID : changes.deletedRecordIDs) {
        // Unless deleted here again since (the engine keeps the newer delete queued).
        if (!engine.state().pendingRecordZoneChanges().contains(PendingRecordZoneChange::remove(recordID)))
            m_store.setDeletion(recordID.recordName, std::nullopt);
    }
    handleFailedRecordSaves(changes.failedRecordSaves, engine);
    handleFailedRecordDeletes(changes.failedRecordDeletes, engine);
}

void SyncDriver::handleFailedRecordDeletes(const QList<RecordResult> &failures, SyncEngine &engine)
{
    QList<PendingRecordZoneChange> resend;
    for (const RecordResult &failure : failures) {
        const QString &name = failure.recordID.recordName;
        const auto &server = failure.error.serverRecord();
        if (failure.error.code() == CloudError::Code::serverRecordChanged && server) {
            // Changed on another computer since this one saw it: the later of the two stands.
            if (auto change = settle(*server))
                resend.append(*change);
        } else if (failure.error.code() == CloudError::Code::zoneNotFound) {
            m_store.setDeletion(name, std::nullopt); // nothing left to delete
        } else {
            m_syncError = failure.error.description();
        }
    }
    if (!resend.isEmpty())
        engine.state().add(resend);
}

void SyncDriver::handleFailedRecordSaves(const QList<SyncEvent::FailedRecordSave> &failures, SyncEngine &engine)
{
    QList<PendingRecordZoneChange> resend;
    bool zoneMissing = false;
    for (const SyncEvent::FailedRecordSave &failure : failures) {
        const RecordID &recordID = failure.record.recordID();
        const QString &name = recordID.recordName;
        switch (failure.error.code()) {
        case CloudError::Code::serverRecordChanged: {
            // Part by part, the later change wins; what is ours goes again over the server's copy.
            if (const auto &server = failure.error.serverRecord()) {
                if (auto change = settle(*server))
                    resend.append(*change);
            }
            break;
        }
        case CloudError::Code::zoneNotFound:
            zoneMissing = true;
            [[fallthrough]];
        case CloudError::Code::unknownItem:
            // Deleted on the server since this computer saw it: the later of the delete and our change stands.
            if (const auto &tombstone = failure.error.serverRecord()) {
                if (auto change = settleDeleted(recordID, *tombstone))
                    resend.append(*change);
                break;
            }
            // The server has no such record (any more): send it as a new one.
            if (auto local = m_store.item(name)) {
                local->systemFields.reset();
                m_store.applyItem(name, local);
            }
            resend.append(PendingRecordZoneChange::save(recordID));
            break;
        default:
            m_syncError = failure.error.description();
            break;
        }
    }
    if (zoneMissing)
        engine.state().add(QList{PendingDatabaseChange::saveZone(syncZoneID())});
    if (!resend.isEmpty())
        engine.state().add(resend);
}

std::optional<RecordZoneChangeBatch> SyncDriver::nextRecordZoneChangeBatch(const SendChangesContext &context,
                                                                            SyncEngine &engine)
{
    QList<PendingRecordZoneChange> changes;
    QHash<RecordID, Record> records;
    // A copy: saves of items that are gone leave the engine's queue on the way.
    const QList<PendingRecordZoneChange> pending = engine.state().pendingRecordZoneChanges();
    for (const PendingRecordZoneChange &change : pending) {
        if (!context.options.scope.contains(change))
            continue;
        if (change.kind == PendingRecordZoneChange::Kind::saveRecord) {
            const auto item = m_store.item(change.recordID.recordName);
            if (!item) {
                engine.state().remove(QList{change});
                continue;
            }
            records.insert(change.recordID, makeRecord(*item));
        } else if (const auto deletion = m_store.deletion(change.recordID.recordName)) {
            records.insert(change.recordID,
                           makeTombstone(change.recordID.recordName, deletion->deletedAt, deletion->systemFields));
        }
        changes.append(change);
    }
    if (changes.isEmpty())
        return std::nullopt;
    return RecordZoneChangeBatch(changes, [records](const RecordID &recordID) -> std::optional<Record> {
        const auto found = records.constFind(recordID);
        if (found == records.constEnd())
            return std::nullopt;
        return *found;
    });
}
