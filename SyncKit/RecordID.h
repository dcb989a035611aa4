#pragma once

#include <QHashFunctions>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace SyncKit {

// The owner name of zones that belong to the signed-in user.
inline constexpr auto kCurrentUserDefaultName = "__defaultOwner__";

struct RecordZoneID
{
    QString zoneName;
    QString ownerName = QString::fromLatin1(kCurrentUserDefaultName);

    bool operator==(const RecordZoneID &) const = default;
    auto operator<=>(const RecordZoneID &other) const
    {
        return std::tie(zoneName, ownerName) <=> std::tie(other.zoneName, other.ownerName);
    }

    QJsonObject toJson() const;
    static std::optional<RecordZoneID> fromJson(const QJsonValue &value);
};

struct RecordID
{
    QString recordName;
    RecordZoneID zoneID;

    bool operator==(const RecordID &) const = default;
    auto operator<=>(const RecordID &other) const
    {
        return std::tie(zoneID, recordName) <=> std::tie(other.zoneID, other.recordName);
    }

    QJsonObject toJson() const;
    static std::optional<RecordID> fromJson(const QJsonValue &value);
};

inline size_t qHash(const RecordZoneID &id, size_t seed = 0)
{
    return qHashMulti(seed, id.zoneName, id.ownerName);
}

inline size_t qHash(const RecordID &id, size_t seed = 0)
{
    return qHashMulti(seed, id.recordName, id.zoneID);
}

} // namespace SyncKit
