#include "Cloud/RecordStore.h"

#include "Cloud/KeyBoxStore.h"
#include "SyncKit/RecordSeal.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <algorithm>

namespace Cloud {

using namespace SyncKit;
using namespace SyncKit::CloudProtocol;

namespace {

constexpr auto kZoneTokenPrefix = "z1";
constexpr auto kDatabaseTokenPrefix = "d1";

QByteArray makeToken(const char *prefix, const QString &incarnation, qint64 change)
{
    return QByteArray(prefix) + ':' + incarnation.toLatin1() + ':' + QByteArray::number(change);
}

// The change number a token stands for; nothing for an empty or foreign token, or one of an earlier life of the zone
// or database, so that the caller starts from the beginning.
std::optional<qint64> changeOfToken(const QByteArray &token, const char *prefix, const QString &incarnation)
{
    const QList<QByteArray> parts = token.split(':');
    if (parts.size() != 3 || parts[0] != prefix || parts[1] != incarnation.toLatin1())
        return std::nullopt;
    bool changeOk = false;
    const qint64 change = parts[2].toLongLong(&changeOk);
    if (!changeOk || change < 0)
        return std::nullopt;
    return change;
}

// The epoch a token was made in ("d1:EPOCH.ID:N"); empty for a token of no known form.
QString epochOfToken(const QByteArray &token)
{
    const QList<QByteArray> parts = token.split(':');
    if (parts.size() != 3 || (parts[0] != kZoneTokenPrefix && parts[0] != kDatabaseTokenPrefix))
        return {};
    const qsizetype dot = parts[1].indexOf('.');
    return dot > 0 ? QString::fromLatin1(parts[1].left(dot)) : QString();
}

// The epoch of a change tag ("tEPOCH.CHANGE"); empty for a tag of no known form.
QString epochOfTag(const QString &tag)
{
    const qsizetype dot = tag.indexOf(QLatin1Char('.'));
    return tag.startsWith(QLatin1Char('t')) && dot > 1 ? tag.mid(1, dot - 1) : QString();
}

QJsonObject parseFields(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

QJsonObject tooLarge()
{
    return errorJson(CloudError::Code::limitExceeded,
                     QStringLiteral("a record holds at most %1 KiB").arg(kMaxRecordBytes / 1024),
                     QStringLiteral("recordTooLarge"));
}

} // namespace

// The epoch goes into every tag: after a restore, a tag a device kept from before never matches a record of now.
QString RecordStore::tagOf(qint64 change) const
{
    return QStringLiteral("t%1.%2").arg(m_connection.epoch()).arg(change, 0, 36);
}

QString RecordStore::incarnation(qint64 id) const
{
    return m_connection.epoch() + QLatin1Char('.') + QString::number(id);
}

// A stored row: name, type, change, created, modified, fields, tombstone. A tombstone's fields are what the deleting
// device left.
RecordEnvelope RecordStore::envelopeOf(const QSqlQuery &row, const RecordZoneID &zoneID) const
{
    const qint64 change = row.value(2).toLongLong();
    const bool deleted = row.value(5).isNull();
    return RecordEnvelope{row.value(1).toString(),
                          RecordID{row.value(0).toString(), zoneID},
                          tagOf(change),
                          row.value(3).toString(),
                          row.value(4).toString(),
                          parseFields(row.value(deleted ? 6 : 5).toString())};
}

namespace {

constexpr auto kRecordColumns = "name, type, change, created, modified, fields, tombstone";

} // namespace

struct RecordStore::Write
{
    qint64 user = 0;
    qint64 counter = 0;
    QHash<RecordZoneID, std::optional<qint64>> zones;
    QSet<qint64> touchedZones;
};

bool RecordStore::isOfAnotherEpoch(const QByteArray &token) const
{
    const QString epoch = epochOfToken(token);
    return !epoch.isEmpty() && epoch != m_connection.epoch();
}

bool RecordStore::isOfAnotherEpoch(const ModifyRecordsRequest &request) const
{
    const auto stale = [this](const RecordEnvelope &record) {
        const QString epoch = epochOfTag(record.changeTag);
        return !epoch.isEmpty() && epoch != m_connection.epoch();
    };
    return std::any_of(request.saves.begin(), request.saves.end(), stale)
        || std::any_of(request.deletes.begin(), request.deletes.end(), stale);
}

QString RecordStore::now() const
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

qint64 RecordStore::counterOf(qint64 user, bool lock)
{
    const auto counter = m_connection.value(
        QStringLiteral("SELECT counter FROM users WHERE id = ?") + (lock ? m_connection.lockSuffix() : QString()),
        {user});
    if (!counter)
        throw StoreFailure{QStringLiteral("the user is gone"), true};
    return counter->toLongLong();
}

// Ends a write that took the user's counter from `before` to `counter`: whether it changed the user's database.
bool RecordStore::raiseCounter(qint64 user, qint64 before, qint64 counter)
{
    if (counter == before)
        return false;
    m_connection.run(QStringLiteral("UPDATE users SET counter = ? WHERE id = ?"), {counter, user});
    m_connection.announceChange(user);
    return true;
}

// The zone's id, asked of the database once per write.
std::optional<qint64> RecordStore::zoneIn(Write &write, const RecordZoneID &zoneID)
{
    auto found = write.zones.find(zoneID);
    if (found == write.zones.end())
        found = write.zones.insert(zoneID, zoneId(write.user, zoneID));
    return *found;
}

QSqlQuery RecordStore::recordRow(qint64 zone, const QString &name)
{
    return m_connection.run(
        QStringLiteral("SELECT %1 FROM records WHERE zone_id = ? AND name = ?").arg(QLatin1String(kRecordColumns)),
        {zone, name});
}

std::optional<qint64> RecordStore::zoneId(qint64 user, const RecordZoneID &zoneID)
{
    const auto id =
        m_connection.value(QStringLiteral("SELECT id FROM zones WHERE user_id = ? AND owner = ? AND name = ?"),
                           {user, zoneID.ownerName, zoneID.zoneName});
    return id ? std::optional(id->toLongLong()) : std::nullopt;
}

std::variant<QJsonObject, StoreFailure> RecordStore::modifyZones(qint64 user, const ModifyZonesRequest &request,
                                                                 bool &changed)
{
    return m_connection.write([&] {
        const qint64 before = counterOf(user, true);
        qint64 counter = before;
        ModifyZonesResult result;
        for (const RecordZoneID &zoneID : request.saves) {
            if (!zoneId(user, zoneID))
                m_connection.run(
                    QStringLiteral("INSERT INTO zones(user_id, owner, name, last_change) VALUES (?, ?, ?, ?)"),
                    {user, zoneID.ownerName, zoneID.zoneName, ++counter});
            result.savedZones.append(zoneID);
        }
        for (const RecordZoneID &zoneID : request.deletes) {
            if (const auto id = zoneId(user, zoneID))
                deleteZone(user, *id, zoneID, ++counter);
            result.deletedZones.append(zoneID);
        }
        changed = raiseCounter(user, before, counter);
        return CloudProtocol::toJson(result);
    });
}

void RecordStore::deleteZone(qint64 user, qint64 zone, const RecordZoneID &zoneID, qint64 change)
{
    m_connection.run(QStringLiteral("DELETE FROM records WHERE zone_id = ?"), {zone});
    m_connection.run(QStringLiteral("DELETE FROM zones WHERE id = ?"), {zone});
    m_connection.run(QStringLiteral("INSERT INTO zone_deletions(user_id, owner, name, change)"
                                    " VALUES (?, ?, ?, ?) ON CONFLICT(user_id, owner, name)"
                                    " DO UPDATE SET change = excluded.change"),
                     {user, zoneID.ownerName, zoneID.zoneName, change});
}

std::variant<std::pair<qint64, qint64>, StoreFailure> RecordStore::deleteAllZones(qint64 user, bool &changed)
{
    return m_connection.write([&] {
        const qint64 before = counterOf(user, true);
        qint64 counter = before;
        QList<std::pair<qint64, RecordZoneID>> zones;
        QSqlQuery rows = m_connection.run(QStringLiteral("SELECT id, owner, name FROM zones WHERE user_id = ?"
                                                         " ORDER BY owner, name"),
                                          {user});
        while (rows.next()) {
            const RecordZoneID zoneID{rows.value(2).toString(), rows.value(1).toString()};
            zones.append({rows.value(0).toLongLong(), zoneID});
        }
        rows.finish();
        const qint64 records =
            m_connection
                .value(QStringLiteral("SELECT COUNT(*) FROM records r JOIN zones z ON r.zone_id = z.id"
                                      " WHERE z.user_id = ? AND r.fields IS NOT NULL"),
                       {user})
                .value_or(0)
                .toLongLong();
        for (const auto &[zone, zoneID] : std::as_const(zones))
            deleteZone(user, zone, zoneID, ++counter);
        changed = raiseCounter(user, before, counter);
        return std::pair(qint64(zones.size()), records);
    });
}

QJsonObject RecordStore::saveRecord(Write &write, const RecordEnvelope &record, std::optional<RecordEnvelope> &saved)
{
    const RecordZoneID &zoneID = record.id.zoneID;
    const std::optional<qint64> zone = zoneIn(write, zoneID);
    if (!zone)
        return errorJson(CloudError::Code::zoneNotFound, zoneID.zoneName);

    const QByteArray fieldsText = QJsonDocument(record.fields).toJson(QJsonDocument::Compact);
    if (fieldsText.size() + record.type.toUtf8().size() + record.id.recordName.toUtf8().size() > kMaxRecordBytes)
        return tooLarge();

    const QString &name = record.id.recordName;
    QSqlQuery row = recordRow(*zone, name);
    const bool found = row.next();
    const bool exists = found && !row.value(5).isNull();
    const bool sameTag = found && tagOf(row.value(2).toLongLong()) == record.changeTag;
    if (exists && !sameTag)
        return errorJson(CloudError::Code::serverRecordChanged, {}, {}, envelopeOf(row, zoneID).toJson());
    // Deleted since the device saw it: it is told when, and decides. Without a tag the record is made anew.
    if (!exists && !record.changeTag.isEmpty() && !sameTag)
        return errorJson(CloudError::Code::unknownItem, name, {}, found ? envelopeOf(row, zoneID).toJson() : QJsonObject());
    const QString modified = now();
    const QString created = exists ? row.value(3).toString() : modified;
    row.finish();

    const qint64 change = ++write.counter;
    m_connection.run(QStringLiteral("INSERT INTO records(zone_id, name, type, change, created, modified, fields)"
                                    " VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT(zone_id, name) DO UPDATE SET"
                                    " type = excluded.type, change = excluded.change, created = excluded.created,"
                                    " modified = excluded.modified, fields = excluded.fields, tombstone = NULL"),
                     {*zone, name, record.type, change, created, modified, QString::fromUtf8(fieldsText)});
    write.touchedZones.insert(*zone);
    saved = RecordEnvelope{record.type, record.id, tagOf(change), created, modified, record.fields};
    return {};
}

QJsonObject RecordStore::deleteRecord(Write &write, const RecordEnvelope &tombstone)
{
    const RecordID &recordID = tombstone.id;
    const std::optional<qint64> zone = zoneIn(write, recordID.zoneID);
    if (!zone)
        return errorJson(CloudError::Code::zoneNotFound, recordID.zoneID.zoneName);
    QString left; // what the device leaves in the tombstone; an older device's bare identity leaves nothing
    if (!tombstone.type.isEmpty()) {
        const QByteArray fieldsText = QJsonDocument(tombstone.fields).toJson(QJsonDocument::Compact);
        if (fieldsText.size() > kMaxRecordBytes)
            return tooLarge();
        QSqlQuery row = recordRow(*zone, recordID.recordName);
        // A record changed since the device saw it: it is told how, and decides.
        if (row.next() && !row.value(5).isNull() && tagOf(row.value(2).toLongLong()) != tombstone.changeTag)
            return errorJson(CloudError::Code::serverRecordChanged, {}, {}, envelopeOf(row, recordID.zoneID).toJson());
        left = QString::fromUtf8(fieldsText);
    }
    // The record's name and type stay for the change feed. One deleted already, or never made, stays as it is.
    const QSqlQuery tomb = m_connection.run(
        QStringLiteral("UPDATE records SET change = ?, created = NULL, modified = NULL, fields = NULL, tombstone = ?"
                       " WHERE zone_id = ? AND name = ? AND fields IS NOT NULL"),
        {write.counter + 1, left.isNull() ? QVariant() : QVariant(left), *zone, recordID.recordName});
    if (tomb.numRowsAffected() > 0) {
        ++write.counter;
        write.touchedZones.insert(*zone);
    }
    return {};
}

// A save, or a tombstone with a type, whose fields the server could read. A bare tombstone carries none.
bool RecordStore::carriesPlainRecord(const ModifyRecordsRequest &request)
{
    const auto plain = [](const RecordEnvelope &record) { return !RecordSeal::isSealedFields(record.fields); };
    return std::any_of(request.saves.begin(), request.saves.end(), plain)
        || std::any_of(request.deletes.begin(), request.deletes.end(),
                       [&](const RecordEnvelope &tombstone) { return !tombstone.type.isEmpty() && plain(tombstone); });
}

std::variant<std::optional<QJsonObject>, StoreFailure>
RecordStore::modifyRecords(qint64 user, const ModifyRecordsRequest &request, bool &changed)
{
    return m_connection.write([&]() -> std::optional<QJsonObject> {
        Write write{user, counterOf(user, true), {}, {}};
        // Asked under the user's lock, which storing a key box takes too: no plain record follows a box in.
        if (carriesPlainRecord(request) && KeyBoxStore(m_connection).isSealed(user))
            return std::nullopt;
        const qint64 before = write.counter;
        ModifyRecordsAnswer answer;
        for (const RecordEnvelope &record : request.saves) {
            std::optional<RecordEnvelope> saved;
            QJsonObject error = saveRecord(write, record, saved);
            if (saved)
                answer.saved.append(std::move(*saved));
            else
                answer.failedSaves.append({record.id, std::move(error)});
        }
        for (const RecordEnvelope &tombstone : request.deletes) {
            QJsonObject error = deleteRecord(write, tombstone);
            if (error.isEmpty())
                answer.deleted.append(tombstone.id);
            else
                answer.failedDeletes.append({tombstone.id, std::move(error)});
        }
        for (qint64 zone : std::as_const(write.touchedZones))
            m_connection.run(QStringLiteral("UPDATE zones SET last_change = ? WHERE id = ?"), {write.counter, zone});
        changed = raiseCounter(user, before, write.counter);
        return answer.toJson();
    });
}

std::variant<QJsonObject, StoreFailure> RecordStore::databaseChanges(qint64 user, const DatabaseChangesRequest &request)
{
    return m_connection.read([&] {
        const qint64 counter = counterOf(user, false);
        const auto since = changeOfToken(request.token, kDatabaseTokenPrefix, incarnation(user));
        DatabaseChanges changes;
        if (since) {
            QSqlQuery deleted = m_connection.run(
                QStringLiteral("SELECT owner, name FROM zone_deletions WHERE user_id = ? AND change > ?"
                               " ORDER BY owner, name"),
                {user, *since});
            while (deleted.next())
                changes.deletedZones.append(RecordZoneID{deleted.value(1).toString(), deleted.value(0).toString()});
        }
        QSqlQuery modified =
            m_connection.run(QStringLiteral("SELECT owner, name FROM zones WHERE user_id = ? AND last_change > ?"
                                            " ORDER BY owner, name"),
                             {user, since.value_or(0)});
        while (modified.next())
            changes.modifiedZones.append(RecordZoneID{modified.value(1).toString(), modified.value(0).toString()});
        changes.changeToken = makeToken(kDatabaseTokenPrefix, incarnation(user), counter);
        return CloudProtocol::toJson(changes);
    });
}

std::variant<std::optional<QJsonObject>, StoreFailure> RecordStore::zoneChanges(qint64 user,
                                                                                const ZoneChangesRequest &request)
{
    return m_connection.read([&]() -> std::optional<QJsonObject> {
        QSqlQuery zoneRow = m_connection.run(
            QStringLiteral("SELECT id, last_change FROM zones WHERE user_id = ? AND owner = ? AND name = ?"),
            {user, request.zoneID.ownerName, request.zoneID.zoneName});
        if (!zoneRow.next())
            return std::nullopt;
        const qint64 zone = zoneRow.value(0).toLongLong();
        const qint64 lastChange = zoneRow.value(1).toLongLong();
        zoneRow.finish();
        const auto since = changeOfToken(request.token, kZoneTokenPrefix, incarnation(zone));
        const int limit = request.limit > 0 ? std::min(request.limit, kMaxPageRecords) : kMaxPageRecords;

        // From the beginning, tombstones are of no use: the caller never had those records.
        QSqlQuery rows = m_connection.run(
            QStringLiteral("SELECT %1 FROM records WHERE zone_id = ? AND change > ?%2"
                           " ORDER BY change LIMIT ?")
                .arg(QLatin1String(kRecordColumns), since ? QString() : QStringLiteral(" AND fields IS NOT NULL")),
            {zone, since.value_or(0), limit + 1});
        ZoneChangesAnswer answer;
        qint64 reached = since.value_or(0);
        qint64 bytes = 0;
        int taken = 0;
        while (rows.next()) {
            if (taken == limit || bytes > kMaxPageBytes) {
                answer.moreComing = true;
                break;
            }
            reached = rows.value(2).toLongLong();
            if (rows.value(5).isNull()) {
                answer.deletions.append(envelopeOf(rows, request.zoneID));
            } else {
                bytes += rows.value(5).toString().size();
                answer.modifications.append(envelopeOf(rows, request.zoneID));
            }
            ++taken;
        }
        if (!answer.moreComing)
            reached = std::max(reached, lastChange);
        answer.changeToken = makeToken(kZoneTokenPrefix, incarnation(zone), reached);
        return answer.toJson();
    });
}

} // namespace Cloud
