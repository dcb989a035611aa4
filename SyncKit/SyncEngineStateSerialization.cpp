#include "SyncKit/SyncEngineState.h"

#include "JsonText/JsonParser.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <array>

// The coded form of the state:
// {"account": {"server", "user"}, "databaseChangeToken": Base64, "pendingDatabaseChanges": [{"kind", "owner",
// "zone"}], "pendingRecordZoneChanges": [{"kind", "owner", "record", "zone"}], "version": 1,
// "zoneChangeTokens": [{"owner", "token": Base64, "zone"}], "sealed": true, "unopenedRecords": [{"owner", "record",
// "zone"}]}. The account and the database token are left out when absent, "sealed" and "unopenedRecords" when
// false or empty: a state without them reads as before, and a reader that does not know them ignores them.

namespace SyncKit {

namespace {

constexpr int kVersion = 1;
using Serialization = SyncEngineState::Serialization;

std::string_view kindName(PendingRecordZoneChange::Kind kind)
{
    return kind == PendingRecordZoneChange::Kind::saveRecord ? "saveRecord" : "deleteRecord";
}

std::string_view kindName(PendingDatabaseChange::Kind kind)
{
    return kind == PendingDatabaseChange::Kind::saveZone ? "saveZone" : "deleteZone";
}

std::optional<PendingRecordZoneChange::Kind> recordKind(const QString &name)
{
    if (name == QLatin1StringView("saveRecord"))
        return PendingRecordZoneChange::Kind::saveRecord;
    if (name == QLatin1StringView("deleteRecord"))
        return PendingRecordZoneChange::Kind::deleteRecord;
    return std::nullopt;
}

std::optional<PendingDatabaseChange::Kind> databaseKind(const QString &name)
{
    if (name == QLatin1StringView("saveZone"))
        return PendingDatabaseChange::Kind::saveZone;
    if (name == QLatin1StringView("deleteZone"))
        return PendingDatabaseChange::Kind::deleteZone;
    return std::nullopt;
}

using simdjson::dom::element;

// The fields of an object that are among `keys`, as texts; false when one is missing or not a text. Other keys are
// ignored, and a key given twice counts as given last.
template<size_t N>
bool readTexts(element value, const std::array<std::string_view, N> &keys, std::array<QString, N> &texts,
               std::array<JsonParser::Shared, N> &shared)
{
    simdjson::dom::object object;
    if (value.get_object().get(object))
        return false;
    unsigned seen = 0;
    for (const auto [key, field] : object) {
        for (size_t i = 0; i < N; ++i) {
            if (key == keys[i]) {
                if (!JsonParser::read(field, texts[i], shared[i]))
                    return false;
                seen |= 1u << i;
            }
        }
    }
    return seen == (1u << N) - 1;
}

// Reads the form written below. Keys it does not know are ignored; a value of the wrong kind, or a missing one that
// is needed, makes the whole state unreadable.
class StateReader
{
public:
    std::optional<Serialization> read(element value)
    {
        simdjson::dom::object object;
        if (value.get_object().get(object))
            return std::nullopt;
        Serialization state;
        bool version = false;
        for (const auto [key, field] : object) {
            bool read = true;
            if (key == "version") {
                version = isOne(field);
                read = version;
            } else if (key == "account") {
                read = readAccount(field, state.account);
            } else if (key == "databaseChangeToken") {
                const auto token = JsonParser::readBase64(field);
                read = token.has_value();
                state.databaseToken = token.value_or(QByteArray());
            } else if (key == "pendingDatabaseChanges") {
                state.databaseChanges.clear();
                read = readArray(field, [&](element entry) { return readDatabaseChange(entry, state.databaseChanges); });
            } else if (key == "pendingRecordZoneChanges") {
                state.recordZoneChanges.clear();
                read = readArray(field, [&](element entry) { return readRecordChange(entry, state.recordZoneChanges); });
            } else if (key == "sealed") {
                read = !field.get_bool().get(state.sealed);
            } else if (key == "unopenedRecords") {
                state.unopenedRecords.clear();
                read = readArray(field, [&](element entry) { return readRecordID(entry, state.unopenedRecords); });
            } else if (key == "zoneChangeTokens") {
                state.zoneTokens.clear();
                read = readArray(field, [&](element entry) { return readZoneToken(entry, state.zoneTokens); });
            }
            if (!read)
                return std::nullopt;
        }
        if (!version) // required
            return std::nullopt;
        return state;
    }

private:
    // The version as any JSON number equal to 1 (1, 1.0, 1e0).
    static bool isOne(element value)
    {
        double number = 0;
        return value.is_number() && !value.get_double().get(number) && number == kVersion;
    }

    template<typename Entry>
    static bool readArray(element value, Entry entry)
    {
        simdjson::dom::array array;
        if (value.get_array().get(array))
            return false;
        for (const element item : array) {
            if (!entry(item))
                return false;
        }
        return true;
    }

