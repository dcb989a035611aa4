#pragma once

#include "SyncKit/RecordID.h"

namespace SyncKit {

// A change of one record that waits to be sent.
struct PendingRecordZoneChange
{
    enum class Kind { saveRecord, deleteRecord };

    Kind kind = Kind::saveRecord;
    RecordID recordID;

    static PendingRecordZoneChange save(RecordID id) { return {Kind::saveRecord, std::move(id)}; }
    static PendingRecordZoneChange remove(RecordID id) { return {Kind::deleteRecord, std::move(id)}; }

    bool operator==(const PendingRecordZoneChange &) const = default;
};

// A change of one zone that waits to be sent.
struct PendingDatabaseChange
{
    enum class Kind { saveZone, deleteZone };

    Kind kind = Kind::saveZone;
    RecordZoneID zoneID;

    static PendingDatabaseChange saveZone(RecordZoneID id) { return {Kind::saveZone, std::move(id)}; }
    static PendingDatabaseChange deleteZone(RecordZoneID id) { return {Kind::deleteZone, std::move(id)}; }

    bool operator==(const PendingDatabaseChange &) const = default;
};

} // namespace SyncKit
