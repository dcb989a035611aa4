#pragma once

#include "SyncKit/CloudAccount.h"
#include "SyncKit/CloudError.h"
#include "SyncKit/Record.h"

#include <QByteArray>
#include <QList>
#include <QObject>

#include <functional>
#include <variant>

namespace SyncKit {

// The answer to a request: its result, or the error that made the whole request fail.
template<typename T>
class CloudResult
{
public:
    CloudResult(T value) : m_value(std::move(value)) {}
    CloudResult(CloudError error) : m_value(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(m_value); }
    const T &value() const { return std::get<T>(m_value); }
    const CloudError &error() const { return std::get<CloudError>(m_value); }

private:
    std::variant<T, CloudError> m_value;
};

struct ZoneResult
{
    RecordZoneID zoneID;
    CloudError error;
};

struct ModifyZonesResult
{
    QList<RecordZoneID> savedZones;
    QList<RecordZoneID> deletedZones;
    QList<ZoneResult> failedZoneSaves;
    QList<ZoneResult> failedZoneDeletes;
};

struct RecordResult
{
    RecordID recordID;
    CloudError error;
};

struct ModifyRecordsResult
{
    QList<Record> savedRecords; // as the server stored them, with their new system fields
    QList<RecordID> deletedRecordIDs;
    QList<RecordResult> failedRecordSaves;
    QList<RecordResult> failedRecordDeletes;
};

struct DatabaseChanges
{
    QList<RecordZoneID> modifiedZones; // made, or their records changed
    QList<RecordZoneID> deletedZones;
    QByteArray changeToken;
};

struct RecordDeletion
{
    RecordID recordID;
    QString recordType;
    // What the deleting device left: its change tag and the fields the server keeps without reading (the time of
    // the delete). Empty for a delete of an older device.
    Record tombstone = {};

    bool operator==(const RecordDeletion &) const = default;
};

struct ZoneChanges
{
    QList<Record> modifications;
    QList<RecordDeletion> deletions;
    QByteArray changeToken; // fetch again from here
    bool moreComing = false;
};

// The operations a cloud server offers to one signed-in device. Every call names the account; the answer comes
// through the callback on the main thread, either before the call returns or later, and may never come if the
// database is destroyed first.
class CloudDatabase : public QObject
{
    Q_OBJECT

public:
    template<typename T>
    using Callback = std::function<void(CloudResult<T>)>;

    using QObject::QObject;

    // Zones are made when saved (saving an existing zone changes nothing) and deleted with all their records.
    virtual void modifyZones(const CloudAccount &account, const QList<RecordZoneID> &saves,
                             const QList<RecordZoneID> &deletes, Callback<ModifyZonesResult> done) = 0;

    // Each record is saved only when its change tag is the server's current one: a stale tag fails with
    // serverRecordChanged and the server's record, a tag of a record the server does not have with unknownItem,
    // a record without a tag whose name is taken with serverRecordChanged; a missing zone fails with
    // zoneNotFound. A save over a deleted record is taken without a tag or with the tombstone's own; another tag
    // fails with unknownItem and the tombstone as the server's record, so that the device decides.
    // A delete is a tombstone: the record's type, the change tag last seen and fields kept unread. It deletes only
    // a record of that tag (another fails with serverRecordChanged and the server's record); deleting a record that
    // does not exist, or no longer does, succeeds. A tombstone without a type deletes whatever the tag (older
    // devices send only the identity).
    virtual void modifyRecords(const CloudAccount &account, const QList<Record> &saves, const QList<Record> &deletes,
                               Callback<ModifyRecordsResult> done) = 0;

    // The zones changed or deleted since the token; an empty or unknown token means since the beginning,
    // which reports no deletions.
    virtual void fetchDatabaseChanges(const CloudAccount &account, const QByteArray &token,
                                      Callback<DatabaseChanges> done) = 0;

    // The records of one zone changed or deleted since the token, oldest change first, at most `limit`; an empty
    // or unknown token means since the beginning, which reports no deletions.
    virtual void fetchZoneChanges(const CloudAccount &account, const RecordZoneID &zoneID, const QByteArray &token,
                                  int limit, Callback<ZoneChanges> done) = 0;

signals:
    // Something in the user's database changed: devices signed in to that account may fetch.
    void databaseChanged(const QString &server, const QString &user);
};

} // namespace SyncKit