    bool readAccount(element value, std::optional<CloudAccount> &account)
    {
        std::array<QString, 2> texts;
        std::array<JsonParser::Shared, 2> shared;
        if (!readTexts<2>(value, {"server", "user"}, texts, shared))
            return false;
        account = CloudAccount{texts[0], texts[1], {}};
        return true;
    }

    bool readDatabaseChange(element value, QList<PendingDatabaseChange> &changes)
    {
        std::array<QString, 3> texts;
        if (!readTexts<3>(value, {"kind", "owner", "zone"}, texts, m_shared))
            return false;
        const auto kind = databaseKind(texts[0]);
        if (!kind)
            return false;
        changes.append({*kind, RecordZoneID{texts[2], texts[1]}});
        return true;
    }

    bool readRecordChange(element value, QList<PendingRecordZoneChange> &changes)
    {
        // The queue of a device that has long been offline holds a change for every item: what each change repeats
        // (its kind, owner and zone) is shared, not copied.
        std::array<QString, 4> texts;
        if (!readTexts<4>(value, {"kind", "owner", "record", "zone"}, texts, m_recordShared))
            return false;
        const auto kind = recordKind(texts[0]);
        if (!kind)
            return false;
        changes.append({*kind, RecordID{texts[2], RecordZoneID{texts[3], texts[1]}}});
        return true;
    }

    bool readRecordID(element value, QSet<RecordID> &recordIDs)
    {
        std::array<QString, 3> texts;
        if (!readTexts<3>(value, {"owner", "record", "zone"}, texts, m_shared))
            return false;
        recordIDs.insert(RecordID{texts[1], RecordZoneID{texts[2], texts[0]}});
        return true;
    }

    bool readZoneToken(element value, QMap<RecordZoneID, QByteArray> &tokens)
    {
        simdjson::dom::object object;
        if (value.get_object().get(object))
            return false;
        std::optional<QByteArray> token;
        for (const auto [key, field] : object) {
            if (key == "token" && !(token = JsonParser::readBase64(field)))
                return false;
        }
        std::array<QString, 2> texts;
        if (!token || !readTexts<2>(value, {"owner", "zone"}, texts, m_tokenShared))
            return false;
        tokens.insert(RecordZoneID{texts[1], texts[0]}, *token);
        return true;
    }

    std::array<JsonParser::Shared, 3> m_shared;
    std::array<JsonParser::Shared, 4> m_recordShared;
    std::array<JsonParser::Shared, 2> m_tokenShared;
};

} // namespace

QByteArray Serialization::toJson() const
{
    return QJsonDocument(toJsonObject()).toJson(QJsonDocument::Indented);
}

QJsonObject Serialization::toJsonObject() const
{
    QJsonObject object;
    if (account)
        object.insert("account", QJsonObject{{"server", account->server}, {"user", account->user}});
    if (!databaseToken.isEmpty())
        object.insert("databaseChangeToken", QString::fromLatin1(databaseToken.toBase64()));
    QJsonArray zones;
    for (const PendingDatabaseChange &change : databaseChanges) {
        zones.append(QJsonObject{{"kind", QLatin1StringView(kindName(change.kind))},
                                 {"owner", change.zoneID.ownerName},
                                 {"zone", change.zoneID.zoneName}});
    }
    object.insert("pendingDatabaseChanges", zones);
    QJsonArray records;
    for (const PendingRecordZoneChange &change : recordZoneChanges) {
        records.append(QJsonObject{{"kind", QLatin1StringView(kindName(change.kind))},
                                   {"owner", change.recordID.zoneID.ownerName},
                                   {"record", change.recordID.recordName},
                                   {"zone", change.recordID.zoneID.zoneName}});
    }
    object.insert("pendingRecordZoneChanges", records);
    object.insert("version", kVersion);
    QJsonArray tokens;
    for (auto it = zoneTokens.cbegin(); it != zoneTokens.cend(); ++it) {
        tokens.append(QJsonObject{{"owner", it.key().ownerName},
                                  {"token", QString::fromLatin1(it.value().toBase64())},
                                  {"zone", it.key().zoneName}});
    }
    object.insert("zoneChangeTokens", tokens);
    if (sealed)
        object.insert("sealed", true);
    if (!unopenedRecords.isEmpty()) {
        QList<RecordID> sorted(unopenedRecords.begin(), unopenedRecords.end());
        std::sort(sorted.begin(), sorted.end());
        QJsonArray unopened;
        for (const RecordID &recordID : sorted) {
            unopened.append(QJsonObject{{"owner", recordID.zoneID.ownerName},
                                        {"record", recordID.recordName},
                                        {"zone", recordID.zoneID.zoneName}});
        }
        object.insert("unopenedRecords", unopened);
    }
    return object;
}

std::optional<Serialization> Serialization::fromJson(QByteArrayView text)
{
    QByteArray bytes = text.toByteArray();
    JsonParser parser;
    const auto root = parser.parse(bytes);
    return root ? fromJson(*root) : std::nullopt;
}

std::optional<Serialization> Serialization::fromJson(simdjson::dom::element value)
{
    return StateReader().read(value);
}

} // namespace SyncKit
