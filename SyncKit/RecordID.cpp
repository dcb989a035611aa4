#include "SyncKit/RecordID.h"

namespace SyncKit {

QJsonObject RecordZoneID::toJson() const
{
    return {{"zone", zoneName}, {"owner", ownerName}};
}

std::optional<RecordZoneID> RecordZoneID::fromJson(const QJsonValue &value)
{
    const QJsonObject object = value.toObject();
    const QJsonValue zone = object.value("zone");
    const QJsonValue owner = object.value("owner");
    if (!zone.isString() || !owner.isString())
        return std::nullopt;
    return RecordZoneID{zone.toString(), owner.toString()};
}

QJsonObject RecordID::toJson() const
{
    QJsonObject object = zoneID.toJson();
    object.insert("record", recordName);
    return object;
}

std::optional<RecordID> RecordID::fromJson(const QJsonValue &value)
{
    const auto zone = RecordZoneID::fromJson(value);
    const QJsonValue record = value.toObject().value("record");
    if (!zone || !record.isString())
        return std::nullopt;
    return RecordID{record.toString(), *zone};
}

} // namespace SyncKit
