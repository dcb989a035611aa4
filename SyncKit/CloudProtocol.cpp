#include "SyncKit/CloudProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace SyncKit::CloudProtocol {

namespace {

// The codes that travel, with the names the wire carries; operationCancelled never leaves the device.
constexpr std::pair<CloudError::Code, const char *> kCodes[] = {
    {CloudError::Code::networkFailure, "networkFailure"},
    {CloudError::Code::serverError, "serverError"},
    {CloudError::Code::notAuthenticated, "notAuthenticated"},
    {CloudError::Code::unknownItem, "unknownItem"},
    {CloudError::Code::invalidArguments, "invalidArguments"},
    {CloudError::Code::serverRecordChanged, "serverRecordChanged"},
    {CloudError::Code::resetRequired, "resetRequired"},
    {CloudError::Code::quotaExceeded, "quotaExceeded"},
    {CloudError::Code::zoneNotFound, "zoneNotFound"},
    {CloudError::Code::limitExceeded, "limitExceeded"},
};

QString codeName(CloudError::Code code)
{
    for (const auto &[known, name] : kCodes) {
        if (known == code)
            return QLatin1String(name);
    }
    return QStringLiteral("operationCancelled");
}

std::optional<CloudError::Code> codeOf(const QJsonValue &value)
{
    const int number = value.isDouble() ? value.toInt(-1) : -1;
    for (const auto &[code, name] : kCodes) {
        if (int(code) == number)
            return code;
    }
    return std::nullopt;
}

Invalid badRequest(const QString &message)
{
    return Invalid{QStringLiteral("badRequest"), message};
}

QByteArray tokenFrom(const QJsonValue &value)
{
    return value.toString().toLatin1();
}

template<typename T, typename Read> std::optional<QList<T>> readList(const QJsonValue &value, Read read)
{
    if (!value.isArray() && !value.isUndefined())
        return std::nullopt;
    QList<T> list;
    const QJsonArray array = value.toArray();
    list.reserve(array.size());
    for (const QJsonValue &entry : array) {
        auto item = read(entry);
        if (!item)
            return std::nullopt;
        list.append(std::move(*item));
    }
    return list;
}

template<typename T> QJsonArray writeList(const QList<T> &list)
{
    QJsonArray array;
    for (const T &item : list)
        array.append(item.toJson());
    return array;
}

// Requests may leave out empty lists, but never carry more changes than one request may.
template<typename T, typename ReadSave, typename ReadDelete>
std::variant<std::pair<QList<T>, QList<T>>, Invalid> readChanges(const QJsonObject &object, ReadSave readSave,
                                                                 ReadDelete readDelete)
{
    const QJsonValue saves = object.value(QLatin1String("saves"));
    const QJsonValue deletes = object.value(QLatin1String("deletes"));
    if (saves.toArray().size() + deletes.toArray().size() > kMaxChangesPerRequest)
        return Invalid{QStringLiteral("tooManyChanges"),
                       QStringLiteral("a request carries at most %1 changes").arg(kMaxChangesPerRequest)};
    auto saved = readList<T>(saves, readSave);
    auto deleted = readList<T>(deletes, readDelete);
    if (!saved || !deleted)
        return badRequest(QStringLiteral("\"%1\" is not a list of the expected entries")
                              .arg(QLatin1String(saved ? "deletes" : "saves")));
    return std::pair(std::move(*saved), std::move(*deleted));
}

std::optional<ZoneResult> zoneResultFromJson(const QJsonValue &value)
{
    const auto zone = RecordZoneID::fromJson(value.toObject().value("zone"));
    const auto error = errorFromJson(value.toObject().value("error"));
    if (!zone || !error)
        return std::nullopt;
    return ZoneResult{*zone, *error};
}

std::optional<RecordResult> recordResultFromJson(const QJsonValue &value)
{
    const auto id = RecordID::fromJson(value.toObject().value("id"));
    const auto error = errorFromJson(value.toObject().value("error"));
    if (!id || !error)
        return std::nullopt;
    return RecordResult{*id, *error};
}

QJsonArray zoneResultsJson(const QList<ZoneResult> &results)
{
    QJsonArray array;
    for (const ZoneResult &result : results)
        array.append(QJsonObject{{"zone", result.zoneID.toJson()}, {"error", errorJson(result.error)}});
    return array;
}

QJsonArray failuresJson(const QList<RecordFailure> &failures)
{
    QJsonArray array;
    for (const RecordFailure &failure : failures)
        array.append(QJsonObject{{"id", failure.id.toJson()}, {"error", failure.error}});
    return array;
}

} // namespace

