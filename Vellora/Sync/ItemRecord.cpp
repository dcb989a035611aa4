#include "Vellora/Sync/ItemRecord.h"

#include <algorithm>

SyncKit::RecordZoneID syncZoneID()
{
    return SyncKit::RecordZoneID{QStringLiteral("Vellora")};
}

namespace {

namespace Field {
const QString title = QStringLiteral("title");
const QString done = QStringLiteral("done");
const QString block = QStringLiteral("bucket");
const QString day = QStringLiteral("day");
const QString modifiedAt = QStringLiteral("modifiedAt");
const QString changedAt = QStringLiteral("changedAt");
const QString titleChangedAt = QStringLiteral("titleChangedAt");
const QString doneChangedAt = QStringLiteral("doneChangedAt");
const QString placeChangedAt = QStringLiteral("placeChangedAt");
const QString deletedAt = QStringLiteral("deletedAt");
} // namespace Field

SyncKit::RecordID recordIDOf(const DayItem &item)
{
    return SyncKit::RecordID{item.id, syncZoneID()};
}

// The server's copy an item was last seen as, when its bytes describe the item's record.
std::optional<SyncKit::Record> restoredRecord(const std::optional<QByteArray> &systemFields,
                                              const SyncKit::RecordID &recordID)
{
    if (!systemFields)
        return std::nullopt;
    auto record = SyncKit::Record::fromSystemFields(*systemFields);
    // Bytes of another record would send this item's content over that record.
    if (!record || record->recordID() != recordID || record->recordType() != kDayItemRecordType)
        return std::nullopt;
    return record;
}

} // namespace

SyncKit::Record makeRecord(const DayItem &item)
{
    SyncKit::Record record = restoredRecord(item.systemFields, recordIDOf(item))
                                 .value_or(SyncKit::Record(kDayItemRecordType, recordIDOf(item)));
    record.setValue(Field::title, item.title);
    record.setValue(Field::done, qint64(item.done ? 1 : 0));
    record.setValue(Field::block, storedForm(item.block));
    record.setValue(Field::day, item.day);
    record.setValue(Field::modifiedAt, item.modifiedAt);
    // Only where it says more than modifiedAt; a computer that does not know it reads the record as before.
    if (item.changedAt)
        record.setValue(Field::changedAt, *item.changedAt);
    else
        record.removeValue(Field::changedAt);
    // Each part's time, so that another computer merges part by part; one that does not know them reads the record
    // as changed at one time, as before.
    record.setValue(Field::titleChangedAt, item.titleTime());
    record.setValue(Field::doneChangedAt, item.doneTime());
    record.setValue(Field::placeChangedAt, item.placeTime());
    return record;
}

SyncKit::Record makeTombstone(const QString &id, const QDateTime &deletedAt,
                              const std::optional<QByteArray> &systemFields)
{
    const SyncKit::RecordID recordID{id, syncZoneID()};
    SyncKit::Record tombstone =
        restoredRecord(systemFields, recordID).value_or(SyncKit::Record(kDayItemRecordType, recordID));
    tombstone.setValue(Field::deletedAt, deletedAt);
    return tombstone;
}

std::optional<QDateTime> tombstoneTime(const SyncKit::Record &tombstone)
{
    return tombstone.dateValue(Field::deletedAt);
}

DayItem dayItemFromRecord(const SyncKit::Record &record, const QDateTime &readTime)
{
    DayItem item;
    item.id = record.recordID().recordName;
    item.title = record.stringValue(Field::title).value_or(QString());
    item.done = record.int64Value(Field::done).value_or(0) != 0;
    item.block = blockFromStoredForm(record.stringValue(Field::block).value_or(QString())).value_or(Block::small);
    item.day = record.stringValue(Field::day).value_or(kOpenDay);
    item.modifiedAt = record.dateValue(Field::modifiedAt).value_or(record.modificationDate().value_or(readTime));
    item.systemFields = archiveSystemFields(record);
    item.changedAt = laterChange(record.dateValue(Field::changedAt), item.modifiedAt);
    // No part changed later than the whole: a record that says so was not written by us.
    const auto partTime = [&](const QString &key) -> std::optional<QDateTime> {
        const auto time = record.dateValue(key);
        return time ? std::optional(std::min(*time, item.changeTime())) : std::nullopt;
    };
    item.titleChangedAt = partTime(Field::titleChangedAt);
    item.doneChangedAt = partTime(Field::doneChangedAt);
    item.placeChangedAt = partTime(Field::placeChangedAt);
    item.compactPartTimes();
    return item;
}

std::optional<QDateTime> recordChangeTime(const SyncKit::Record &record)
{
    const auto modified = record.dateValue(Field::modifiedAt);
    const auto changed = record.dateValue(Field::changedAt);
    if (modified && changed)
        return std::max(*modified, *changed);
    return changed ? changed : modified;
}

QByteArray archiveSystemFields(const SyncKit::Record &record)
{
    return record.encodeSystemFields();
}
