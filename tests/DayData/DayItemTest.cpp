#include "Vellora/DayData/Calendar.h"
#include "Vellora/DayData/DayItem.h"

#include <gtest/gtest.h>

namespace {

QDateTime utc(int y, int m, int d, int h = 12, int min = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min), Qt::UTC);
}

DayItem sampleItem()
{
    return {"0F8FAD5B-D9CB-469F-A165-70867728950E", "Call Anna", true, Bucket::medium, "2025-03-05",
            QDateTime(QDate(2025, 3, 5), QTime(8, 1, 2, 250), Qt::UTC), std::nullopt};
}

} // namespace

TEST(DayKey, FollowsTheCalendarItsYearsAndItsTimeZone)
{
    const Calendar gregorian = Calendar::make("en_US", "UTC");
    EXPECT_EQ(dayKey(utc(2025, 3, 5), gregorian), "2025-03-05");
    EXPECT_EQ(dayKey(utc(900, 1, 1), gregorian), "0900-01-01");

    // Two hours ahead of UTC, 23:30 on New Year's Eve is already the next year.
    EXPECT_EQ(dayKey(utc(2024, 12, 31, 23, 30), Calendar::make("en_US", "Etc/GMT-2")), "2025-01-01");

    EXPECT_EQ(dayKey(utc(2025, 3, 5), Calendar::make("th_TH", "UTC")), "2568-03-05");
    EXPECT_EQ(dayKey(utc(2025, 3, 5), Calendar::make("en_US@calendar=buddhist", "UTC")), "2568-03-05");
}

TEST(DayItemCoding, RoundTripKeepsWholeSecondsAndLeavesOutAbsentSystemFields)
{
    const DayItem item = sampleItem();
    const QJsonObject json = item.toJson();
    EXPECT_EQ(json.value("modifiedAt").toString(), "2025-03-05T08:01:02Z");
    EXPECT_EQ(json.value("bucket").toString(), "3");
    EXPECT_FALSE(json.contains("systemFields"));

    const auto back = DayItem::fromJson(json);
    ASSERT_TRUE(back);
    DayItem expected = item;
    expected.modifiedAt = QDateTime(QDate(2025, 3, 5), QTime(8, 1, 2), Qt::UTC);
    EXPECT_EQ(*back, expected);

    DayItem withFields = expected;
    withFields.systemFields = QByteArray("\x00\xff tag", 6);
    EXPECT_EQ(DayItem::fromJson(withFields.toJson()), withFields);
    withFields.systemFields = QByteArray();
    EXPECT_EQ(DayItem::fromJson(withFields.toJson()), withFields) << "empty bytes are not absent bytes";
}

TEST(DayItemCoding, RejectsItemsThatBreakTheForm)
{
    const QJsonObject good = sampleItem().toJson();
    auto with = [&](const char *key, const QJsonValue &value) {
        QJsonObject object = good;
        if (value.isUndefined())
            object.remove(key);
        else
            object.insert(key, value);
        return DayItem::fromJson(object);
    };
    EXPECT_FALSE(with("bucket", "2"));
    EXPECT_FALSE(with("bucket", 3));
    EXPECT_FALSE(with("day", QJsonValue::Undefined));
    EXPECT_FALSE(with("done", "true"));
    EXPECT_FALSE(with("title", QJsonValue::Null));
    EXPECT_FALSE(with("modifiedAt", "2025-03-05T08:01:02.250Z"));
    EXPECT_FALSE(with("modifiedAt", "2025-03-05 08:01:02"));
    EXPECT_FALSE(with("systemFields", "not base64!"));
    EXPECT_TRUE(with("modifiedAt", "2025-03-05T10:01:02+02:00"));
    EXPECT_TRUE(with("colour", "red")) << "unknown keys are ignored";
}

TEST(DayItemCoding, FileDatesAcrossTheYears)
{
    EXPECT_EQ(fileDateString(QDateTime(QDate(900, 1, 1), QTime(0, 0), Qt::UTC)), "0900-01-01T00:00:00Z");
    EXPECT_EQ(fileDateString(QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59, 999), Qt::UTC)), "2024-12-31T23:59:59Z");
    EXPECT_EQ(fileDateString(QDateTime(QDate(2025, 1, 1), QTime(1, 30), Qt::OffsetFromUTC, 7200)),
              "2024-12-31T23:30:00Z");

    // The hand-written form agrees with the general formatter on either side of leap days, centuries and 1970.
    for (qint64 msecs = -62135596800000; msecs < 253402300799000; msecs += 86399123LL * 97) {
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
        ASSERT_EQ(fileDateString(time), time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"))) << msecs;
        ASSERT_EQ(dateFromFileText(fileDateString(time).toLatin1()), time.addMSecs(-time.time().msec())) << msecs;
    }
    EXPECT_EQ(fileDateString(QDateTime::fromMSecsSinceEpoch(-1, Qt::UTC)), "1969-12-31T23:59:59Z");
    EXPECT_EQ(fileDateString(QDateTime(QDate(-5, 1, 1), QTime(0, 0), Qt::UTC)), "-0005-01-01T00:00:00Z");
    EXPECT_EQ(dateFromFileText("2025-03-05T10:01:02+02:00"), QDateTime(QDate(2025, 3, 5), QTime(8, 1, 2), Qt::UTC));
    EXPECT_FALSE(dateFromFileText("2025-02-29T10:01:02Z"));
    EXPECT_FALSE(dateFromFileText("2025-03-05T10:01:02.5Z"));
}
