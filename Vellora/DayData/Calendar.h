#pragma once

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <optional>

// The Gregorian calendar in a time zone: the computer's own, or one named for tests. Day keys are computed in it.
// They travel between computers through sync, so they never follow the locale's own calendar: a computer set to Thai
// and one set to English must agree on which day is today.
class Calendar
{
public:
    // In the computer's time zone (TZ, else the system's), whatever the locale.
    static Calendar current();
    // In the given IANA time zone ("Europe/Berlin", "Etc/GMT-2"); UTC when there is no such zone.
    static Calendar inTimeZone(const QByteArray &ianaId);

    // "%04d-%02d-%02d" of the Gregorian date that holds the time, in this calendar's time zone.
    QString dayKey(const QDateTime &time) const;

private:
    explicit Calendar(std::optional<QTimeZone> zone);
    std::optional<QTimeZone> m_zone; // none: the computer's local time, as the C library knows it
};

// The day key of a time in a calendar.
inline QString dayKey(const QDateTime &time, const Calendar &calendar)
{
    return calendar.dayKey(time);
}

// The sheet's date line for a time in local time: "Saturday, December 5" (en_US, "EEEE, MMMM d").
QString dateLine(const QDateTime &time);