QByteArray pushHello(const QString &token)
{
    return QJsonDocument(QJsonObject{{"token", token}}).toJson(QJsonDocument::Compact);
}

std::optional<QString> tokenOfPushHello(const QByteArray &message)
{
    const QJsonDocument document = QJsonDocument::fromJson(message);
    const QJsonValue token = document.object().value("token");
    if (!token.isString())
        return std::nullopt;
    return token.toString();
}

QJsonObject RecordEnvelope::toJson() const
{
    QJsonObject object{{"type", type}, {"id", id.toJson()}, {"fields", fields}};
    if (!changeTag.isEmpty())
        object.insert("changeTag", changeTag);
    if (!created.isEmpty())
        object.insert("created", created);
    if (!modified.isEmpty())
        object.insert("modified", modified);
    return object;
}

std::optional<RecordEnvelope> RecordEnvelope::fromJson(const QJsonValue &value)
{
    const QJsonObject object = value.toObject();
    const QJsonValue type = object.value("type");
    const auto id = RecordID::fromJson(object.value("id"));
    const QJsonValue tag = object.value("changeTag");
    const QJsonValue fields = object.value("fields");
    if (!type.isString() || !id || !fields.isObject() || !(tag.isString() || tag.isUndefined()))
        return std::nullopt;
    return RecordEnvelope{type.toString(), *id, tag.toString(), {}, {}, fields.toObject()};
}

QJsonObject errorJson(CloudError::Code code, const QString &message, const QString &name,
                      const QJsonObject &serverRecord)
{
    QJsonObject object{{"code", int(code)}, {"name", name.isEmpty() ? codeName(code) : name}};
    if (!message.isEmpty())
        object.insert("message", message);
    if (!serverRecord.isEmpty())
        object.insert("serverRecord", serverRecord);
    return object;
}

QJsonObject errorJson(const CloudError &error)
{
    return errorJson(error.code(), error.message(), {},
                     error.serverRecord() ? error.serverRecord()->toJson() : QJsonObject());
}

std::optional<CloudError> errorFromJson(const QJsonValue &value)
{
    const QJsonObject object = value.toObject();
    const auto code = codeOf(object.value("code"));
    if (!code)
        return std::nullopt;
    std::optional<Record> serverRecord;
    if (object.contains("serverRecord")) {
        serverRecord = Record::fromJson(object.value("serverRecord"));
        if (!serverRecord)
            return std::nullopt;
    }
    return CloudError(*code, object.value("message").toString(), serverRecord);
}

QJsonObject ModifyZonesRequest::toJson() const
{
    return {{"saves", writeList(saves)}, {"deletes", writeList(deletes)}};
}

std::variant<ModifyZonesRequest, Invalid> ModifyZonesRequest::fromJson(const QJsonObject &object)
{
    auto changes = readChanges<RecordZoneID>(object, RecordZoneID::fromJson, RecordZoneID::fromJson);
    if (auto *invalid = std::get_if<Invalid>(&changes))
        return *invalid;
    auto &[saves, deletes] = std::get<0>(changes);
    return ModifyZonesRequest{std::move(saves), std::move(deletes)};
}

QJsonObject ModifyRecordsRequest::toJson(const QList<Record> &saves, const QList<Record> &deletes)
{
    QJsonArray tombstones;
    for (const Record &tombstone : deletes)
        tombstones.append(tombstone.recordType().isEmpty() ? tombstone.recordID().toJson() : tombstone.toJson());
    return {{"saves", writeList(saves)}, {"deletes", tombstones}};
}

std::variant<ModifyRecordsRequest, Invalid> ModifyRecordsRequest::fromJson(const QJsonObject &object)
{
    auto changes = readChanges<RecordEnvelope>(object, RecordEnvelope::fromJson, [](const QJsonValue &value) {
        if (value.toObject().contains(QLatin1String("type")))
            return RecordEnvelope::fromJson(value);
        const auto id = RecordID::fromJson(value);
        return id ? std::optional(RecordEnvelope{{}, *id, {}, {}, {}, {}}) : std::nullopt;
    });
    if (auto *invalid = std::get_if<Invalid>(&changes))
        return *invalid;
    auto &[saves, deletes] = std::get<0>(changes);
    return ModifyRecordsRequest{std::move(saves), std::move(deletes)};
}

