#include "StoreTestSupport.h"

#include "Vellora/DayData/StoreFile.h"
#include "Vellora/DayData/StoreReader.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>

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
    std::next(saved.items.begin())->second.modifiedAt = QDateTime(QDate(-5, 1, 1), QTime(0, 0), Qt::UTC);
    std::next(saved.items.begin(), 2)->second.modifiedAt = QDateTime(QDate(20000, 1, 1), QTime(0, 0), Qt::UTC);
    SyncKit::SyncEngineState state;
    saved.state = state.serialization();
    EXPECT_EQ(encoder.encode(saved), StoreFile::encode(saved));
    state.add(QList{SyncKit::PendingRecordZoneChange::save({"B", syncZoneID()}),
                    SyncKit::PendingRecordZoneChange::remove({"C\"", syncZoneID()})});
    state.setZoneChangeToken(syncZoneID(), "token");
    saved.state = state.serialization();
    EXPECT_EQ(encoder.encode(saved), StoreFile::encode(saved));
    saved.items.erase("B");
    saved.items.begin()->second.done = true;
    EXPECT_EQ(encoder.encode(saved), StoreFile::encode(saved));
    saved.items.clear();
    EXPECT_EQ(encoder.encode(saved), StoreFile::encode(saved));
}

// The quick reader of the store file gives up on what it does not know; whenever it reads a file, it must read
// it exactly as the general parser does, and it must never take a file that the general parser refuses.
TEST(StoreFileReader, ReadsEveryFileAsTheGeneralParserDoes)
{
    const QByteArray item = R"({"bucket": "3", "day": "2025-03-05", "done": false, "id": "A", )"
                            R"("modifiedAt": "2025-03-05T08:01:02Z", "title": "Call Anna"})";
    auto file = [&](const QByteArray &items, const QByteArray &rest = {}) {
        return "{\"items\": {" + items + "}" + rest + "}";
    };
    auto withTitle = [&](const QByteArray &title) { return file("\"A\": " + QByteArray(item).replace("\"Call Anna\"", title)); };
    const QList<QByteArray> files{
        file(""),
        file("\"A\": " + item),
        file("\"A\": " + item, R"(, "state": null)"),
        file("\"A\": " + item, R"(, "state": {"version": 99})"),
        R"({"state": {"version": 1}, "items": {}})",
        file("", R"(, "state": {"version": 1}, "more": {})"),
        file("\"A\": " + item, R"(, "state": {"version": 1, "pendingDatabaseChanges": [], "pendingRecordZoneChanges": [], "zoneChangeTokens": []})"),
        file("\"A\": " + item + ", \"B\": " + QByteArray(item).replace("\"A\"", "\"B\"")),
        file("\"A\": " + item + ", \"A\": " + QByteArray(item).replace("false", "true")), // the same id twice
        file("\"A\": " + QByteArray(item).replace("\"done\": false", "\"done\": true, \"done\": false")),
        file("\"A\": " + QByteArray(item).replace("\"id\": \"A\", ", "")),
        file("\"A\": " + QByteArray(item).replace("\"3\"", "\"4\"")),
        file("\"A\": " + QByteArray(item).replace("\"3\"", "3")),
        file("\"A\": " + QByteArray(item).replace("false", "0")),
        file("\"A\": " + QByteArray(item).replace("08:01:02Z", "10:01:02+02:00")),
        file("\"A\": " + QByteArray(item).replace("08:01:02Z", "08:01:02.5Z")),
        file("\"A\": " + QByteArray(item).replace("\"id\"", "\"systemFields\": \"ZmllbGRz\", \"id\"")),
        file("\"A\": " + QByteArray(item).replace("\"id\"", "\"systemFields\": \"Zm!l\", \"id\"")),
        file("\"A\": " + QByteArray(item).replace("\"id\"", "\"colour\": [1, {\"a\": 2}], \"id\"")),
        withTitle(R"("a \"quote\", a \\ and \/ \b\f\n\r\t")"),
        withTitle(R"("\u00e9\u2028\u0000\uD83D\uDE00 \ud800")"),
        withTitle(R"("\x \u12")"),
        withTitle("\"caf\xc3\xa9 \xe2\x80\xa8 \xf0\x9f\x98\x80 \xef\xbf\xbe\""),
        withTitle("\"bad \xc0\x80 \xed\xa0\x80\""),
        withTitle("\"cut \xe2\x80\""),
        withTitle("\"tab\there\""),
        withTitle("\"\xef\xbb\xbfstarts with a byte-order mark\""),
        withTitle(R"("\ufeffescaped byte-order mark")"),
        withTitle("\"\x7f\""),
        "\xef\xbb\xbf" + file(""),
        file("") + " x",
        file("") + "\v",
        " \r\n\t" + file("") + "\n",
        file("", R"(, "colour": "red")"),
        "{\"items\": []}",
        "[]",
        "",
    };
    auto expectSame = [](const QByteArray &bytes) {
        const auto reference = StoreFile::decodeDocument(bytes);
        const auto decoded = StoreFile::decode(bytes);
        ASSERT_EQ(decoded.has_value(), reference.has_value()) << bytes.constData();
        if (reference) {
            ASSERT_EQ(*decoded, *reference) << bytes.constData();
        }
    };
    for (const QByteArray &bytes : files)
        expectSame(bytes);

    // A file as the store writes it, and every cut and many small damages of it.
    DayStore::Saved saved;
    for (int i = 0; i < 6; ++i) {
        const QString id = QStringLiteral("ID-%1").arg(i);
        saved.items.emplace(id, DayItem{id, QStringLiteral("Task \"%1\" caf\u00e9").arg(i), i % 2 == 0, kAllBuckets[i % 3],
                                        i < 3 ? "2025-03-05" : kOpenDay, QDateTime::fromSecsSinceEpoch(1741161662 + i, Qt::UTC),
                                        i == 4 ? std::optional(QByteArray("fields")) : std::nullopt});
    }
    saved.state = DayStore::Serialization{SyncKit::SyncEngineState().serialization()};
    const QByteArray written = StoreFile::encode(saved);
    ASSERT_EQ(StoreReader::read(written), saved) << "the store's own form is read without the general parser";
    ASSERT_TRUE(StoreReader::read(withTitle(R"("a \"quote\" \\ \n \u00e9 caf\u00e9")")));
    for (qsizetype size = 0; size < written.size(); ++size)
        expectSame(written.left(size));
    QRandomGenerator random(7);
    const QByteArray replacements = "{}[]\":,\\ 0135tfnu\x80\xc3\x01A";
    for (int round = 0; round < 3000; ++round) {
        QByteArray damaged = written;
        for (int k = 0; k <= round % 3; ++k)
            damaged[random.bounded(int(damaged.size()))] = replacements[random.bounded(int(replacements.size()))];
        expectSame(damaged);
    }
}
