#include "SyncKit/AccountKey.h"
#include "SyncKit/RecordSeal.h"

#include <gtest/gtest.h>

using namespace SyncKit;

namespace {

Record itemRecord(const QString &name, const QString &zone = QStringLiteral("Vellora"))
{
    Record record(QStringLiteral("DayItem"), RecordID{name, RecordZoneID{zone}});
    record.setValue(QStringLiteral("title"), QStringLiteral("Call the dentist ☎"));
    record.setValue(QStringLiteral("done"), qint64(1));
    record.setValue(QStringLiteral("modifiedAt"), QDateTime::fromMSecsSinceEpoch(1'800'000'000'123, Qt::UTC));
    record.setSystemFields(QStringLiteral("tag-7"), std::nullopt, std::nullopt);
    return record;
}

} // namespace

TEST(RecordSealTest, SealedFieldsOpenOnlyForTheirRecordKindAndKey)
{
    const AccountKey key = AccountKey::generate();
    const Record plain = itemRecord(QStringLiteral("A"));
    const Record sealed = RecordSeal::seal(plain, key, RecordSeal::Kind::save);
    ASSERT_TRUE(RecordSeal::isSealed(sealed));
    EXPECT_FALSE(sealed.toJson().value("fields").toString().contains("dentist"));
    EXPECT_EQ(sealed.recordChangeTag(), QStringLiteral("tag-7"));
    EXPECT_EQ(RecordSeal::open(sealed, key, RecordSeal::Kind::save), plain);

    const auto withValue = [&](const Record &header, QByteArray value) {
        Record moved = header;
        moved.removeValue(QStringLiteral("title"));
        moved.removeValue(QStringLiteral("done"));
        moved.removeValue(QStringLiteral("modifiedAt"));
        moved.setValue(RecordSeal::kSealedField, std::move(value));
        return moved;
    };
    const QByteArray value = *sealed.bytesValue(RecordSeal::kSealedField);
    QByteArray flipped = value;
    flipped[flipped.size() / 2] = char(flipped[flipped.size() / 2] ^ 0x01);
    const struct
    {
        const char *name;
        Record record;
        AccountKey key;
        RecordSeal::Kind kind;
    } refused[] = {
        {"a changed byte", withValue(plain, flipped), key, RecordSeal::Kind::save},
        {"cut short", withValue(plain, value.left(20)), key, RecordSeal::Kind::save},
        {"another record", withValue(itemRecord("B"), value), key, RecordSeal::Kind::save},
        {"another zone", withValue(itemRecord("A", "Other"), value), key, RecordSeal::Kind::save},
        {"a save read as a tombstone", sealed, key, RecordSeal::Kind::tombstone},
        {"another account's key", sealed, AccountKey::generate(), RecordSeal::Kind::save},
        {"a plain record", plain, key, RecordSeal::Kind::save},
    };
    for (const auto &test : refused)
        EXPECT_FALSE(RecordSeal::open(test.record, test.key, test.kind)) << test.name;
}

TEST(RecordSealTest, RecoveryTextReadsBackAndCatchesSlips)
{
    for (int i = 0; i < 50; ++i) {
        const AccountKey key = AccountKey::generate();
        const QString text = key.recoveryText();
        EXPECT_EQ(text.size(), 56 + 13) << qPrintable(text);
        EXPECT_EQ(AccountKey::fromRecoveryText(text), key);
        EXPECT_EQ(AccountKey::fromRecoveryText(text.toLower().replace('-', ' ')), key);
        QString slip = text;
        slip[5] = slip[5] == 'A' ? 'B' : 'A';
        EXPECT_FALSE(AccountKey::fromRecoveryText(slip)) << qPrintable(slip);
        EXPECT_FALSE(AccountKey::fromRecoveryText(text.chopped(1)));
        EXPECT_FALSE(AccountKey::fromRecoveryText(text + 'A'));
    }
    const AccountKey zero = *AccountKey::fromBytes(QByteArray(32, '\0'));
    const AccountKey full = *AccountKey::fromBytes(QByteArray(32, '\xff'));
    EXPECT_EQ(AccountKey::fromRecoveryText(zero.recoveryText()), zero);
    EXPECT_EQ(AccountKey::fromRecoveryText(full.recoveryText()), full);
}

TEST(RecordSealTest, KeyBoxOpensOnlyWithItsPassphrase)
{
    const AccountKey key = AccountKey::generate();
    const auto box = KeyBox::wrap(key, QStringLiteral("correct horse battery"), PassphraseCost::minimum());
    ASSERT_TRUE(box);
    const auto read = KeyBox::fromJson(box->toJson());
    ASSERT_EQ(read, box);
    EXPECT_EQ(read->unwrap(QStringLiteral("correct horse battery")), key);
    EXPECT_FALSE(read->unwrap(QStringLiteral("correct horse batterY")));

    // Parts of two boxes put together, and a box that asks the computer for more than it gives.
    KeyBox spliced = *box;
    spliced.keyCheck = AccountKey::generate().check();
    EXPECT_FALSE(spliced.unwrap(QStringLiteral("correct horse battery")));
    QJsonObject greedy = box->toJson();
    greedy.insert("memoryBytes", qint64(64) << 30);
    EXPECT_FALSE(KeyBox::fromJson(greedy));
}
