#include "SyncKit/SyncEngineState.h"

#include <QJsonArray>

namespace SyncKit {

namespace {

constexpr int kVersion = 1;

QString kindName(PendingRecordZoneChange::Kind kind)
{
    return kind == PendingRecordZoneChange::Kind::saveRecord ? "saveRecord" : "deleteRecord";
}

QString kindName(PendingDatabaseChange::Kind kind)
{
    return kind == PendingDatabaseChange::Kind::saveZone ? "saveZone" : "deleteZone";
}

std::optional<PendingRecordZoneChange> recordZoneChangeFromJson(const QJsonValue &value)
{
    const auto id = RecordID::fromJson(value);
    const QString kind = value.toObject().value("kind").toString();
    if (!id)
        return std::nullopt;
    if (kind == "saveRecord")
        return PendingRecordZoneChange::save(*id);
    if (kind == "deleteRecord")
        return PendingRecordZoneChange::remove(*id);
    return std::nullopt;
}

std::optional<PendingDatabaseChange> databaseChangeFromJson(const QJsonValue &value)
{
    const auto id = RecordZoneID::fromJson(value);
    const QString kind = value.toObject().value("kind").toString();
    if (!id)
        return std::nullopt;
    if (kind == "saveZone")
        return PendingDatabaseChange::saveZone(*id);
    if (kind == "deleteZone")
        return PendingDatabaseChange::deleteZone(*id);
    return std::nullopt;
}

std::optional<QByteArray> tokenFromJson(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

const RecordID &keyOf(const PendingRecordZoneChange &change)
{
    return change.recordID;
}

const RecordZoneID &keyOf(const PendingDatabaseChange &change)
{
    return change.zoneID;
}

// Adds changes of records or zones. The same change twice is one change; a later change of the other kind
// replaces the earlier one and goes to the end, since only the latest intent for a record matters. Linear in
// the length of the queue, however many changes are added.
template<typename Change>
bool addChanges(QList<Change> &list, const QList<Change> &changes)
{
    using Key = std::decay_t<decltype(keyOf(std::declval<Change>()))>;
    QHash<Key, qsizetype> position;
    position.reserve(list.size() + changes.size());
    for (qsizetype i = 0; i < list.size(); ++i)
        position.insert(keyOf(list[i]), i);
    QList<bool> replaced(list.size(), false);
    bool any = false;
    for (const Change &change : changes) {
        const auto found = position.constFind(keyOf(change));
        if (found != position.constEnd()) {
            if (list[*found] == change)
                continue;
            replaced[*found] = true;
        }
        position.insert(keyOf(change), list.size());
        list.append(change);
        replaced.append(false);
        any = true;
    }
    qsizetype index = 0;
    list.removeIf([&](const Change &) { return replaced[index++]; });
    return any;
}

template<typename Change>
bool removeChanges(QList<Change> &list, const QList<Change> &changes)
{
    using Key = std::decay_t<decltype(keyOf(std::declval<Change>()))>;
    QMultiHash<Key, typename Change::Kind> doomed;
    for (const Change &change : changes)
        doomed.insert(keyOf(change), change.kind);
    return list.removeIf([&](const Change &change) { return doomed.contains(keyOf(change), change.kind); }) > 0;
}

} // namespace

std::optional<SyncEngineState::Serialization> SyncEngineState::Serialization::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    Serialization serialization{value.toObject()};
    if (!SyncEngineState::fromSerialization(serialization))
        return std::nullopt;
    return serialization;
}

std::optional<SyncEngineState> SyncEngineState::fromSerialization(const Serialization &serialization)
{
    const QJsonObject &json = serialization.json;
    if (json.value("version").toInt() != kVersion)
        return std::nullopt;

    SyncEngineState state;
    for (const QJsonValue &value : json.value("pendingRecordZoneChanges").toArray()) {
        const auto change = recordZoneChangeFromJson(value);
        if (!change)
            return std::nullopt;
        state.m_recordZoneChanges.append(*change);
    }
    for (const QJsonValue &value : json.value("pendingDatabaseChanges").toArray()) {
        const auto change = databaseChangeFromJson(value);
        if (!change)
            return std::nullopt;
        state.m_databaseChanges.append(*change);
    }
    if (json.contains("databaseChangeToken")) {
        const auto token = tokenFromJson(json.value("databaseChangeToken"));
        if (!token)
            return std::nullopt;
        state.m_databaseToken = *token;
    }
    if (json.contains("account")) {
        const QJsonObject account = json.value("account").toObject();
        const QJsonValue server = account.value("server");
        const QJsonValue user = account.value("user");
        if (!server.isString() || !user.isString())
            return std::nullopt;
        state.m_account = CloudAccount{server.toString(), user.toString(), {}};
    }
    for (const QJsonValue &value : json.value("zoneChangeTokens").toArray()) {
        const auto zone = RecordZoneID::fromJson(value);
        const auto token = tokenFromJson(value.toObject().value("token"));
        if (!zone || !token)
            return std::nullopt;
        state.m_zoneTokens.insert(*zone, *token);
    }
    return state;
}

SyncEngineState::Serialization SyncEngineState::serialization() const
{
    QJsonArray recordChanges;
    for (const auto &change : m_recordZoneChanges) {
        QJsonObject object = change.recordID.toJson();
        object.insert("kind", kindName(change.kind));
        recordChanges.append(object);
    }
    QJsonArray databaseChanges;
    for (const auto &change : m_databaseChanges) {
        QJsonObject object = change.zoneID.toJson();
        object.insert("kind", kindName(change.kind));
        databaseChanges.append(object);
    }
    QJsonArray zoneTokens;
    for (auto it = m_zoneTokens.cbegin(); it != m_zoneTokens.cend(); ++it) {
        QJsonObject object = it.key().toJson();
        object.insert("token", QString::fromLatin1(it.value().toBase64()));
        zoneTokens.append(object);
    }
    QJsonObject json{{"version", kVersion},
                     {"pendingRecordZoneChanges", recordChanges},
                     {"pendingDatabaseChanges", databaseChanges},
                     {"zoneChangeTokens", zoneTokens}};
    if (!m_databaseToken.isEmpty())
        json.insert("databaseChangeToken", QString::fromLatin1(m_databaseToken.toBase64()));
    if (m_account)
        json.insert("account", QJsonObject{{"server", m_account->server}, {"user", m_account->user}});
    return {json};
}

void SyncEngineState::add(const QList<PendingRecordZoneChange> &changes)
{
    for (const auto &change : changes)
        m_revisions.insert(change.recordID, m_nextRevision++);
    if (addChanges(m_recordZoneChanges, changes))
        changed();
}

void SyncEngineState::remove(const QList<PendingRecordZoneChange> &changes)
{
    if (removeChanges(m_recordZoneChanges, changes))
        changed();
}

void SyncEngineState::add(const QList<PendingDatabaseChange> &changes)
{
    if (addChanges(m_databaseChanges, changes))
        changed();
}

void SyncEngineState::remove(const QList<PendingDatabaseChange> &changes)
{
    if (removeChanges(m_databaseChanges, changes))
        changed();
}

void SyncEngineState::setDatabaseChangeToken(const QByteArray &token)
{
    if (token == m_databaseToken)
        return;
    m_databaseToken = token;
    changed();
}

void SyncEngineState::setZoneChangeToken(const RecordZoneID &zone, const QByteArray &token)
{
    if (m_zoneTokens.value(zone) == token && m_zoneTokens.contains(zone))
        return;
    m_zoneTokens.insert(zone, token);
    changed();
}

void SyncEngineState::forgetZoneChangeToken(const RecordZoneID &zone)
{
    if (m_zoneTokens.remove(zone))
        changed();
}

void SyncEngineState::forgetChangeTokens()
{
    if (m_databaseToken.isEmpty() && m_zoneTokens.isEmpty())
        return;
    m_databaseToken.clear();
    m_zoneTokens.clear();
    changed();
}

void SyncEngineState::setAccount(const std::optional<CloudAccount> &account)
{
    std::optional<CloudAccount> identity;
    if (account)
        identity = CloudAccount{account->server, account->user, {}};
    if (identity == m_account)
        return;
    m_account = identity;
    changed();
}

void SyncEngineState::changed()
{
    if (m_changed)
        m_changed();
}

} // namespace SyncKit
