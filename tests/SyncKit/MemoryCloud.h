#pragma once

#include "SyncKit/CloudDatabase.h"

#include <QDateTime>
#include <QHash>

#include <functional>
#include <map>

namespace SyncKit {

// A whole cloud in the process: one private database per account, with zones, records, server-assigned change
// tags and modification dates, tombstones of deleted records and change feeds. Several engines, one per
// device, can share one MemoryCloud. Calls can be made to fail as a network would.
class MemoryCloud : public CloudDatabase
{
    Q_OBJECT

public:
    enum class Call { modifyZones, modifyRecords, fetchDatabaseChanges, fetchZoneChanges };
    // What the network does to a call: nothing; the request is lost (the server does nothing); or the answer is
    // lost (the server did the work, the caller hears of a failure).
    enum class Fault { none, dropRequest, dropResponse };
    using FaultInjector = std::function<Fault(Call)>;
    using Clock = std::function<QDateTime()>;

    explicit MemoryCloud(QString address = QStringLiteral("memory:"), QObject *parent = nullptr);
    ~MemoryCloud() override;

    // Makes the account's database when it is new and gives a fresh token for it.
    CloudAccount addAccount(const QString &user);
    // Tokens that were given out stop working.
    void revokeTokens(const QString &user);
    // At most this many live records in the user's database; none: no limit.
    void setQuota(const QString &user, std::optional<int> records);

    // From now on a request that saves or deletes a record not sealed fails whole, as a server does once the
    // account has its key.
    void refusePlainRecords(const QString &user);

    // Where modification dates come from; the system clock when empty.
    void setClock(Clock clock) { m_clock = std::move(clock); }
    void setFaultInjector(FaultInjector injector) { m_faults = std::move(injector); }
    // The next calls fail as given, before the fault injector is asked.
    void failNextCalls(int count, Fault fault = Fault::dropRequest);
    // Answers come from the event loop instead of before the call returns, as over a network.
    void setAnswersDeferred(bool deferred) { m_deferred = deferred; }
    int callCount(Call call) const { return m_callCounts.value(call); }

    // What the server holds, for tests and benchmarks.
    QList<Record> records(const QString &user, const RecordZoneID &zoneID) const;
    std::optional<Record> record(const QString &user, const RecordID &recordID) const;
    bool hasZone(const QString &user, const RecordZoneID &zoneID) const;
    // Deletes a zone as another device or the user's account settings could.
    void deleteZone(const QString &user, const RecordZoneID &zoneID);

    void modifyZones(const CloudAccount &account, const QList<RecordZoneID> &saves, const QList<RecordZoneID> &deletes,
                     Callback<ModifyZonesResult> done) override;
    void modifyRecords(const CloudAccount &account, const QList<Record> &saves, const QList<Record> &deletes,
                       Callback<ModifyRecordsResult> done) override;
    void fetchDatabaseChanges(const CloudAccount &account, const QByteArray &token,
                              Callback<DatabaseChanges> done) override;
    void fetchZoneChanges(const CloudAccount &account, const RecordZoneID &zoneID, const QByteArray &token, int limit,
                          Callback<ZoneChanges> done) override;

private:
    struct StoredRecord
    {
        Record record;
        quint64 change = 0;
        bool deleted = false;
    };
    struct Zone
    {
        quint64 incarnation = 0;
        quint64 lastChange = 0;
        QHash<QString, StoredRecord> records;
        std::map<quint64, QString> changeLog; // change number -> record name, latest change of each record
    };
    struct Database
    {
        quint64 incarnation = 0;
        quint64 counter = 0;
        std::map<RecordZoneID, Zone> zones;
        std::map<RecordZoneID, quint64> deletedZones; // zone -> change number of its deletion
        QList<QString> tokens;
        std::optional<int> quota;
        int liveRecords = 0;
        bool sealed = false;
    };

    // The account's database, or the error that refuses the call.
    std::variant<Database *, CloudError> open(const CloudAccount &account);
    Fault faultFor(Call call);
    template<typename T>
    void answer(Call call, const CloudAccount &account, Callback<T> done,
                std::function<CloudResult<T>(Database &)> work);
    QDateTime now() const;
    const Zone *findZone(const QString &user, const RecordZoneID &zoneID) const;
    void dropZone(Database &database, const RecordZoneID &zoneID);

    std::optional<CloudError> saveRecord(Database &database, const Record &record, Record &stored);
    std::optional<CloudError> deleteRecord(Database &database, const Record &tombstone);
    void touch(Database &database, Zone &zone, StoredRecord &stored, const QString &name);

    QString m_address;
    std::map<QString, Database> m_databases;
    quint64 m_nextIncarnation = 1;
    Clock m_clock;
    FaultInjector m_faults;
    QList<Fault> m_nextFaults;
    bool m_deferred = false;
    QHash<Call, int> m_callCounts;
};

} // namespace SyncKit
