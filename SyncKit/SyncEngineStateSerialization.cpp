#include "SyncKit/SyncEngineState.h"

#include "JsonText/JsonReader.h"
#include "JsonText/IndentedJsonWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>

// The coded form of the state:
// {"account": {"server", "user"}, "databaseChangeToken": Base64, "pendingDatabaseChanges": [{"kind", "owner",
// "zone"}], "pendingRecordZoneChanges": [{"kind", "owner", "record", "zone"}], "version": 1,
// "zoneChangeTokens": [{"owner", "token": Base64, "zone"}]}. The account and the database token are left out
// when absent.

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

std::optional<PendingRecordZoneChange::Kind> recordKind(QByteArrayView name)
{
    if (name == "saveRecord")
        return PendingRecordZoneChange::Kind::saveRecord;
    if (name == "deleteRecord")
        return PendingRecordZoneChange::Kind::deleteRecord;
    return std::nullopt;
}

std::optional<PendingDatabaseChange::Kind> databaseKind(QByteArrayView name)
{
    if (name == "saveZone")
        return PendingDatabaseChange::Kind::saveZone;
    if (name == "deleteZone")
        return PendingDatabaseChange::Kind::deleteZone;
    return std::nullopt;
}

std::optional<QByteArray> fromBase64(QByteArrayView text)
{
    auto decoded = QByteArray::fromBase64Encoding(text.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

// Reading the form written above; anything else is left to the general parser.
class StateReader
{
public:
    explicit StateReader(QByteArrayView text) : m_json(text) {}

    std::optional<Serialization> read()
    {
        Serialization state;
        static constexpr std::array<std::string_view, 6> kKeys{"account", "databaseChangeToken",
                                                               "pendingDatabaseChanges", "pendingRecordZoneChanges",
                                                               "version", "zoneChangeTokens"};
        const auto seen = m_json.readKnownObject(kKeys, [&](size_t key) {
            QByteArrayView number;
            switch (key) {
            case 0:
                return readAccount(state.account);
            case 1:
                return readBytes(state.databaseToken);
            case 2:
                return m_json.readArray([&] { return readDatabaseChange(state.databaseChanges); });
            case 3:
                return m_json.readArray([&] { return readRecordChange(state.recordZoneChanges); });
            case 4:
                return m_json.readNumber(number) && number == "1";
            default:
                return m_json.readArray([&] { return readZoneToken(state.zoneTokens); });
            }
        });
        if (!seen || !(*seen & (1u << 4)) || !m_json.atEnd()) // the version is required
            return std::nullopt;
        return state;
    }

private:
    bool readBytes(QByteArray &bytes)
    {
        QByteArrayView text;
        if (!m_json.readPlain(text))
            return false;
        auto decoded = fromBase64(text);
        if (decoded)
            bytes = std::move(*decoded);
        return decoded.has_value();
    }

    // An object whose keys are exactly `keys`, each a text (or Base64 for a "token", into `token`).
    template<size_t N>
    bool readFields(const std::array<std::string_view, N> &keys, std::array<QString, N> &texts, QByteArray *token = nullptr)
    {
        const auto seen = m_json.readKnownObject(keys, [&](size_t key) {
            return keys[key] == "token" && token ? readBytes(*token) : m_json.readString(texts[key]);
        });
        return seen == (1u << N) - 1;
    }

    bool readAccount(std::optional<CloudAccount> &account)
    {
        std::array<QString, 2> texts;
        if (!readFields<2>({"server", "user"}, texts))
            return false;
        account = CloudAccount{texts[0], texts[1], {}};
        return true;
    }

    bool readDatabaseChange(QList<PendingDatabaseChange> &changes)
    {
        std::array<QString, 3> texts;
        if (!readFields<3>({"kind", "owner", "zone"}, texts))
            return false;
        const auto kind = databaseKind(texts[0].toLatin1());
        if (!kind)
            return false;
        changes.append({*kind, RecordZoneID{texts[2], texts[1]}});
        return true;
    }

    bool readRecordChange(QList<PendingRecordZoneChange> &changes)
    {
        // The queue of a device that has long been offline holds a change for every item: read without a
        // copy of what each change repeats (its kind, owner and zone).
        std::optional<PendingRecordZoneChange::Kind> kind;
        QString owner, record, zone;
        static constexpr std::array<std::string_view, 4> kKeys{"kind", "owner", "record", "zone"};
        const auto seen = m_json.readKnownObject(kKeys, [&](size_t key) {
            QByteArrayView name;
            switch (key) {
            case 0:
                return m_json.readPlain(name) && (kind = recordKind(name)).has_value();
            case 1:
                return m_json.readString(owner, &m_lastOwner);
            case 2:
                return m_json.readString(record);
            default:
                return m_json.readString(zone, &m_lastZone);
            }
        });
        if (seen != 15u)
            return false;
        changes.append({*kind, RecordID{record, RecordZoneID{zone, owner}}});
        return true;
    }

    bool readZoneToken(QMap<RecordZoneID, QByteArray> &tokens)
    {
        std::array<QString, 3> texts;
        QByteArray token;
        if (!readFields<3>({"owner", "token", "zone"}, texts, &token))
            return false;
        tokens.insert(RecordZoneID{texts[2], texts[0]}, token);
        return true;
    }

    JsonReader m_json;
    QString m_lastOwner;
    QString m_lastZone;
};

std::optional<RecordZoneID> zoneFromJson(const QJsonObject &object)
{
    const QJsonValue zone = object.value("zone");
    const QJsonValue owner = object.value("owner");
    if (!zone.isString() || !owner.isString())
        return std::nullopt;
    return RecordZoneID{zone.toString(), owner.toString()};
}

std::optional<QByteArray> bytesFromJson(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    return fromBase64(value.toString().toLatin1());
}

} // namespace

QByteArray Serialization::toJson() const
{
    JsonWriter text(4096 + 200 * recordZoneChanges.size());
    IndentedJsonWriter out(text);
    writeJson(out);
    out.put("\n");
    return text.take();
}

void Serialization::writeJson(IndentedJsonWriter &out) const
{
    out.open('{');
    if (account) {
        out.next("account");
        out.open('{');
        out.text("server", account->server);
        out.text("user", account->user);
        out.close('}');
    }
    if (!databaseToken.isEmpty())
        out.bytes("databaseChangeToken", databaseToken);
    out.next("pendingDatabaseChanges");
    out.open('[');
    for (const PendingDatabaseChange &change : databaseChanges) {
        out.next();
        out.open('{');
        out.plain("kind", kindName(change.kind));
        out.text("owner", change.zoneID.ownerName);
        out.text("zone", change.zoneID.zoneName);
        out.close('}');
    }
    out.close(']');
    out.next("pendingRecordZoneChanges");
    out.open('[');
    for (const PendingRecordZoneChange &change : recordZoneChanges) {
        out.next();
        out.open('{');
        out.plain("kind", kindName(change.kind));
        out.text("owner", change.recordID.zoneID.ownerName);
        out.text("record", change.recordID.recordName);
        out.text("zone", change.recordID.zoneID.zoneName);
        out.close('}');
    }
    out.close(']');
    out.literal("version", "1");
    out.next("zoneChangeTokens");
    out.open('[');
    for (auto it = zoneTokens.cbegin(); it != zoneTokens.cend(); ++it) {
        out.next();
        out.open('{');
        out.text("owner", it.key().ownerName);
        out.bytes("token", it.value());
        out.text("zone", it.key().zoneName);
        out.close('}');
    }
    out.close(']');
    out.close('}');
}

std::optional<Serialization> Serialization::fromJson(QByteArrayView text)
{
    if (auto state = StateReader(text).read())
        return state;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromRawData(text.data(), text.size()), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return fromJson(QJsonValue(document.object()));
}

std::optional<Serialization> Serialization::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject json = value.toObject();
    if (json.value("version").toInt() != kVersion)
        return std::nullopt;

    Serialization state;
    for (const QJsonValue &entry : json.value("pendingRecordZoneChanges").toArray()) {
        const QJsonObject object = entry.toObject();
        const auto zone = zoneFromJson(object);
        const QJsonValue record = object.value("record");
        const auto kind = recordKind(object.value("kind").toString().toUtf8());
        if (!zone || !record.isString() || !kind)
            return std::nullopt;
        state.recordZoneChanges.append({*kind, RecordID{record.toString(), *zone}});
    }
    for (const QJsonValue &entry : json.value("pendingDatabaseChanges").toArray()) {
        const auto zone = zoneFromJson(entry.toObject());
        const auto kind = databaseKind(entry.toObject().value("kind").toString().toUtf8());
        if (!zone || !kind)
            return std::nullopt;
        state.databaseChanges.append({*kind, *zone});
    }
    if (json.contains("databaseChangeToken")) {
        const auto token = bytesFromJson(json.value("databaseChangeToken"));
        if (!token)
            return std::nullopt;
        state.databaseToken = *token;
    }
    if (json.contains("account")) {
        const QJsonObject account = json.value("account").toObject();
        const QJsonValue server = account.value("server");
        const QJsonValue user = account.value("user");
        if (!server.isString() || !user.isString())
            return std::nullopt;
        state.account = CloudAccount{server.toString(), user.toString(), {}};
    }
    for (const QJsonValue &entry : json.value("zoneChangeTokens").toArray()) {
        const auto zone = zoneFromJson(entry.toObject());
        const auto token = bytesFromJson(entry.toObject().value("token"));
        if (!zone || !token)
            return std::nullopt;
        state.zoneTokens.insert(*zone, *token);
    }
    return state;
}

} // namespace SyncKit
