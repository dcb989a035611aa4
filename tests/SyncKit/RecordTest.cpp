#include "SyncKit/CloudError.h"
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
    record.setValue("modifiedAt", utc("2025-03-05T08:01:02.250Z"));
    record.setValue("blob", QByteArray("\x00\xff", 2));
    record.setSystemFields("t42", utc("2025-03-01T10:00:00Z"), utc("2025-03-05T08:01:03.125Z"));
    return record;
}

} // namespace

TEST(Record, TypedFieldsGiveNothingForAnotherType)
{
    const Record record = savedRecord();
    EXPECT_EQ(record.stringValue("title"), QStringLiteral("Write"));
    EXPECT_EQ(record.int64Value("done"), 1);
    EXPECT_FALSE(record.int64Value("title"));
    EXPECT_FALSE(record.stringValue("done"));
    EXPECT_FALSE(record.dateValue("missing"));
    EXPECT_EQ(record.bytesValue("blob"), QByteArray("\x00\xff", 2));
}

TEST(Record, SystemFieldsRestoreTheSameServerRecordWithoutFields)
{
    const Record record = savedRecord();
    const auto restored = Record::fromSystemFields(record.encodeSystemFields());
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->recordType(), "DayItem");
    EXPECT_EQ(restored->recordID(), kRecordID);
    EXPECT_EQ(restored->recordChangeTag(), "t42");
    EXPECT_EQ(restored->creationDate(), record.creationDate());
    EXPECT_EQ(restored->modificationDate(), utc("2025-03-05T08:01:03.125Z"));
    EXPECT_TRUE(restored->fields().isEmpty());

    // A record never saved has no tag and no dates, and restores as such.
    const auto fresh = Record::fromSystemFields(Record("DayItem", kRecordID).encodeSystemFields());
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fresh->recordChangeTag().isEmpty());
    EXPECT_FALSE(fresh->modificationDate());
}

TEST(Record, UnreadableSystemFieldsGiveNoRecord)
{
    const QByteArray good = savedRecord().encodeSystemFields();
    QByteArray otherVersion = good;
    otherVersion.replace("\"version\":1", "\"version\":2");
    ASSERT_NE(otherVersion, good);

    for (const QByteArray &bytes : {QByteArray(), QByteArray("not an archive"), QByteArray("{}"),
                                    QByteArray("[1,2]"), otherVersion, good.left(good.size() / 2),
                                    QByteArray(R"({"format":"vellora.systemFields","version":1,"type":"DayItem"})")}) {
        EXPECT_FALSE(Record::fromSystemFields(bytes)) << bytes.constData();
    }
}

TEST(Record, JsonCarriesEveryFieldType)
{
    Record record = savedRecord();
    record.setValue("big", qint64(9007199254740993)); // beyond a double's exact integers
    const auto back = Record::fromJson(record.toJson());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, record);

    QJsonObject broken = record.toJson();
    QJsonObject fields = broken.value("fields").toObject();
    fields.insert("done", QJsonObject{{"type", "int64"}, {"value", "seven"}});
    broken.insert("fields", fields);
    EXPECT_FALSE(Record::fromJson(broken));
}

TEST(CloudError, DescriptionKeepsTheReasonAndTheCode)
{
    const CloudError quota(CloudError::Code::quotaExceeded, QStringLiteral("5 MB of 5 MB used"));
    EXPECT_TRUE(quota.description().contains("5 MB of 5 MB used (cloud error 25)"));
    EXPECT_TRUE(CloudError(CloudError::Code::networkFailure).isTransient());
    EXPECT_FALSE(CloudError(CloudError::Code::zoneNotFound).isTransient());

    const CloudError changed(CloudError::Code::serverRecordChanged, {}, savedRecord());
    const CloudError copy = changed;
    EXPECT_EQ(copy.serverRecord(), savedRecord());
    EXPECT_FALSE(quota.serverRecord());
}