QJsonObject DatabaseChangesRequest::toJson() const
{
    return {{"token", QString::fromLatin1(token)}};
}

std::variant<DatabaseChangesRequest, Invalid> DatabaseChangesRequest::fromJson(const QJsonObject &object)
{
    const QJsonValue token = object.value("token");
    if (!token.isString() && !token.isUndefined())
        return badRequest(QStringLiteral("\"token\" is not a text"));
    return DatabaseChangesRequest{tokenFrom(token)};
}

QJsonObject ZoneChangesRequest::toJson() const
{
    return {{"zone", zoneID.toJson()}, {"token", QString::fromLatin1(token)}, {"limit", limit}};
}

std::variant<ZoneChangesRequest, Invalid> ZoneChangesRequest::fromJson(const QJsonObject &object)
{
    const auto zone = RecordZoneID::fromJson(object.value("zone"));
    const QJsonValue token = object.value("token");
    const QJsonValue limit = object.value("limit");
    if (!zone)
        return badRequest(QStringLiteral("\"zone\" is not a zone"));
    if (!token.isString() && !token.isUndefined())
        return badRequest(QStringLiteral("\"token\" is not a text"));
    // Whole numbers only, and none that an int cannot hold.
    if (!limit.isUndefined() && (!limit.isDouble() || limit.toDouble() != double(limit.toInt(-1)) || limit.toInt() < 0))
        return badRequest(QStringLiteral("\"limit\" is not a count"));
    return ZoneChangesRequest{*zone, tokenFrom(token), limit.toInt(0)};
}

QJsonObject ModifyRecordsAnswer::toJson() const
{
    return {{"savedRecords", writeList(saved)},
            {"deletedRecordIDs", writeList(deleted)},
            {"failedRecordSaves", failuresJson(failedSaves)},
            {"failedRecordDeletes", failuresJson(failedDeletes)}};
}

QJsonObject ZoneChangesAnswer::toJson() const
{
    return {{"modifications", writeList(modifications)},
            {"deletions", writeList(deletions)},
            {"changeToken", QString::fromLatin1(changeToken)},
            {"moreComing", moreComing}};
}

QJsonObject toJson(const ModifyZonesResult &result)
{
    return {{"savedZones", writeList(result.savedZones)},
            {"deletedZones", writeList(result.deletedZones)},
            {"failedZoneSaves", zoneResultsJson(result.failedZoneSaves)},
            {"failedZoneDeletes", zoneResultsJson(result.failedZoneDeletes)}};
}

QJsonObject toJson(const DatabaseChanges &changes)
{
    return {{"modifiedZones", writeList(changes.modifiedZones)},
            {"deletedZones", writeList(changes.deletedZones)},
            {"changeToken", QString::fromLatin1(changes.changeToken)}};
}

std::optional<ModifyZonesResult> modifyZonesResult(const QJsonObject &object)
{
    auto saved = readList<RecordZoneID>(object.value("savedZones"), RecordZoneID::fromJson);
    auto deleted = readList<RecordZoneID>(object.value("deletedZones"), RecordZoneID::fromJson);
    auto failedSaves = readList<ZoneResult>(object.value("failedZoneSaves"), zoneResultFromJson);
    auto failedDeletes = readList<ZoneResult>(object.value("failedZoneDeletes"), zoneResultFromJson);
    if (!saved || !deleted || !failedSaves || !failedDeletes)
        return std::nullopt;
    return ModifyZonesResult{*saved, *deleted, *failedSaves, *failedDeletes};
}

std::optional<ModifyRecordsResult> modifyRecordsResult(const QJsonObject &object)
{
    auto saved = readList<Record>(object.value("savedRecords"), Record::fromJson);
    auto deleted = readList<RecordID>(object.value("deletedRecordIDs"), RecordID::fromJson);
    auto failedSaves = readList<RecordResult>(object.value("failedRecordSaves"), recordResultFromJson);
    auto failedDeletes = readList<RecordResult>(object.value("failedRecordDeletes"), recordResultFromJson);
    if (!saved || !deleted || !failedSaves || !failedDeletes)
        return std::nullopt;
    return ModifyRecordsResult{*saved, *deleted, *failedSaves, *failedDeletes};
}

