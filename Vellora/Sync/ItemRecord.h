#pragma once

#include "Vellora/DayData/DayItem.h"

#include "SyncKit/Record.h"

#include <QDateTime>

// The record type of an item.
inline const QString kDayItemRecordType = QStringLiteral("DayItem");

// The record to send for an item: the server's copy it was last seen as (so the save updates that record),
// with all five fields written from the item, and "changedAt" where the item's change is later than its place.
SyncKit::Record makeRecord(const DayItem &item);

// An item from any record; missing fields, or fields of another type, take their fallbacks. `readTime` stands
// in for a modification time when the record has neither a "modifiedAt" nor a server modification date.
DayItem dayItemFromRecord(const SyncKit::Record &record, const QDateTime &readTime = QDateTime::currentDateTimeUtc());

// When a record's content was changed, for settling a conflict: the later of "changedAt" and "modifiedAt", or none.
std::optional<QDateTime> recordChangeTime(const SyncKit::Record &record);

// What an item keeps of a record: its identity and server bookkeeping.
QByteArray archiveSystemFields(const SyncKit::Record &record);
