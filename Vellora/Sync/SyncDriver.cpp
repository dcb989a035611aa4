#include "Vellora/Sync/SyncDriver.h"

#include "Vellora/Sync/ItemRecord.h"

#include <QHash>

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

SyncDriver::SyncDriver(DayStore &store)
    : QObject(&store)
    , m_store(store)
{
    m_unsavedTimer.setSingleShot(true);
    m_unsavedTimer.setInterval(0);
    connect(&m_unsavedTimer, &QTimer::timeout, this, [this] {
        if (m_unsaved) {
            m_unsaved = false;
            m_store.save();
        }
    });
}

void SyncDriver::handleEvent(const SyncEngineEvent &event, SyncEngine &engine)
{
    bool write = false;
    const QMetaObject::Connection changes =
        connect(&m_store, &DayStore::savedChanged, this, [this] { m_unsaved = true; });
    std::visit(Overloaded{
                   [&](const SyncEvent::StateUpdate &update) {
                       m_store.setState(update.stateSerialization);
                       write = true;
                   },
                   [&](const SyncEvent::AccountChange &change) {
                       handleAccountChange(change);
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
                       write = m_unsaved;
                   },
                   [&](const SyncEvent::DidSendChanges &) {
                       m_store.settleOverflow();
                       write = m_unsaved;
                   },
                   [](const auto &) {},
               },
               event);
    disconnect(changes);
    // One write per batch rather than per event: the items a batch brought wait for the state update that ends
    // it, so the file takes both at once and never holds a change token ahead of the items fetched before it.
    // (Items written early would do no harm; a token written early would skip them after a crash.)
    m_unsavedTimer.stop();
    if (write) {
        m_unsaved = false;
        m_store.save();
    } else if (m_unsaved) {
        // What an event changed with no state update after it is written once the engine's turn is over.
        m_unsavedTimer.start();
    }
}

void SyncDriver::handleAccountChange(const SyncEvent::AccountChange &change)
{
    using ChangeType = SyncEvent::AccountChange::ChangeType;
    // Another account's items, or none: the items of the old account leave this device, and the engine has
    // dropped their waiting changes; the server keeps them. A sign-in keeps what was made while signed out: it
    // belongs to no account and joins this one.
    if (change.changeType == ChangeType::signOut || change.changeType == ChangeType::switchAccounts)
        m_store.removeAllItems();
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
            m_store.setItem(id, item);
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
        m_store.setItem(name, dayItemFromRecord(server));
        return std::nullopt;
    }
    const auto ours = m_store.item(name);
    if (!ours) {
        m_store.setItem(name, dayItemFromRecord(server));
        return std::nullopt;
    }
    const DayItem merged = mergedItem(*ours, theirs);
    m_store.setItem(name, merged);
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
        m_store.setItem(name, ours);
        return PendingRecordZoneChange::save(recordID);
    }
    if (ours)
        m_store.setItem(name, std::nullopt);
    m_store.setDeletion(name, std::nullopt);
    return std::nullopt;
}

void SyncDriver::handleSentRecordZoneChanges(const SyncEvent::SentRecordZoneChanges &changes, SyncEngine &engine)
{
    for (const Record &record : changes.savedRecords) {
        if (auto item = m_store.item(record.recordID().recordName)) {
            item->systemFields = archiveSystemFields(record);
            m_store.setItem(item->id, item);
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
            m_store.setSyncError(failure.error.description());
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
                m_store.setItem(name, local);
            }
            resend.append(PendingRecordZoneChange::save(recordID));
            break;
        default:
            m_store.setSyncError(failure.error.description());
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

DayStore::EngineFactory syncEngineFactory(SyncSetup setup)
{
    return [setup](DayStore &store, const std::optional<DayStore::Serialization> &state) {
        // The driver belongs to the store: it outlives the engine, which the store destroys first.
        auto *driver = new SyncDriver(store);
        SyncEngine::Configuration configuration;
        configuration.database = setup.database;
        configuration.stateSerialization = state;
        configuration.delegate = driver;
        configuration.accountFile = setup.accountFile;
        configuration.account = setup.account;
        configuration.automaticallySync = setup.automaticallySync;
        configuration.timing = setup.timing;
        configuration.requestSize = setup.requestSize;
        configuration.fetchLimit = setup.fetchLimit;
        return std::make_unique<SyncEngine>(std::move(configuration));
    };
}
