#include "JsonText/JsonReader.h"
#include "JsonText/JsonWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

// Texts of every kind of character: plain, escaped, two and three bytes, surrogate pairs and broken halves,
// controls, and the characters JSON writers treat specially.
QString randomText(QRandomGenerator &random)
{
    static const QList<char16_t> pool{u'a', u'Z', u' ', u'"', u'\\', u'/', u'\n', u'\t', 0x01, 0x1F, 0x7F, 0xE9,
                                      0x7FF, 0x800, 0x2028, 0xFEFF, 0xFFFE, 0xD83D, 0xDE00, u'{', u'}'};
    QString text;
    const int length = random.bounded(12);
    for (int i = 0; i < length; ++i)
        text.append(QChar(pool[random.bounded(int(pool.size()))]));
    return text;
}

QByteArray quoted(const QString &text)
{
    JsonWriter writer(JsonWriter::quotedRoom(text));
    writer.putQuoted(text);
    return writer.take();
}

} // namespace

TEST(JsonText, QuotesAsTheGeneralWriterAndReadsBackWhatItTakes)
{
    QRandomGenerator random(11);
    for (int round = 0; round < 5000; ++round) {
        const QString text = randomText(random);
        const QByteArray reference = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
        const QByteArray written = quoted(text);
        ASSERT_EQ(written, reference.mid(1, reference.size() - 2)) << text.toStdString();

        // What the reader takes, it reads as the general parser does.
        QString read;
        JsonReader reader(written);
        const QString parsed = QJsonDocument::fromJson("[" + written + "]").array().first().toString();
        if (reader.readString(read)) {
            ASSERT_EQ(read, parsed) << written.constData();
            ASSERT_TRUE(reader.atEnd());
        }
    }
}

TEST(JsonText, ReaderTakesOnlyWhatItKnowsAndSharesRepeatedTexts)
{
    JsonReader reader(R"( {"a": [true, false, null, 12], "b": "x\u00e9y", "c": "same", "d": "same"} )");
    QString text, shared;
    bool flags[2];
    QByteArrayView number;
    QStringList keys;
    ASSERT_TRUE(reader.readObject([&](JsonKey key) {
        keys.append(QString::fromLatin1(key.text));
        if (key == "a") {
            int index = 0;
            return reader.readArray([&] {
                ++index;
                return index <= 2 ? reader.readBool(flags[index - 1]) : index == 3 ? reader.readNull() : reader.readNumber(number);
            });
        }
        if (key == "b")
            return reader.readString(text);
        QString value;
        return reader.readString(value, &shared);
    }));
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(keys, QStringList({"a", "b", "c", "d"}));
    EXPECT_TRUE(flags[0]);
    EXPECT_FALSE(flags[1]);
    EXPECT_EQ(number, "12");
    EXPECT_EQ(text, QString::fromUtf8("x\u00e9y"));
    EXPECT_EQ(shared, "same");

    for (const QByteArray &unusual : {QByteArray("\"a\x01\""), QByteArray("\"\\x\""), QByteArray("\"\\ud83d\\ude00\""),
                                      QByteArray("\"\xc0\x80\""), QByteArray("\"cut"), QByteArray("\xef\xbb\xbf\"a\"")}) {
        QString value;
        EXPECT_FALSE(JsonReader(unusual).readString(value)) << unusual.constData();
    }
}
