#pragma once

#include "Vellora/DayData/DayStore.h"

#include "SyncKit/CloudDatabase.h"
#include "SyncKit/SyncEngine.h"
#include "SyncKit/SyncEngineDelegate.h"

#include <QObject>

// How a store syncs.
struct SyncSetup
{
    // The cloud to sync with; none keeps every change queued until there is one.
    SyncKit::CloudDatabase *database = nullptr;
    // The account file to watch; when none, `account` is the account.
    std::optional<QString> accountFile = SyncKit::CloudAccount::defaultFilePath();
    std::optional<SyncKit::CloudAccount> account;
    bool automaticallySync = true;
    SyncKit::SyncEngine::Timing timing;
    int requestSize = 400;
    int fetchLimit = 400;
};

// The engine's state as a store keeps it; none when it cannot be read.
std::optional<SyncKit::SyncEngine::State::Serialization> readSyncState(const QJsonObject &state);

// The sync engine beside a store, and the store's side of it: queues every change made in the store, applies
// what the engine reports (fetched records, results of sends, account changes, state updates), settles failed
// saves, and builds each batch to send from the current items. The engine's state lives in the store, written with
// the items.
class SyncDriver : public QObject, public SyncKit::SyncEngineDelegate
{
    Q_OBJECT

public:
    // Made before the store shows its day, so that a new day started at launch is queued like any change. A sync
    // state in the store that cannot be read makes no engine: syncError() says why, and the state stays as it is.
    SyncDriver(DayStore &store, const SyncSetup &setup);

    SyncKit::SyncEngine *engine() { return m_engine ? &*m_engine : nullptr; }
    // The last failure the server gave for a record, in its words; or why there is no engine.
    std::optional<QString> syncError() const { return m_syncError; }
    // How many records of the server this computer could not open (damaged, or sealed with a key it does not
    // hold): it keeps its own copies of them.
    qsizetype unopenedRecordCount() const { return m_engine ? m_engine->state().unopenedRecords().size() : 0; }

    void handleEvent(const SyncKit::SyncEngineEvent &event, SyncKit::SyncEngine &engine) override;
    std::optional<SyncKit::RecordZoneChangeBatch> nextRecordZoneChangeBatch(const SyncKit::SendChangesContext &context,
                                                                          SyncKit::SyncEngine &engine) override;
    void handleFailedRecordSaves(const QList<SyncKit::SyncEvent::FailedRecordSave> &failures,
                                 SyncKit::SyncEngine &engine);
    void handleFailedRecordDeletes(const QList<SyncKit::RecordResult> &failures, SyncKit::SyncEngine &engine);

private:
    void queue(const QStringList &ids);
    void handleAccountChange(const SyncKit::SyncEvent::AccountChange &change, SyncKit::SyncEngine &engine);
    void queueEverything(SyncKit::SyncEngine &engine);
    void handleServerReset(SyncKit::SyncEngine &engine);
    void handleDatabaseChanges(const SyncKit::SyncEvent::FetchedDatabaseChanges &changes);
    void handleRecordZoneChanges(const SyncKit::SyncEvent::FetchedRecordZoneChanges &changes,
                                 SyncKit::SyncEngine &engine);
    // The later of the local state of an item (held, or deleted here) and the server's copy; queues what the
    // server must still hear. Gives the record to send again, if any.
    std::optional<SyncKit::PendingRecordZoneChange> settle(const SyncKit::Record &server);
    // The same against the server's tombstone of the item.
    std::optional<SyncKit::PendingRecordZoneChange> settleDeleted(const SyncKit::RecordID &recordID,
                                                                  const SyncKit::Record &tombstone);
    void handleSentRecordZoneChanges(const SyncKit::SyncEvent::SentRecordZoneChanges &changes,
                                     SyncKit::SyncEngine &engine);

    DayStore &m_store;
    std::optional<QString> m_syncError;
    std::optional<SyncKit::SyncEngine> m_engine; // none when the store's sync state cannot be read
};

