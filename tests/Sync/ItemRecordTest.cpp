#include "Vellora/Sync/ItemRecord.h"

#include "Vellora/DayData/DayStore.h"

#include <gtest/gtest.h>

using SyncKit::Record;
using SyncKit::RecordID;

namespace {

const QDateTime kEdited(QDate(2025, 3, 5), QTime(8, 1, 2, 250), Qt::UTC);
const QDateTime kServerTime(QDate(2025, 3, 6), QTime(9, 0), Qt::UTC);

DayItem sampleItem()
{
    return DayItem{"A1B2", "Call the bank", true, Bucket::medium, "2025-03-05", kEdited, std::nullopt};
}

Record recordWith(std::initializer_list<std::pair<const char *, SyncKit::RecordValue>> fields)
{
    Record record(kDayItemRecordType, RecordID{"R1", syncZoneID()});
    for (const auto &[key, value] : fields)
        record.setValue(QString::fromLatin1(key), value);
    record.setSystemFields("t7", kServerTime, kServerTime);
    return record;
}

} // namespace

TEST(ItemRecord, RoundTripKeepsTheItemAndTakesTheRecordsSystemFields)
{
    Record server = makeRecord(sampleItem());
    server.setSystemFields("t9", kServerTime, kServerTime);
    const DayItem back = dayItemFromRecord(server);
    DayItem expected = sampleItem();
    expected.systemFields = archiveSystemFields(server);
    EXPECT_EQ(back, expected);

    // Sent again, the record updates the same server record: same name, the tag of the copy it was seen as.
    DayItem edited = back;
    edited.title = "Call the bank today";
    const Record again = makeRecord(edited);
    EXPECT_EQ(again.recordID(), server.recordID());
    EXPECT_EQ(again.recordChangeTag(), "t9");
    EXPECT_EQ(again.stringValue("title"), "Call the bank today");
}

TEST(ItemRecord, MissingOrMistypedFieldsTakeTheirFallbacks)
{
    struct Case
    {
        const char *name;
        Record record;
        DayItem expected;
    };
    const QDateTime readTime(QDate(2025, 4, 1), QTime(12, 0), Qt::UTC);
    auto item = [&](QString title, bool done, Bucket bucket, QString day, QDateTime modifiedAt) {
        return DayItem{"R1", title, done, bucket, day, modifiedAt, std::nullopt};
    };
    const Case cases[] = {
        {"empty record", recordWith({}), item("", false, Bucket::small, "open", kServerTime)},
        {"bucket 2", recordWith({{"bucket", QStringLiteral("2")}}),
         item("", false, Bucket::small, "open", kServerTime)},
        {"bucket big", recordWith({{"bucket", QStringLiteral("big")}}),
         item("", false, Bucket::small, "open", kServerTime)},
        {"bucket as number", recordWith({{"bucket", qint64(1)}}), item("", false, Bucket::small, "open", kServerTime)},
        {"bucket 1", recordWith({{"bucket", QStringLiteral("1")}}), item("", false, Bucket::big, "open", kServerTime)},
        {"done 7", recordWith({{"done", qint64(7)}}), item("", true, Bucket::small, "open", kServerTime)},
        {"done -1", recordWith({{"done", qint64(-1)}}), item("", true, Bucket::small, "open", kServerTime)},
        {"done as text", recordWith({{"done", QStringLiteral("1")}}),
         item("", false, Bucket::small, "open", kServerTime)},
        {"title as bytes", recordWith({{"title", QByteArray("x")}}),
         item("", false, Bucket::small, "open", kServerTime)},
        {"day as date", recordWith({{"day", kEdited}}), item("", false, Bucket::small, "open", kServerTime)},
        {"modifiedAt as text", recordWith({{"modifiedAt", QStringLiteral("2025-03-05T08:01:02Z")}}),
         item("", false, Bucket::small, "open", kServerTime)},
        {"full", recordWith({{"title", QStringLiteral("T")}, {"done", qint64(0)}, {"bucket", QStringLiteral("3")},
                             {"day", QStringLiteral("2025-03-05")}, {"modifiedAt", kEdited}}),
         item("T", false, Bucket::medium, "2025-03-05", kEdited)},
    };
    for (const Case &c : cases) {
        DayItem expected = c.expected;
        expected.systemFields = archiveSystemFields(c.record);
        EXPECT_EQ(dayItemFromRecord(c.record, readTime), expected) << c.name;
    }

    // Without "modifiedAt" the server's time holds, so two readings agree; without that either, the reading's.
    const Record plain = recordWith({});
    EXPECT_EQ(dayItemFromRecord(plain, readTime).modifiedAt, dayItemFromRecord(plain, readTime.addSecs(5)).modifiedAt);
    const Record neverSaved(kDayItemRecordType, RecordID{"R2", syncZoneID()});
    EXPECT_EQ(dayItemFromRecord(neverSaved, readTime).modifiedAt, readTime);
}

TEST(ItemRecord, UnusableSystemFieldsGiveAFreshRecordOfTheSameName)
{
    Record other(kDayItemRecordType, RecordID{"SOMEONE-ELSE", syncZoneID()});
    other.setSystemFields("t3", kServerTime, kServerTime);
    Record otherType("Note", RecordID{"A1B2", syncZoneID()});
    otherType.setSystemFields("t4", kServerTime, kServerTime);

    for (const QByteArray &bytes : {QByteArray("garbage"), QByteArray(), archiveSystemFields(other),
                                    archiveSystemFields(otherType)}) {
        DayItem item = sampleItem();
        item.systemFields = bytes;
        const Record record = makeRecord(item);
        EXPECT_EQ(record.recordID(), (RecordID{"A1B2", syncZoneID()}));
        EXPECT_EQ(record.recordType(), "DayItem");
        EXPECT_TRUE(record.recordChangeTag().isEmpty());
        EXPECT_EQ(record.stringValue("title"), "Call the bank");
    }
}
