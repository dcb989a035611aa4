#include "SyncKit/RecordZoneChangeBatch.h"

namespace SyncKit {

SendChangesScope SendChangesScope::zones(QList<RecordZoneID> zoneIDs)
{
    SendChangesScope scope;
    scope.m_zoneIDs = std::move(zoneIDs);
    return scope;
}

SendChangesScope SendChangesScope::records(QList<RecordID> recordIDs)
{
    SendChangesScope scope;
    scope.m_recordIDs = std::move(recordIDs);
    return scope;
}

bool SendChangesScope::contains(const RecordID &recordID) const
{
    if (m_recordIDs)
        return m_recordIDs->contains(recordID);
    return contains(recordID.zoneID);
}

bool SendChangesScope::contains(const RecordZoneID &zoneID) const
{
    if (m_zoneIDs)
        return m_zoneIDs->contains(zoneID);
    if (m_recordIDs) {
        return std::any_of(m_recordIDs->begin(), m_recordIDs->end(),
                           [&](const RecordID &recordID) { return recordID.zoneID == zoneID; });
    }
    return true;
}

RecordZoneChangeBatch::RecordZoneChangeBatch(const QList<PendingRecordZoneChange> &pendingChanges,
                                             const RecordProvider &recordProvider)
{
    for (const PendingRecordZoneChange &change : pendingChanges) {
        auto record = recordProvider ? recordProvider(change.recordID) : std::nullopt;
        if (change.kind == PendingRecordZoneChange::Kind::deleteRecord)
            m_recordsToDelete.append(record ? std::move(*record) : Record(QString(), change.recordID));
        else if (record)
            m_recordsToSave.append(std::move(*record));
    }
}

} // namespace SyncKit
