#pragma once

#include "Vellora/DayData/DayStore.h"

#include "SyncKit/CloudDatabase.h"
#include "SyncKit/SyncEngine.h"
#include "SyncKit/SyncEngineDelegate.h"

#include <QObject>
#include <QTimer>

// The store's side of the sync engine: applies what the engine reports to the store (fetched records, results
// of sends, account changes, state updates), settles failed saves, and builds each batch to send from the
// current items. It lives as long as its store and works only through the store's operations for sync.
class SyncDriver : public QObject, public SyncKit::SyncEngineDelegate
{
    Q_OBJECT

public:
    explicit SyncDriver(DayStore &store);

    void handleEvent(const SyncKit::SyncEngineEvent &event, SyncKit::SyncEngine &engine) override;
    std::optional<SyncKit::RecordZoneChangeBatch> nextRecordZoneChangeBatch(const SyncKit::SendChangesContext &context,
                                                                          SyncKit::SyncEngine &engine) override;
    void handleFailedRecordSaves(const QList<SyncKit::SyncEvent::FailedRecordSave> &failures,
                                 SyncKit::SyncEngine &engine);
    void handleFailedRecordDeletes(const QList<SyncKit::RecordResult> &failures, SyncKit::SyncEngine &engine);

private:
    void handleAccountChange(const SyncKit::SyncEvent::AccountChange &change);
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
    bool m_unsaved = false; // the store holds changes of the engine's events that are not written yet
    QTimer m_unsavedTimer;
};

// How the engine of a store is made.
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

// The store's engine factory: an engine with a SyncDriver of the store as its delegate.
DayStore::EngineFactory syncEngineFactory(SyncSetup setup = {});
