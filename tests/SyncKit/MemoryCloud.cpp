#include "tests/SyncKit/MemoryCloud.h"

#include "SyncKit/RecordSeal.h"

#include <QTimer>
#include <QUuid>

#include <algorithm>

namespace SyncKit {

namespace {

constexpr auto kZoneTokenPrefix = "z1";
constexpr auto kDatabaseTokenPrefix = "d1";

QByteArray makeToken(const char *prefix, quint64 incarnation, quint64 change)
{
    return QByteArray(prefix) + ':' + QByteArray::number(incarnation) + ':' + QByteArray::number(change);
}

// The change number a token stands for; nothing for an empty token, another kind of token, or one of an
// earlier life of the zone or database, so that the caller starts from the beginning.
std::optional<quint64> changeOfToken(const QByteArray &token, const char *prefix, quint64 incarnation)
{
    const QList<QByteArray> parts = token.split(':');
    if (parts.size() != 3 || parts[0] != prefix)
        return std::nullopt;
    bool incarnationOk = false;
    bool changeOk = false;
    const quint64 tokenIncarnation = parts[1].toULongLong(&incarnationOk);
    const quint64 change = parts[2].toULongLong(&changeOk);
    if (!incarnationOk || !changeOk || tokenIncarnation != incarnation)
        return std::nullopt;
    return change;
}

CloudError lost(const char *what)
{
    return CloudError(CloudError::Code::networkFailure, QString::fromLatin1(what));
}

} // namespace

MemoryCloud::MemoryCloud(QString address, QObject *parent)
    : CloudDatabase(parent)
    , m_address(std::move(address))
{
}

MemoryCloud::~MemoryCloud() = default;

CloudAccount MemoryCloud::addAccount(const QString &user)
{
    Database &database = m_databases[user];
    if (database.incarnation == 0)
        database.incarnation = m_nextIncarnation++;
    const QString token = QUuid::createUuid().toString(QUuid::WithoutBraces);
    database.tokens.append(token);
    return CloudAccount{m_address, user, token};
}

void MemoryCloud::revokeTokens(const QString &user)
{
    const auto found = m_databases.find(user);
    if (found != m_databases.end())
        found->second.tokens.clear();
}

void MemoryCloud::setQuota(const QString &user, std::optional<int> records)
{
    m_databases[user].quota = records;
}

void MemoryCloud::failNextCalls(int count, Fault fault)
{
    for (int i = 0; i < count; ++i)
        m_nextFaults.append(fault);
}

QDateTime MemoryCloud::now() const
{
    return (m_clock ? m_clock() : QDateTime::currentDateTimeUtc()).toUTC();
}

const MemoryCloud::Zone *MemoryCloud::findZone(const QString &user, const RecordZoneID &zoneID) const
{
    const auto database = m_databases.find(user);
    if (database == m_databases.end())
        return nullptr;
    const auto zone = database->second.zones.find(zoneID);
    return zone == database->second.zones.end() ? nullptr : &zone->second;
}

QList<Record> MemoryCloud::records(const QString &user, const RecordZoneID &zoneID) const
{
    QList<Record> result;
    const Zone *zone = findZone(user, zoneID);
    if (!zone)
        return result;
    for (const StoredRecord &stored : zone->records) {
        if (!stored.deleted)
            result.append(stored.record);
    }
    std::sort(result.begin(), result.end(),
              [](const Record &a, const Record &b) { return a.recordID().recordName < b.recordID().recordName; });
    return result;
}

std::optional<Record> MemoryCloud::record(const QString &user, const RecordID &recordID) const
{
    const Zone *zone = findZone(user, recordID.zoneID);
    if (!zone)
        return std::nullopt;
    const auto stored = zone->records.constFind(recordID.recordName);
    if (stored == zone->records.constEnd() || stored->deleted)
        return std::nullopt;
    return stored->record;
}

bool MemoryCloud::hasZone(const QString &user, const RecordZoneID &zoneID) const
{
    return findZone(user, zoneID);
}

// Deletes the zone when it is there, as a change of the database.
void MemoryCloud::dropZone(Database &database, const RecordZoneID &zoneID)
{
    const auto zone = database.zones.find(zoneID);
    if (zone == database.zones.end())
        return;
    for (const StoredRecord &stored : zone->second.records)
        database.liveRecords -= stored.deleted ? 0 : 1;
    database.zones.erase(zone);
    database.deletedZones[zoneID] = ++database.counter;
}

void MemoryCloud::deleteZone(const QString &user, const RecordZoneID &zoneID)
{
    if (!findZone(user, zoneID))
        return;
    dropZone(m_databases[user], zoneID);
    emit databaseChanged(m_address, user);
}

std::variant<MemoryCloud::Database *, CloudError> MemoryCloud::open(const CloudAccount &account)
{
    const auto database = m_databases.find(account.user);
    if (account.server != m_address || database == m_databases.end() ||
        !database->second.tokens.contains(account.token))
        return CloudError(CloudError::Code::notAuthenticated, QStringLiteral("the token was not accepted"));
    return &database->second;
}

MemoryCloud::Fault MemoryCloud::faultFor(Call call)
{
    if (!m_nextFaults.isEmpty())
        return m_nextFaults.takeFirst();
    return m_faults ? m_faults(call) : Fault::none;
}

template<typename T>
void MemoryCloud::answer(Call call, const CloudAccount &account, Callback<T> done,
                         std::function<CloudResult<T>(Database &)> work)
{
    ++m_callCounts[call];
    const Fault fault = faultFor(call);
    std::optional<CloudResult<T>> result;
    if (fault == Fault::dropRequest) {
        result = lost("the request was lost on the way to the cloud");
    } else {
        auto opened = open(account);
        if (auto *error = std::get_if<CloudError>(&opened)) {
            result = *error;
        } else {
            Database &database = *std::get<Database *>(opened);
            const quint64 before = database.counter;
            result = work(database);
            if (database.counter != before)
                emit databaseChanged(m_address, account.user);
            if (fault == Fault::dropResponse)
                result = lost("the answer of the cloud was lost");
        }
    }
    if (m_deferred)
        QTimer::singleShot(0, this, [done = std::move(done), result = std::move(*result)] { done(result); });
    else
        done(std::move(*result));
}

void MemoryCloud::touch(Database &database, Zone &zone, StoredRecord &stored, const QString &name)
{
    zone.changeLog.erase(stored.change);
    stored.change = ++database.counter;
    zone.changeLog[stored.change] = name;
    zone.lastChange = stored.change;
}

std::optional<CloudError> MemoryCloud::saveRecord(Database &database, const Record &record, Record &saved)
{
    const auto zone = database.zones.find(record.recordID().zoneID);
    if (zone == database.zones.end())
        return CloudError(CloudError::Code::zoneNotFound, record.recordID().zoneID.zoneName);

    const QString &name = record.recordID().recordName;
    const auto found = zone->second.records.find(name);
    const bool exists = found != zone->second.records.end() && !found->deleted;
    const QString &tag = record.recordChangeTag();
    if (exists && found->record.recordChangeTag() != tag)
        return CloudError(CloudError::Code::serverRecordChanged, {}, found->record);
    if (!exists && !tag.isEmpty()) {
        // Deleted since the device saw it: it is told when, and decides.
        const bool tombstone = found != zone->second.records.end();
        if (!tombstone || found->record.recordChangeTag() != tag)
            return CloudError(CloudError::Code::unknownItem, name,
                              tombstone ? std::optional(found->record) : std::nullopt);
    }
    if (!exists && database.quota && database.liveRecords >= *database.quota)
        return CloudError(CloudError::Code::quotaExceeded);

    auto slot = found != zone->second.records.end() ? found : zone->second.records.insert(name, {record});
    StoredRecord &stored = *slot;
    // One reading of the clock: a new record was created and last changed at the same moment.
    const QDateTime modified = now();
    const std::optional<QDateTime> created = exists ? stored.record.creationDate() : std::optional(modified);
    stored.record = record;
    stored.deleted = false;
    touch(database, zone->second, stored, name);
    stored.record.setSystemFields(QStringLiteral("t%1").arg(stored.change, 0, 36), created, modified);
    database.liveRecords += exists ? 0 : 1;
    saved = stored.record;
    return std::nullopt;
}

std::optional<CloudError> MemoryCloud::deleteRecord(Database &database, const Record &tombstone)
{
    const RecordID &recordID = tombstone.recordID();
    Zone &zone = database.zones.at(recordID.zoneID);
    const auto found = zone.records.find(recordID.recordName);
    if (found == zone.records.end() || found->deleted)
        return std::nullopt;
    const bool bare = tombstone.recordType().isEmpty();
    if (!bare && found->record.recordChangeTag() != tombstone.recordChangeTag())
        return CloudError(CloudError::Code::serverRecordChanged, {}, found->record);
    // A tombstone: the record's identity and type stay for the change feed, with what the device left.
    found->deleted = true;
    Record left(found->record.recordType(), recordID);
    for (auto it = tombstone.fields().cbegin(); it != tombstone.fields().cend(); ++it)
        left.setValue(it.key(), it.value());
    found->record = left;
    touch(database, zone, *found, recordID.recordName);
    found->record.setSystemFields(QStringLiteral("t%1").arg(found->change, 0, 36), std::nullopt, std::nullopt);
    --database.liveRecords;
    return std::nullopt;
}

void MemoryCloud::modifyZones(const CloudAccount &account, const QList<RecordZoneID> &saves,
                              const QList<RecordZoneID> &deletes, Callback<ModifyZonesResult> done)
{
    answer<ModifyZonesResult>(Call::modifyZones, account, std::move(done), [&](Database &database) {
        ModifyZonesResult result;
        for (const RecordZoneID &zoneID : saves) {
            if (!database.zones.count(zoneID)) {
                Zone &zone = database.zones[zoneID];
                zone.incarnation = m_nextIncarnation++;
                zone.lastChange = ++database.counter;
            }
            result.savedZones.append(zoneID);
        }
        for (const RecordZoneID &zoneID : deletes) {
            dropZone(database, zoneID);
            result.deletedZones.append(zoneID);
        }
        return CloudResult<ModifyZonesResult>(result);
    });
}

void MemoryCloud::refusePlainRecords(const QString &user)
{
    m_databases[user].sealed = true;
}

void MemoryCloud::modifyRecords(const CloudAccount &account, const QList<Record> &saves,
                                const QList<Record> &deletes, Callback<ModifyRecordsResult> done)
{
    answer<ModifyRecordsResult>(Call::modifyRecords, account, std::move(done), [&](Database &database) {
        const auto plain = [](const Record &record) {
            return !record.recordType().isEmpty() && !RecordSeal::isSealed(record);
        };
        if (database.sealed && (std::any_of(saves.begin(), saves.end(), plain) ||
                                std::any_of(deletes.begin(), deletes.end(), plain)))
            return CloudResult<ModifyRecordsResult>(CloudError(
                CloudError::Code::invalidArguments, QStringLiteral("this account's tasks are encrypted: update Vellora on "
                                                                   "this computer, then sign in again with the sync "
                                                                   "passphrase")));
        ModifyRecordsResult result;
        for (const Record &record : saves) {
            Record saved = record;
            if (auto error = saveRecord(database, record, saved))
                result.failedRecordSaves.append({record.recordID(), *error});
            else
                result.savedRecords.append(saved);
        }
        for (const Record &tombstone : deletes) {
            const RecordID &recordID = tombstone.recordID();
            if (!database.zones.count(recordID.zoneID)) {
                result.failedRecordDeletes.append(
                    {recordID, CloudError(CloudError::Code::zoneNotFound, recordID.zoneID.zoneName)});
                continue;
            }
            if (auto error = deleteRecord(database, tombstone))
                result.failedRecordDeletes.append({recordID, *error});
            else
                result.deletedRecordIDs.append(recordID);
        }
        return CloudResult<ModifyRecordsResult>(result);
    });
}

void MemoryCloud::fetchDatabaseChanges(const CloudAccount &account, const QByteArray &token,
                                       Callback<DatabaseChanges> done)
{
    answer<DatabaseChanges>(Call::fetchDatabaseChanges, account, std::move(done), [&](Database &database) {
        const auto since = changeOfToken(token, kDatabaseTokenPrefix, database.incarnation);
        DatabaseChanges changes;
        if (since) {
            for (const auto &[zoneID, deletedAt] : database.deletedZones) {
                if (deletedAt > *since)
                    changes.deletedZones.append(zoneID);
            }
        }
        for (const auto &[zoneID, zone] : database.zones) {
            if (zone.lastChange > since.value_or(0))
                changes.modifiedZones.append(zoneID);
        }
        changes.changeToken = makeToken(kDatabaseTokenPrefix, database.incarnation, database.counter);
        return CloudResult<DatabaseChanges>(changes);
    });
}

void MemoryCloud::fetchZoneChanges(const CloudAccount &account, const RecordZoneID &zoneID, const QByteArray &token,
                                   int limit, Callback<ZoneChanges> done)
{
    answer<ZoneChanges>(Call::fetchZoneChanges, account, std::move(done), [&](Database &database) {
        const auto zoneFound = database.zones.find(zoneID);
        if (zoneFound == database.zones.end())
            return CloudResult<ZoneChanges>(CloudError(CloudError::Code::zoneNotFound, zoneID.zoneName));
        const Zone &zone = zoneFound->second;
        const auto since = changeOfToken(token, kZoneTokenPrefix, zone.incarnation);

        ZoneChanges changes;
        quint64 reached = since.value_or(0);
        int taken = 0;
        auto entry = zone.changeLog.upper_bound(reached);
        for (; entry != zone.changeLog.end() && (limit <= 0 || taken < limit); ++entry) {
            const StoredRecord &stored = *zone.records.constFind(entry->second);
            reached = entry->first;
            if (!stored.deleted) {
                changes.modifications.append(stored.record);
                ++taken;
            } else if (since) {
                changes.deletions.append({stored.record.recordID(), stored.record.recordType(), stored.record});
                ++taken;
            }
        }
        changes.moreComing = entry != zone.changeLog.end();
        changes.changeToken = makeToken(kZoneTokenPrefix, zone.incarnation, reached);
        return CloudResult<ZoneChanges>(changes);
    });
}

} // namespace SyncKit
