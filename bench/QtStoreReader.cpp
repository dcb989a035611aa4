#include "bench/QtStoreReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <string_view>

namespace QtStoreReader {

namespace {

std::optional<QDateTime> dateOf(const QJsonValue &value)
{
    return value.isString() ? dateFromFileString(value.toString()) : std::nullopt;
}

std::optional<QByteArray> base64Of(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? std::optional(std::move(*decoded)) : std::nullopt;
}

std::optional<Block> blockOf(const QJsonValue &value)
{
    const QString text = value.toString();
    for (const Block block : kAllBlocks) {
        if (text.size() == 1 && text[0] == QLatin1Char(char('0' + capacity(block))))
            return block;
    }
    return std::nullopt;
}

std::optional<DayItem> itemOf(const QString &id, const QJsonObject &object)
{
    DayItem item;
    item.id = id;
    const auto block = blockOf(object.value(QLatin1StringView("bucket")));
    const auto modifiedAt = dateOf(object.value(QLatin1StringView("modifiedAt")));
    const QJsonValue title = object.value(QLatin1StringView("title")), day = object.value(QLatin1StringView("day")),
                     done = object.value(QLatin1StringView("done"));
    if (!block || !modifiedAt || !title.isString() || !day.isString() || !done.isBool()
        || !object.value(QLatin1StringView("id")).isString())
        return std::nullopt;
    item.block = *block;
    item.modifiedAt = *modifiedAt;
    item.title = title.toString();
    item.day = day.toString();
    item.done = done.toBool();
    for (const char *key : {"changedAt", "titleChangedAt", "doneChangedAt", "placeChangedAt", "systemFields"}) {
        const QJsonValue value = object.value(QLatin1StringView(key));
        if (value.isUndefined())
            continue;
        if (key == std::string_view("systemFields")) {
            if (!(item.systemFields = base64Of(value)))
                return std::nullopt;
            continue;
        }
        const auto time = dateOf(value);
        if (!time)
            return std::nullopt;
        (key == std::string_view("changedAt")          ? item.changedAt
             : key == std::string_view("titleChangedAt") ? item.titleChangedAt
             : key == std::string_view("doneChangedAt")  ? item.doneChangedAt
                                                         : item.placeChangedAt) = time;
    }
    item.changedAt = laterChange(item.changedAt, item.modifiedAt);
    item.compactPartTimes();
    return item;
}

} // namespace

std::optional<DayStore::Saved> read(const QByteArray &bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    const QJsonObject root = document.object();
    const QJsonValue items = root.value(QLatin1StringView("items"));
    if (!items.isObject())
        return std::nullopt;
    DayStore::Saved saved;
    const QJsonObject itemObjects = items.toObject();
    for (auto it = itemObjects.constBegin(); it != itemObjects.constEnd(); ++it) {
        if (auto item = itemOf(it.key(), it.value().toObject()))
            saved.items.emplace_hint(saved.items.end(), it.key(), std::move(*item));
    }
    const QJsonObject deletions = root.value(QLatin1StringView("deletions")).toObject();
    for (auto it = deletions.constBegin(); it != deletions.constEnd(); ++it) {
        const QJsonObject entry = it.value().toObject();
        if (const auto at = dateOf(entry.value(QLatin1StringView("deletedAt")))) {
            const QJsonValue fields = entry.value(QLatin1StringView("systemFields"));
            saved.deletions.insert_or_assign(it.key(), DayStore::Deletion{*at, fields.isUndefined() ? std::nullopt : base64Of(fields)});
        }
    }
    if (const QJsonValue day = root.value(QLatin1StringView("shownDay")); day.isString())
        saved.shownDay = day.toString();
    if (const QJsonValue state = root.value(QLatin1StringView("state")); state.isObject())
        saved.state = state.toObject();
    return saved;
}

} // namespace QtStoreReader
