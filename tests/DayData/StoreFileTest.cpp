#include "StoreTestSupport.h"

#include "Vellora/DayData/StoreFile.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList setAsideFiles(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList({"vellora.json.unreadable-*"}, QDir::Files);
}

class StoreFileTest : public testing::Test
{
protected:
    StoreFixture fixture;
};

} // namespace

TEST_F(StoreFileTest, DefaultLocationIsMadeInTheDataFolder)
{
    const QByteArray old = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", fixture.dir.filePath("data").toUtf8());
    const auto path = StoreFile::defaultFileURL();
    qputenv("XDG_DATA_HOME", old);
    ASSERT_TRUE(path);
    EXPECT_EQ(*path, fixture.dir.filePath("data/app.vellora.Vellora/vellora.json"));
    EXPECT_TRUE(QDir(fixture.dir.filePath("data/app.vellora.Vellora")).exists());
    EXPECT_FALSE(QFile::exists(*path)) << "the file comes with the first save";
}

TEST_F(StoreFileTest, FileKeepsWholeSecondsSortedKeysAndReadsBackEqual)
{
    auto store = fixture.make();
    fixture.clock = QDateTime(QDate(2025, 3, 5), QTime(8, 1, 1, 250), Qt::UTC);
    const auto item = store->addItem("Call Anna", Bucket::medium);
    DayItem withFields = *store->addItem("Plan", Bucket::small);
    withFields.systemFields = QByteArray("fields");
    store->setItem(withFields.id, withFields);
    store->save();

    const QByteArray bytes = readFile(fixture.filePath());
    EXPECT_TRUE(bytes.contains("\"modifiedAt\": \"2025-03-05T08:01:02Z\""));
    EXPECT_TRUE(bytes.contains("\"systemFields\": \"ZmllbGRz\""));
    EXPECT_EQ(bytes.count("systemFields"), 1);
    EXPECT_EQ(bytes, QJsonDocument::fromJson(bytes).toJson()) << "keys sorted, pretty-printed";

    auto again = fixture.make();
    EXPECT_EQ(again->item(item->id)->modifiedAt, QDateTime(QDate(2025, 3, 5), QTime(8, 1, 2), Qt::UTC));
    EXPECT_EQ(again->item(withFields.id)->systemFields, QByteArray("fields"));

    // Unchanged items and state give byte-identical files.
    again->save();
    const QByteArray first = readFile(fixture.filePath());
    again->save();
    EXPECT_EQ(readFile(fixture.filePath()), first);
}

TEST_F(StoreFileTest, UnknownKeysAreDroppedAndStateIsOptional)
{
    writeFile(fixture.filePath(), R"({"items": {}, "colour": "red"})");
    auto store = fixture.make(true, true);
    EXPECT_TRUE(setAsideFiles(fixture.dir).isEmpty());
    EXPECT_FALSE(store->saved().state) << "no state: the store counts as new to sync";
    store->save();
    EXPECT_FALSE(readFile(fixture.filePath()).contains("colour"));
}

TEST_F(StoreFileTest, StateReadsBackUnchanged)
{
    auto store = fixture.make(true, true);
    store->addItem("a", Bucket::big);
    const auto state = store->engine()->state().serialization();
    store->setState(state);
    store->save();
    const auto loaded = StoreFile::decode(readFile(fixture.filePath()));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->state, state);
}

TEST_F(StoreFileTest, UnreadableFileIsSetAsideAndNeverOverwritten)
{
    const QList<QByteArray> unreadable{
        "{}",                                                        // no "items"
        "not json at all",                                           //
        R"({"items": {"X": {"id": "X"}}})",                          // an item missing keys
        R"({"items": {}, "state": {"version": 99}})",                // a state that cannot be read
        "",                                                          // an empty file
    };
    for (const QByteArray &content : unreadable) {
        StoreFixture local;
        writeFile(local.filePath(), content);
        auto store = local.make();
        EXPECT_TRUE(store->saved().items.empty());
        const QStringList aside = setAsideFiles(local.dir);
        ASSERT_EQ(aside.size(), 1) << content.constData();
        EXPECT_EQ(readFile(local.dir.filePath(aside.first())), content);
        EXPECT_EQ(store->setAsidePath(), local.dir.filePath(aside.first()));
        EXPECT_TRUE(aside.first().contains(QRegularExpression(R"(^vellora\.json\.unreadable-\d{8}T\d{6}Z$)")));

        store->addItem("new", Bucket::big);
        EXPECT_EQ(readFile(local.dir.filePath(aside.first())), content);
        EXPECT_TRUE(QJsonDocument::fromJson(readFile(local.filePath())).object().contains("items"));
    }
}

TEST_F(StoreFileTest, MissingFileIsSimplyAbsent)
{
    auto store = fixture.make();
    EXPECT_TRUE(store->saved().items.empty());
    EXPECT_TRUE(QDir(fixture.dir.path()).isEmpty());
}

TEST_F(StoreFileTest, FailedWriteKeepsTheChangeInMemory)
{
    StoreFixture local;
    DayStore::Options options;
    options.fileURL = local.dir.filePath("missing-folder/vellora.json");
    options.calendar = Calendar::make("en_US", "UTC");
    DayStore store(std::move(options));
    const auto item = store.addItem("kept", Bucket::big);
    EXPECT_TRUE(store.item(item->id));
}

TEST(StoreFileEncoder, WritesWhatTheDocumentWriterWrites)
{
    StoreFile::Encoder encoder;
    DayStore::Saved saved;
    EXPECT_EQ(encoder.encode(saved), StoreFile::encode(saved));

    const QDateTime time(QDate(2025, 3, 5), QTime(8, 1, 2), Qt::UTC);
    const QStringList texts{"B", "A", "C\"quoted\" and \\", "D\\u00e9\n", QString("\u00e9\u2028\x7f \U0001F600"),
                            QString(QChar(0xD800)) + "lone", QString("\x01\x1f\b\f\r")};
    for (const QString &id : texts) {
        saved.items.emplace(id, DayItem{id, id + " title", false, Bucket::big, id, time, std::nullopt});
        EXPECT_EQ(encoder.encode(saved), StoreFile::encode(saved));
    }
    saved.items.begin()->second.systemFields = QByteArray("x");
    saved.state = DayStore::Serialization{SyncKit::SyncEngineState().serialization()};
    EXPECT_EQ(encoder.encode(saved), StoreFile::encode(saved));
    saved.items.erase("B");
    saved.items.begin()->second.done = true;
    EXPECT_EQ(encoder.encode(saved), StoreFile::encode(saved));
    saved.items.clear();
    EXPECT_EQ(encoder.encode(saved), StoreFile::encode(saved));
}
