#include "SyncKit/Record.h"

#include <gtest/gtest.h>

using namespace SyncKit;

namespace {

const RecordID kRecordID{QStringLiteral("A1"), RecordZoneID{QStringLiteral("Vellora")}};

QDateTime utc(const char *text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs).toUTC();
}

Record savedRecord()
{
    Record record(QStringLiteral("DayItem"), kRecordID);
    record.setValue("title", QStringLiteral("Write"));
    record.setValue("done", qint64(1));
    record.setValue("big", qint64(9007199254740993)); // beyond a double's exact integers
    record.setValue("modifiedAt", utc("2025-03-05T08:01:02.250Z"));
    record.setValue("blob", QByteArray("\x00\xff", 2));
    record.setSystemFields("t42", utc("2025-03-01T10:00:00Z"), utc("2025-03-05T08:01:03.125Z"));
    return record;
}

} // namespace

TEST(Record, JsonCarriesEveryFieldTypeAndTypedReadsGiveNothingForAnother)
{
    const Record record = savedRecord();
    EXPECT_EQ(Record::fromJson(record.toJson()), record);
    EXPECT_FALSE(record.int64Value("title"));
    EXPECT_FALSE(record.stringValue("done"));

    QJsonObject broken = record.toJson();
    QJsonObject fields = broken.value("fields").toObject();
    fields.insert("done", QJsonObject{{"type", "int64"}, {"value", "seven"}});
    broken.insert("fields", fields);
    EXPECT_FALSE(Record::fromJson(broken));
}

TEST(Record, SystemFieldsRestoreTheSameServerRecordWithoutFields)
{
    const Record record = savedRecord();
    const QByteArray good = record.encodeSystemFields();
    const auto restored = Record::fromSystemFields(good);
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->recordChangeTag(), "t42"); // the type and the id are the item's record's (ItemRecordTest)
    EXPECT_EQ(restored->creationDate(), record.creationDate());
    EXPECT_EQ(restored->modificationDate(), record.modificationDate());
    EXPECT_TRUE(restored->fields().isEmpty());

    for (const QByteArray &bytes : {QByteArray(), QByteArray("not an archive"), QByteArray("[1,2]"),
                                    QByteArray(good).replace("\"version\":1", "\"version\":2"),
                                    good.left(good.size() / 2),
                                    QByteArray(R"({"format":"vellora.systemFields","version":1,"type":"DayItem"})")})
        EXPECT_FALSE(Record::fromSystemFields(bytes)) << bytes.constData();
}
