#include "Vellora/DayData/Calendar.h"
#include "Vellora/DayData/DayItem.h"

#include <gtest/gtest.h>

namespace {

QDateTime utc(int y, int m, int d, int h = 12, int min = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min), Qt::UTC);
}

} // namespace

TEST(DayKey, IsTheGregorianDateInTheCalendarsTimeZone)
{
    const Calendar gregorian = Calendar::inTimeZone("UTC");
    EXPECT_EQ(dayKey(utc(2025, 3, 5), gregorian), "2025-03-05");
    EXPECT_EQ(dayKey(utc(900, 1, 1), gregorian), "0900-01-01");

    // Two hours ahead of UTC, 23:30 on New Year's Eve is already the next year.
    EXPECT_EQ(dayKey(utc(2024, 12, 31, 23, 30), Calendar::inTimeZone("Etc/GMT-2")), "2025-01-01");

    // The computer's own zone, named or as a rule; its locale's calendar never counts.
    const QByteArray zoneBefore = qgetenv("TZ"), localeBefore = qgetenv("LC_ALL");
    qputenv("LC_ALL", "th_TH.UTF-8");
    for (const char *zone : {"Etc/GMT-2", "<+02>-2"}) {
        qputenv("TZ", zone);
        EXPECT_EQ(dayKey(utc(2024, 12, 31, 23, 30), Calendar::current()), "2025-01-01") << zone;
    }
    qputenv("TZ", "UTC");
    EXPECT_EQ(dayKey(utc(2025, 3, 5), Calendar::current()), "2025-03-05");
    zoneBefore.isNull() ? qunsetenv("TZ") : qputenv("TZ", zoneBefore);
    localeBefore.isNull() ? qunsetenv("LC_ALL") : qputenv("LC_ALL", localeBefore);
}

TEST(DayItemCoding, FileDatesAcrossTheYears)
{
    EXPECT_EQ(fileDateString(QDateTime(QDate(900, 1, 1), QTime(0, 0), Qt::UTC)), "0900-01-01T00:00:00.000Z");
    EXPECT_EQ(fileDateString(QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59, 999), Qt::UTC)),
              "2024-12-31T23:59:59.999Z");
    EXPECT_EQ(fileDateString(QDateTime(QDate(2025, 1, 1), QTime(1, 30), Qt::OffsetFromUTC, 7200)),
              "2024-12-31T23:30:00.000Z");

    // Either side of leap days, centuries and 1970, a time reads back to the millisecond.
    for (qint64 msecs = -62135596800000; msecs < 253402300799000; msecs += 86399123LL * 97) {
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
        ASSERT_EQ(dateFromFileText(fileDateString(time).toLatin1()), time) << msecs;
    }
    EXPECT_EQ(fileDateString(QDateTime::fromMSecsSinceEpoch(-1, Qt::UTC)), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(fileDateString(QDateTime(QDate(-5, 1, 1), QTime(0, 0), Qt::UTC)), "-0005-01-01T00:00:00.000Z");

    // Every form read before milliseconds were kept reads as it did; a fraction reads to the millisecond, cut
    // rather than rounded so that it never passes a later time.
    const QDateTime at = QDateTime(QDate(2025, 3, 5), QTime(8, 1, 2), Qt::UTC);
    const std::pair<const char *, std::optional<QDateTime>> forms[] = {
        {"2025-03-05T08:01:02Z", at},
        {"2025-03-05T10:01:02+02:00", at},
        {"2025-03-05T08:01:02.5Z", at.addMSecs(500)},
        {"2025-03-05T08:01:02.0459999Z", at.addMSecs(45)},
        {"2025-03-05T10:01:02.25+02:00", at.addMSecs(250)},
        {"2025-02-29T10:01:02Z", std::nullopt},
        {"2025-03-05T08:01:02.Z", std::nullopt},
        {"2025-03-05T08:01:02.5", std::nullopt},
        {"2025-03-05T08:01:02,5Z", std::nullopt},
        {"2025-03-05T08:01Z", std::nullopt},
    };
    for (const auto &[text, expected] : forms) {
        EXPECT_EQ(dateFromFileText(text), expected) << text;
        EXPECT_EQ(dateFromFileString(QString::fromLatin1(text)), expected) << text;
    }
}
