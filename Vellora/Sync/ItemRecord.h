#pragma once

#include "Vellora/DayData/DayItem.h"

#include "SyncKit/Record.h"

#include <QDateTime>

// The one record zone that holds every item's record.
SyncKit::RecordZoneID syncZoneID();

// The record type of an item.
inline const QString kDayItemRecordType = QStringLiteral("DayItem");

// The record to send for an item: the server's copy it was last seen as (so the save updates that record),
// with all five fields written from the item, and "changedAt" where the item's change is later than its place.
SyncKit::Record makeRecord(const DayItem &item);

// The record that deletes an item: against the server's copy it was last seen as (none: whatever the server
// holds), with the time of the delete, so that a later change made elsewhere wins over it.
SyncKit::Record makeTombstone(const QString &id, const QDateTime &deletedAt,
                              const std::optional<QByteArray> &systemFields);
// When the deleting device deleted the record; none for a delete of an older version.
std::optional<QDateTime> tombstoneTime(const SyncKit::Record &tombstone);

// An item from any record; missing fields, or fields of another type, take their fallbacks. `readTime` stands
// in for a modification time when the record has neither a "modifiedAt" nor a server modification date.
DayItem dayItemFromRecord(const SyncKit::Record &record, const QDateTime &readTime = QDateTime::currentDateTimeUtc());

// When a record's content was changed, for settling a conflict: the later of "changedAt" and "modifiedAt", or none.
std::optional<QDateTime> recordChangeTime(const SyncKit::Record &record);

// What an item keeps of a record: its identity and server bookkeeping.
QByteArray archiveSystemFields(const SyncKit::Record &record);
