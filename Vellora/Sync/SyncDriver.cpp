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

// The time a server copy was last changed by its device; one without it loses to any local item.
QDateTime serverTime(const Record &record)
{
    static const QDateTime distantPast(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
    return recordChangeTime(record).value_or(distantPast);
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
                   [&](const SyncEvent::FetchedRecordZoneChanges &changes) { handleRecordZoneChanges(changes); },
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
    if (!saves.isEmpty())
        engine.state().add(saves);
}

void SyncDriver::handleDatabaseChanges(const SyncEvent::FetchedDatabaseChanges &changes)
{
    if (changes.deletions.contains(syncZoneID()))
        m_store.removeAllItems();
}

void SyncDriver::handleRecordZoneChanges(const SyncEvent::FetchedRecordZoneChanges &changes)
{
    for (const Record &record : changes.modifications) {
        if (record.recordType() == kDayItemRecordType)
            m_store.setItem(record.recordID().recordName, dayItemFromRecord(record));
    }
    for (const RecordDeletion &deletion : changes.deletions) {
        if (m_store.item(deletion.recordID.recordName))
            m_store.setItem(deletion.recordID.recordName, std::nullopt);
    }
}

void SyncDriver::handleSentRecordZoneChanges(const SyncEvent::SentRecordZoneChanges &changes, SyncEngine &engine)
{
    for (const Record &record : changes.savedRecords) {
        if (auto item = m_store.item(record.recordID().recordName)) {
            item->systemFields = archiveSystemFields(record);
            m_store.setItem(item->id, item);
        }
    }
    handleFailedRecordSaves(changes.failedRecordSaves, engine);
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
            const auto &server = failure.error.serverRecord();
            if (!server)
                break;
            auto local = m_store.item(name);
            if (local && local->changeTime() > serverTime(*server)) {
                // The later change wins: ours, sent again over the server's copy.
                local->systemFields = archiveSystemFields(*server);
                m_store.setItem(name, local);
                resend.append(PendingRecordZoneChange::save(recordID));
            } else {
                m_store.setItem(name, dayItemFromRecord(*server));
            }
            break;
        }
        case CloudError::Code::zoneNotFound:
            zoneMissing = true;
            [[fallthrough]];
        case CloudError::Code::unknownItem:
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
