#include "Vellora/DayData/Calendar.h"

#include <QLocale>

Calendar::Calendar(std::optional<QTimeZone> zone)
    : m_zone(std::move(zone))
{
}

Calendar Calendar::current()
{
    // Local time is the C library's, which reads TZ afresh, also a POSIX rule that names no zone of the database.
    return Calendar(std::nullopt);
}

Calendar Calendar::inTimeZone(const QByteArray &ianaId)
{
    QTimeZone zone(ianaId);
    return Calendar(zone.isValid() ? zone : QTimeZone::utc());
}

QString Calendar::dayKey(const QDateTime &time) const
{
    // QDate counts Gregorian years back before 1582 too, as every date of the program does.
    const QDate date = m_zone ? time.toTimeZone(*m_zone).date() : time.toLocalTime().date();
    if (!date.isValid())
        return QStringLiteral("0000-00-00");
    return QString::asprintf("%04d-%02d-%02d", date.year(), date.month(), date.day());
}

QString dateLine(const QDateTime &time)
{
    // Qt's own tables: the same words as a date formatter of the en_US locale, whatever the user's locale.
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(time.toLocalTime(), u"dddd, MMMM d");
}
