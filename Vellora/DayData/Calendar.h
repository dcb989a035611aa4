#pragma once

#include <QDateTime>
#include <QString>

#include <memory>

// The user's calendar with its time zone, captured once. Day keys are computed in it.
class Calendar
{
public:
    // The calendar of the default locale (LC_ALL, LC_MESSAGES, LANG; "@calendar=" honoured) in the time zone
    // of TZ, as they are now.
    static Calendar current();
    // A calendar of the given ICU locale ("th_TH", "en_US@calendar=buddhist") and time zone ("Europe/Berlin").
    static Calendar make(const QString &locale, const QString &timeZone);

    // "%04d-%02d-%02d" of the day that holds the time, in this calendar's own numbering and time zone.
    QString dayKey(const QDateTime &time) const;
    // The type of the calendar, as ICU names it ("gregorian", "buddhist").
    QString type() const;
    QString timeZoneId() const;

private:
    struct Impl;
    explicit Calendar(std::shared_ptr<const Impl> impl);
    std::shared_ptr<const Impl> m_impl;
};

// The day key of a time in a calendar.
inline QString dayKey(const QDateTime &time, const Calendar &calendar)
{
    return calendar.dayKey(time);
}

// The sheet's date line for a time in local time: "Saturday, December 5" (en_US, "EEEE, MMMM d").
QString dateLine(const QDateTime &time);
