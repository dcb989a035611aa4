#include "Vellora/DayData/DayItem.h"

#include <QRegularExpression>
#include <QUuid>

#include <cstdio>

QString fileDateString(const QDateTime &time)
{
    // Written by hand: every save writes one date per item, and the general formatter is slow.
    const QDateTime utc = time.toUTC();
    const QDate date = utc.date();
    const QTime clock = utc.time();
    if (date.year() < 0 || date.year() > 9999)
        return utc.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"));
    char text[21];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", date.year(), date.month(), date.day(),
                  clock.hour(), clock.minute(), clock.second());
    return QString::fromLatin1(text, 20);
}

namespace {

// The common form, 2025-03-05T08:01:02Z, read without the general parser: loading reads one per item.
std::optional<QDateTime> parseUtcDate(const QString &text)
{
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    auto number = [&](int from, int length) {
        int value = 0;
        for (int i = from; i < from + length; ++i) {
            const char16_t c = text[i].unicode();
            if (c < '0' || c > '9')
                return -1;
            value = value * 10 + (c - '0');
        }
        return value;
    };
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (number(0, 4) < 0 || !date.isValid() || !QTime::isValid(hour, minute, second))
        return std::nullopt;
    return QDateTime(date, QTime(hour, minute, second), Qt::UTC);
}

} // namespace

std::optional<QDateTime> dateFromFileString(const QString &text)
{
    if (auto fast = parseUtcDate(text))
        return fast;
    static const QRegularExpression form(QStringLiteral(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(Z|[+-]\d{2}:\d{2})$)"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    if (!time.isValid())
        return std::nullopt;
    return time.toUTC();
}

QString newItemId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QJsonObject DayItem::toJson() const
{
    QJsonObject object{
        {"id", id},
        {"title", title},
        {"done", done},
        {"bucket", rawValue(bucket)},
        {"day", day},
        {"modifiedAt", fileDateString(modifiedAt)},
    };
    if (systemFields)
        object.insert("systemFields", QString::fromLatin1(systemFields->toBase64()));
    return object;
}

std::optional<DayItem> DayItem::fromJson(const QJsonValue &value)
{
    const QJsonObject object = value.toObject();
    const QJsonValue id = object.value(QLatin1StringView("id"));
    const QJsonValue title = object.value(QLatin1StringView("title"));
    const QJsonValue done = object.value(QLatin1StringView("done"));
    const QJsonValue day = object.value(QLatin1StringView("day"));
    if (!id.isString() || !title.isString() || !done.isBool() || !day.isString())
        return std::nullopt;

    const auto bucket = bucketFromRawValue(object.value(QLatin1StringView("bucket")).toString());
    const QJsonValue modified = object.value(QLatin1StringView("modifiedAt"));
    const auto modifiedAt = modified.isString() ? dateFromFileString(modified.toString()) : std::nullopt;
    if (!object.value(QLatin1StringView("bucket")).isString() || !bucket || !modifiedAt)
        return std::nullopt;

    DayItem item{id.toString(), title.toString(), done.toBool(), *bucket, day.toString(), *modifiedAt, std::nullopt};
    if (object.contains(QLatin1StringView("systemFields"))) {
        const QJsonValue fields = object.value(QLatin1StringView("systemFields"));
        if (!fields.isString())
            return std::nullopt;
        auto bytes = QByteArray::fromBase64Encoding(fields.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!bytes)
            return std::nullopt;
        item.systemFields = *bytes;
    }
    return item;
}
