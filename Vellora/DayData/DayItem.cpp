#include "Vellora/DayData/DayItem.h"

#include <QRegularExpression>
#include <QUuid>

#include <cstring>

namespace {

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
    // Not Qt::ISODateWithMs, which gives nothing for years before 1.
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz'Z'"));
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
    const bool newPlace = block != before->block || day != before->day
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
        merged.block = ours.block;
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
        {"bucket", storedForm(block)},
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
