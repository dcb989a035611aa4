#pragma once

#include "SyncKit/PendingChange.h"
#include "SyncKit/Record.h"

#include <QList>

#include <functional>
#include <optional>

namespace SyncKit {

// Which pending changes a send may carry.
class SendChangesScope
{
public:
    // Every change.
    static SendChangesScope all() { return SendChangesScope(); }
    // Only changes of records in these zones.
    static SendChangesScope zones(QList<RecordZoneID> zoneIDs);
    // Only changes of these records.
    static SendChangesScope records(QList<RecordID> recordIDs);

    bool contains(const RecordID &recordID) const;
    bool contains(const PendingRecordZoneChange &change) const { return contains(change.recordID); }
    bool contains(const RecordZoneID &zoneID) const;

private:
    SendChangesScope() = default;

    std::optional<QList<RecordZoneID>> m_zoneIDs;
    std::optional<QList<RecordID>> m_recordIDs;
};

struct SendChangesOptions
{
    SendChangesScope scope = SendChangesScope::all();
};

// What the delegate is told when it is asked for a batch.
struct SendChangesContext
{
    enum class Reason { scheduled, manual };
    Reason reason = Reason::scheduled;
    SendChangesOptions options;
};

// The record changes of one send: the records to save and the tombstones of the records to delete, both made by the
// record provider. The engine cuts it into requests of the size the server takes.
class RecordZoneChangeBatch
{
public:
    using RecordProvider = std::function<std::optional<Record>(const RecordID &)>;

    // Asks the provider for the record of every save, in order; a save it gives no record for is left out. A delete
    // it gives no tombstone for goes as the bare identity, which deletes whatever the server holds.
    RecordZoneChangeBatch(const QList<PendingRecordZoneChange> &pendingChanges, const RecordProvider &recordProvider);

    const QList<Record> &recordsToSave() const { return m_recordsToSave; }
    const QList<Record> &recordsToDelete() const { return m_recordsToDelete; }
    bool isEmpty() const { return m_recordsToSave.isEmpty() && m_recordsToDelete.isEmpty(); }

private:
    QList<Record> m_recordsToSave;
    QList<Record> m_recordsToDelete;
};

} // namespace SyncKit