std::optional<DatabaseChanges> databaseChanges(const QJsonObject &object)
{
    auto modified = readList<RecordZoneID>(object.value("modifiedZones"), RecordZoneID::fromJson);
    auto deleted = readList<RecordZoneID>(object.value("deletedZones"), RecordZoneID::fromJson);
    const QJsonValue token = object.value("changeToken");
    if (!modified || !deleted || !token.isString())
        return std::nullopt;
    return DatabaseChanges{*modified, *deleted, tokenFrom(token)};
}

std::optional<ZoneChanges> zoneChanges(const QJsonObject &object)
{
    auto modifications = readList<Record>(object.value("modifications"), Record::fromJson);
    auto deletions = readList<RecordDeletion>(object.value("deletions"), [](const QJsonValue &value) {
        const auto id = RecordID::fromJson(value.toObject().value("id"));
        const QJsonValue type = value.toObject().value("type");
        if (!id || !type.isString())
            return std::optional<RecordDeletion>();
        // A server of before tombstones held values sends only the identity and the type.
        const std::optional<Record> tombstone = value.toObject().contains(QLatin1String("fields"))
            ? Record::fromJson(value)
            : std::optional(Record(type.toString(), *id));
        if (!tombstone)
            return std::optional<RecordDeletion>();
        return std::optional(RecordDeletion{*id, type.toString(), *tombstone});
    });
    const QJsonValue token = object.value("changeToken");
    const QJsonValue more = object.value("moreComing");
    if (!modifications || !deletions || !token.isString() || !more.isBool())
        return std::nullopt;
    return ZoneChanges{*modifications, *deletions, tokenFrom(token), more.toBool()};
}

} // namespace SyncKit::CloudProtocol

namespace SyncKit::CloudProtocol {

QJsonObject KeyBoxRequest::toJson() const
{
    return {{"keyBox", box.toJson()},
            {"replaces", replaces ? QJsonValue(QString::fromLatin1(replaces->toBase64())) : QJsonValue()}};
}

std::variant<KeyBoxRequest, Invalid> KeyBoxRequest::fromJson(const QJsonObject &object)
{
    const auto box = KeyBox::fromJson(object.value("keyBox"));
    if (!box)
        return Invalid{QStringLiteral("badRequest"), QStringLiteral("the key box is not one this server keeps")};
    const QJsonValue replaces = object.value("replaces");
    if (replaces.isNull() || replaces.isUndefined())
        return KeyBoxRequest{*box, std::nullopt};
    const auto salt =
        QByteArray::fromBase64Encoding(replaces.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!replaces.isString() || !salt)
        return Invalid{QStringLiteral("badRequest"), QStringLiteral("\"replaces\" must be a Base64 salt or null")};
    return KeyBoxRequest{*box, *salt};
}

QJsonObject LinkCode::toJson() const
{
    return {{"code", code}, {"expiresAt", expiresAt.toUTC().toString(Qt::ISODate)}, {"lifetimeSeconds", lifetimeSeconds}};
}

std::optional<LinkCode> LinkCode::fromJson(const QJsonObject &object)
{
    LinkCode link{object.value("code").toString(),
                  QDateTime::fromString(object.value("expiresAt").toString(), Qt::ISODate),
                  object.value("lifetimeSeconds").toInt()};
    if (link.code.isEmpty() || !link.expiresAt.isValid())
        return std::nullopt;
    return link;
}

QJsonObject keyBoxAnswer(const std::optional<KeyBox> &box)
{
    return {{"keyBox", box ? QJsonValue(box->toJson()) : QJsonValue()}};
}

std::optional<std::optional<KeyBox>> keyBoxOfAnswer(const QJsonObject &object)
{
    const QJsonValue value = object.value("keyBox");
    if (value.isNull())
        return std::optional<KeyBox>();
    auto box = KeyBox::fromJson(value);
    if (!box)
        return std::nullopt;
    return std::optional<KeyBox>(std::move(*box));
}

} // namespace SyncKit::CloudProtocol
