#include "Vellora/Sync/ItemRecord.h"

#include "Vellora/DayData/DayStore.h"

#include <gtest/gtest.h>

using SyncKit::Record;
using SyncKit::RecordID;

namespace {

const QDateTime kEdited(QDate(2025, 3, 5), QTime(8, 1, 2, 250), Qt::UTC);
const QDateTime kServerTime(QDate(2025, 3, 6), QTime(9, 0), Qt::UTC);
const DayItem kSample{"A1B2", "Call the bank", true, Block::medium, "2025-03-05", kEdited, std::nullopt};

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
    Record server = makeRecord(kSample);
    server.setSystemFields("t9", kServerTime, kServerTime);
    DayItem expected = kSample;
    expected.systemFields = archiveSystemFields(server);
    EXPECT_EQ(dayItemFromRecord(server), expected);

    // A change later than the item's place travels beside it, and only then.
    DayItem restored = kSample;
    restored.changedAt = kEdited.addMSecs(1);
    const Record withChange = makeRecord(restored);
    EXPECT_EQ(dayItemFromRecord(withChange).changedAt, restored.changedAt);
    EXPECT_EQ(recordChangeTime(withChange), restored.changedAt);
    EXPECT_FALSE(server.value("changedAt"));
    EXPECT_EQ(recordChangeTime(server), kEdited);

    // System fields that are unreadable or of another record give a fresh record of the item's own name.
    Record other(kDayItemRecordType, RecordID{"SOMEONE-ELSE", syncZoneID()});
    other.setSystemFields("t3", kServerTime, kServerTime);
    Record otherType("Note", RecordID{"A1B2", syncZoneID()});
    otherType.setSystemFields("t4", kServerTime, kServerTime);
    for (const QByteArray &bytes :
         {QByteArray("garbage"), archiveSystemFields(other), archiveSystemFields(otherType)}) {
        DayItem item = kSample;
        item.systemFields = bytes;
        const Record record = makeRecord(item);
        EXPECT_EQ(record.recordID(), (RecordID{"A1B2", syncZoneID()}));
        EXPECT_EQ(record.recordType(), "DayItem");
        EXPECT_TRUE(record.recordChangeTag().isEmpty());
    }
}

TEST(ItemRecord, MissingOrMistypedFieldsTakeTheirFallbacks)
{
    const QDateTime readTime(QDate(2025, 4, 1), QTime(12, 0), Qt::UTC);
    const DayItem fallback{"R1", "", false, Block::small, "open", kServerTime, std::nullopt};
    struct Case
    {
        const char *name;
        Record record;
        DayItem expected;
    };
    const Case cases[] = {
        {"empty record", recordWith({}), fallback},
        {"unknown bucket", recordWith({{"bucket", QStringLiteral("2")}}), fallback},
        {"bucket as number", recordWith({{"bucket", qint64(1)}}), fallback},
        {"done as text", recordWith({{"done", QStringLiteral("1")}}), fallback},
        {"title as bytes", recordWith({{"title", QByteArray("x")}}), fallback},
        {"day as date", recordWith({{"day", kEdited}}), fallback},
        {"modifiedAt as text", recordWith({{"modifiedAt", QStringLiteral("2025-03-05T08:01:02Z")}}), fallback},
        {"done 7", recordWith({{"done", qint64(7)}}), {"R1", "", true, Block::small, "open", kServerTime, {}}},
        {"full", recordWith({{"title", QStringLiteral("T")}, {"done", qint64(0)}, {"bucket", QStringLiteral("3")},
                             {"day", QStringLiteral("2025-03-05")}, {"modifiedAt", kEdited}}),
         {"R1", "T", false, Block::medium, "2025-03-05", kEdited, {}}},
    };
    for (const Case &c : cases) {
        DayItem expected = c.expected;
        expected.systemFields = archiveSystemFields(c.record);
        EXPECT_EQ(dayItemFromRecord(c.record, readTime), expected) << c.name;
    }

    // Without "modifiedAt" the server's time holds, so two readings agree; without that either, the reading's.
    const Record neverSaved(kDayItemRecordType, RecordID{"R2", syncZoneID()});
    EXPECT_EQ(dayItemFromRecord(neverSaved, readTime).modifiedAt, readTime);
}
