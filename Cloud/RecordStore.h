#pragma once

#include "Cloud/SqlConnection.h"
#include "SyncKit/CloudProtocol.h"

#include <QDateTime>

namespace Cloud {

// The private databases of the users: zones, records with their change tags, tombstones and change feeds, with the
// rules every cloud of the app follows. Each write reads and raises its user's change counter under the write lock
// and commits once, so change numbers have no gaps a reader could skip. Field values are stored as sent, unread.
class RecordStore
{
public:
    explicit RecordStore(SqlConnection &connection) : m_connection(connection) {}

    // A write reports through `changed` whether it changed the user's database, so that the user's devices are told.
    std::variant<QJsonObject, StoreFailure> modifyZones(qint64 user, const SyncKit::CloudProtocol::ModifyZonesRequest &,
                                                        bool &changed);
    // Nothing, and nothing applied, when the user has a key box and the request carries a record it could read.
    std::variant<std::optional<QJsonObject>, StoreFailure>
    modifyRecords(qint64 user, const SyncKit::CloudProtocol::ModifyRecordsRequest &, bool &changed);
    std::variant<QJsonObject, StoreFailure> databaseChanges(qint64 user,
                                                            const SyncKit::CloudProtocol::DatabaseChangesRequest &);
    // Nothing when the zone does not exist.
    std::variant<std::optional<QJsonObject>, StoreFailure>
    zoneChanges(qint64 user, const SyncKit::CloudProtocol::ZoneChangesRequest &);
    // Deletes every zone of the user as a device could, so that each device hears of it at its next fetch; the
    // counts of zones and live records deleted.
    std::variant<std::pair<qint64, qint64>, StoreFailure> deleteAllZones(qint64 user, bool &changed);

    static bool carriesPlainRecord(const SyncKit::CloudProtocol::ModifyRecordsRequest &request);

    // Whether a device presents a change token or tag from before the data was last restored: it may hold what
    // the restored data lacks, so it must start over rather than be served from the beginning.
    bool isOfAnotherEpoch(const QByteArray &token) const;
    bool isOfAnotherEpoch(const SyncKit::CloudProtocol::ModifyRecordsRequest &request) const;

private:
    struct Write;

    // The user's change counter, locked for a write; a user removed meanwhile fails as no longer authenticated.
    qint64 counterOf(qint64 user, bool lock);
    bool raiseCounter(qint64 user, qint64 before, qint64 counter);
    std::optional<qint64> zoneIn(Write &write, const SyncKit::RecordZoneID &zoneID);
    QSqlQuery recordRow(qint64 zone, const QString &name);
    void deleteZone(qint64 user, qint64 zone, const SyncKit::RecordZoneID &zoneID, qint64 change);
    std::optional<qint64> zoneId(qint64 user, const SyncKit::RecordZoneID &zoneID);
    QJsonObject saveRecord(Write &write, const SyncKit::CloudProtocol::RecordEnvelope &record,
                           std::optional<SyncKit::CloudProtocol::RecordEnvelope> &saved);
    // An empty object when deleted (or nothing was there), else the error.
    QJsonObject deleteRecord(Write &write, const SyncKit::CloudProtocol::RecordEnvelope &tombstone);
    QString now() const;
    QString tagOf(qint64 change) const;
    QString incarnation(qint64 id) const;
    SyncKit::CloudProtocol::RecordEnvelope envelopeOf(const QSqlQuery &row, const SyncKit::RecordZoneID &zoneID) const;

    SqlConnection &m_connection;
};

} // namespace Cloud
