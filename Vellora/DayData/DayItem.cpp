#include "Vellora/DayData/DayItem.h"

#include <QRegularExpression>
#include <QUuid>

#include <cstring>

namespace {

// Days since 1970-01-01 as a proleptic Gregorian date, by the civil-from-days method.
struct CivilDate
{
    qint64 year;
    int month;
    int day;
};

CivilDate civilFromDays(qint64 days)
{
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 dayOfEra = days - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int day = int(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const int month = int(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    return {yearOfEra + era * 400 + (month <= 2), month, day};
}

void writeDigits(char *out, qint64 value, int count)
{
    for (int i = count - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
}

// The file's form of a time in years 1 to 9999, written by hand: every save of a newly read store writes one date
// per item, and the general formatter is slow.
constexpr qsizetype kFileDateSize = 24; // 2025-03-05T08:01:02.345Z

bool writeFileDate(const QDateTime &time, char *text)
{
    if (!time.isValid())
        return false;
    const qint64 msecs = time.toMSecsSinceEpoch();
    const qint64 seconds = msecs / 1000 - (msecs % 1000 < 0 ? 1 : 0);
    const qint64 days = seconds / 86400 - (seconds % 86400 < 0 ? 1 : 0);
    const qint64 secondOfDay = seconds - days * 86400;
    const CivilDate date = civilFromDays(days);
    if (date.year < 1 || date.year > 9999)
        return false;
    writeDigits(text, date.year, 4);
    writeDigits(text + 5, date.month, 2);
    writeDigits(text + 8, date.day, 2);
    writeDigits(text + 11, secondOfDay / 3600, 2);
    writeDigits(text + 14, secondOfDay / 60 % 60, 2);
    writeDigits(text + 17, secondOfDay % 60, 2);
    writeDigits(text + 20, msecs - seconds * 1000, 3);
    text[4] = text[7] = '-';
    text[10] = 'T';
    text[13] = text[16] = ':';
    text[19] = '.';
    text[23] = 'Z';
    return true;
}

// A fraction of a second after the seconds, ".3" to ".345678": its milliseconds (further digits are cut, so that
// a time never moves to a later one), and where it ends. None when there is a point without digits.
template<typename Char>
std::optional<std::pair<int, qsizetype>> readFraction(const Char *text, qsizetype size, qsizetype at)
{
    if (at >= size || text[at] != '.')
        return std::pair(0, at);
    int msec = 0;
    qsizetype digits = 0;
    for (++at; at < size && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
        if (digits < 3)
            msec = msec * 10 + (text[at] - '0');
    }
    if (digits == 0)
        return std::nullopt;
    for (; digits < 3; ++digits)
        msec *= 10;
    return std::pair(msec, at);
}

// The common forms, 2025-03-05T08:01:02.345Z and 2025-03-05T08:01:02Z, read without the general parser: loading
// reads one per item.
template <typename Char>
std::optional<QDateTime> parseUtcDate(const Char *text, qsizetype size)
{
    if (size < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
        text[size - 1] != 'Z')
        return std::nullopt;
    const auto fraction = readFraction(text, size, 19);
    if (!fraction || fraction->second != size - 1)
        return std::nullopt;
    auto number = [&](int from, int length) {
        int value = 0;
        for (int i = from; i < from + length; ++i) {
            const auto c = text[i];
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
    return QDateTime(date, QTime(hour, minute, second, fraction->first), Qt::UTC);
}

} // namespace

QString fileDateString(const QDateTime &time)
{
    char text[kFileDateSize];
    if (writeFileDate(time, text))
        return QString::fromLatin1(text, sizeof text);
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz'Z'"));
}

FileDateText fileDateText(const QDateTime &time)
{
    FileDateText result{};
    if (writeFileDate(time, result.text)) {
        result.size = kFileDateSize;
    } else {
        const QByteArray text = fileDateString(time).toLatin1().left(sizeof result.text);
        std::memcpy(result.text, text.constData(), size_t(text.size()));
        result.size = text.size();
    }
    return result;
}

std::optional<QDateTime> dateFromFileString(const QString &text)
{
    if (auto fast = parseUtcDate(reinterpret_cast<const char16_t *>(text.utf16()), text.size()))
        return fast;
    // With an offset: the seconds and the offset as the general parser reads them, the fraction as above.
    static const QRegularExpression form(
        QStringLiteral(R"(^(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2})(\.\d+)?(Z|[+-]\d{2}:\d{2})$)"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QString fraction = match.captured(2);
    const auto msec = readFraction(reinterpret_cast<const char16_t *>(fraction.utf16()), fraction.size(), 0);
    QDateTime time = QDateTime::fromString(match.captured(1) + match.captured(3), Qt::ISODate);
    if (!time.isValid() || !msec)
        return std::nullopt;
    return time.toUTC().addMSecs(msec->first);
}

std::optional<QDateTime> dateFromFileText(QByteArrayView text)
{
    if (auto fast = parseUtcDate(text.data(), text.size()))
        return fast;
    return dateFromFileString(QString::fromLatin1(text));
}

std::optional<QDateTime> laterChange(const std::optional<QDateTime> &changedAt, const QDateTime &modifiedAt)
{
    if (changedAt && changedAt->isValid() && *changedAt > modifiedAt)
        return changedAt;
    return std::nullopt;
}

void DayItem::markChangedParts(const std::optional<DayItem> &before)
{
    const QDateTime at = changeTime();
    if (!before) {
        titleChangedAt = doneChangedAt = placeChangedAt = std::nullopt;
        return;
    }
    const bool newTitle = title != before->title;
    const bool newDone = done != before->done;
    const bool newPlace = bucket != before->bucket || day != before->day
        || (modifiedAt != before->modifiedAt && !newTitle && !newDone);
    titleChangedAt = newTitle ? at : before->titleTime();
    doneChangedAt = newDone ? at : before->doneTime();
    placeChangedAt = newPlace ? at : before->placeTime();
    compactPartTimes();
}

void DayItem::compactPartTimes()
{
    const QDateTime at = changeTime();
    for (std::optional<QDateTime> *time : {&titleChangedAt, &doneChangedAt, &placeChangedAt}) {
        if (*time == at)
            time->reset();
    }
}

DayItem mergedItem(const DayItem &ours, const DayItem &theirs)
{
    DayItem merged = theirs;
    merged.titleChangedAt = theirs.titleTime();
    merged.doneChangedAt = theirs.doneTime();
    merged.placeChangedAt = theirs.placeTime();
    if (ours.titleTime() > theirs.titleTime()) {
        merged.title = ours.title;
        merged.titleChangedAt = ours.titleTime();
    }
    if (ours.doneTime() > theirs.doneTime()) {
        merged.done = ours.done;
        merged.doneChangedAt = ours.doneTime();
    }
    if (ours.placeTime() > theirs.placeTime()) {
        merged.bucket = ours.bucket;
        merged.day = ours.day;
        merged.modifiedAt = ours.modifiedAt;
        merged.placeChangedAt = ours.placeTime();
    }
    merged.changedAt = laterChange(std::max({*merged.titleChangedAt, *merged.doneChangedAt, *merged.placeChangedAt}),
                                   merged.modifiedAt);
    merged.compactPartTimes();
    return merged;
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
    if (changedAt)
        object.insert("changedAt", fileDateString(*changedAt));
    for (const auto &[key, time] : {std::pair("titleChangedAt", titleChangedAt), std::pair("doneChangedAt", doneChangedAt),
                                    std::pair("placeChangedAt", placeChangedAt)}) {
        if (time && *time != changeTime())
            object.insert(QLatin1String(key), fileDateString(*time));
    }
    return object;
}
