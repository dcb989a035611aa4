#include "StoreTestSupport.h"

#include "Vellora/Files/AtomicFile.h"
#include "Vellora/DayData/StoreFile.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include "tests/WaitFor.h"

#include <cerrno>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

} // namespace

TEST(StoreFileTest, UnreadableFileIsSetAsideAndNeverOverwritten)
{
    // Not JSON, an item missing keys, an empty file.
    for (const QByteArray &content : {QByteArray("not json at all"), QByteArray(R"({"items": {"X": {"id": "X"}}})"), QByteArray()}) {
        StoreFixture local;
        writeFile(local.file, content);
        auto store = local.make();
        EXPECT_TRUE(store->saved().items.empty());
        const QStringList aside = setAsideFiles(local.dir);
        ASSERT_EQ(aside.size(), 1) << content.constData();
        EXPECT_EQ(readFile(local.dir.filePath(aside.first())), content);
        EXPECT_EQ(store->setAsidePath(), local.dir.filePath(aside.first()));
        EXPECT_TRUE(aside.first().contains(QRegularExpression(R"(^vellora\.json\.unreadable-\d{8}T\d{6}Z$)")));

        store->addItem("new", Block::big);
        EXPECT_EQ(readFile(local.dir.filePath(aside.first())), content);
        EXPECT_TRUE(QJsonDocument::fromJson(readFile(local.file)).object().contains("items"));
    }
}

namespace {

// Loads the file with the address space limited to what the process uses and 48 MB more; exits with 0 when it is
// refused for lack of memory and not set aside.
[[noreturn]] void loadWithLittleMemory(const QString &file)
{
    QFile status("/proc/self/status");
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf("VmSize:");
    const rlim_t usedKb = rlim_t(text.mid(at + 7, text.indexOf('\n', at) - at - 7).trimmed().split(' ')[0].toLongLong());
    const struct rlimit limit = {(usedKb << 10) + (48 << 20), RLIM_INFINITY};
    if (at < 0 || usedKb == 0 || setrlimit(RLIMIT_AS, &limit) != 0)
        std::_Exit(2);
    const StoreFile::LoadResult loaded = StoreFile::load(file);
    std::_Exit(loaded.keepOut && loaded.error.contains("memory") && loaded.setAsidePath.isEmpty() ? 0 : 3);
}

} // namespace

// Without memory enough to parse a file, nothing is known about it: it is refused for now, not set aside as
// unreadable (a person then finds their tasks gone) and not written over.
TEST(StoreFileTest, AFileThatCannotBeParsedForLackOfMemoryIsRefusedAndLeftInPlace)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit under a limit of the address space";
#endif
    QTemporaryDir dir;
    const QString file = dir.filePath("vellora.json");
    // Valid JSON of 8 MB: the parser's buffers for it take about fourteen times that.
    writeFile(file, R"({"items": {}})" + QByteArray(8 << 20, ' '));
    EXPECT_EXIT(loadWithLittleMemory(file), testing::ExitedWithCode(0), "");
    EXPECT_TRUE(setAsideFiles(dir).isEmpty());
    EXPECT_EQ(QFileInfo(file).size(), (8 << 20) + 13);
}

int modeOf(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

QStringList temporaryFiles(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList({"*.tmp-*"}, QDir::Files | QDir::Hidden);
}

TEST(StoreFileTest, AFailedStepLeavesTheOldFileKeepsTheChangeAndSaysWhy)
{
    using enum AtomicFile::Step;
    const struct
    {
        AtomicFile::Step step;
        int code;
        const char *reason;
    } cases[] = {{open, EACCES, "permission denied"}, {write, ENOSPC, "disk full"}, {sync, EIO, "input/output error"},
                 {close, EDQUOT, "disk quota exceeded"}, {rename, EROFS, "read-only file system"}};
    for (const auto &test : cases) {
        StoreFixture local;
        auto store = local.make();
        store->addItem("first", Block::big);
        const QByteArray before = readFile(local.file);

        AtomicFile::setFaultInjector([&](AtomicFile::Step step) { return step == test.step ? test.code : 0; });
        const auto second = store->addItem("second", Block::small);
        EXPECT_EQ(store->saveError(), QString(test.reason));
        EXPECT_EQ(readFile(local.file), before) << test.reason;
        EXPECT_TRUE(temporaryFiles(local.dir).isEmpty()) << test.reason;
        EXPECT_TRUE(store->item(second->id)) << "the change stays in memory";

        // The disk comes back: the store's own retry saves everything and clears the error.
        AtomicFile::setFaultInjector({});
        ASSERT_TRUE(waitFor([&] { return !store->saveError(); }, 5000)) << test.reason;
        const auto saved = StoreFile::decode(readFile(local.file));
        ASSERT_TRUE(saved);
        EXPECT_EQ(saved->items.size(), 2u);
    }
}

TEST(StoreFileTest, FilesArePrivateAndLinksAreFollowed)
{
    StoreFixture fixture;
    // The default store's folder is made for the user alone; the file comes with the first save.
    const QByteArray old = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", fixture.dir.filePath("data").toUtf8());
    const auto path = StoreFile::defaultFilePath();
    qputenv("XDG_DATA_HOME", old);
    ASSERT_EQ(path, fixture.dir.filePath("data/app.vellora.Vellora/vellora.json"));
    EXPECT_EQ(modeOf(fixture.dir.filePath("data/app.vellora.Vellora")), 0700);
    EXPECT_FALSE(QFile::exists(*path));

    auto store = fixture.make();
    store->addItem("a", Block::big);
    EXPECT_EQ(modeOf(fixture.file), 0600);

    // An older file that others could read is rewritten for the user alone.
    ::chmod(QFile::encodeName(fixture.file).constData(), 0644);
    store->addItem("b", Block::big);
    EXPECT_EQ(modeOf(fixture.file), 0600);

    // A store that is a link to a file elsewhere stays a link; the file it points to holds the change.
    const QString target = fixture.dir.filePath("elsewhere.json");
    ASSERT_TRUE(QFile::rename(fixture.file, target));
    ASSERT_TRUE(QFile::link(target, fixture.file));
    auto linked = fixture.make();
    linked->addItem("c", Block::small);
    EXPECT_TRUE(QFileInfo(fixture.file).isSymLink());
    EXPECT_EQ(StoreFile::decode(readFile(target))->items.size(), 3u);
}

TEST(StoreFileTest, OnlyARegularFileOrNothingIsAStoreAndLeftoversGo)
{
    StoreFixture fixture;
    const QString fifo = fixture.dir.filePath("fifo"), device = fixture.dir.filePath("zero");
    const QString folder = fixture.dir.filePath("folder");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", device) && QDir().mkdir(folder));

    for (const QString &path : {fifo, device, folder}) {
        StoreFixture f;
        f.file = path;
        auto store = f.make(); // must not block on the pipe or read the device for ever
        EXPECT_FALSE(store->openError().isEmpty()) << qPrintable(path);
        EXPECT_FALSE(store->filePath());
        store->addItem("kept in memory", Block::big);
        EXPECT_TRUE(setAsideFiles(fixture.dir).isEmpty()) << "nothing renamed";
    }
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_TRUE(QFileInfo(device).isSymLink());
    for (const QString &path : {fifo, folder}) {
        EXPECT_TRUE(AtomicFile::write(path, "x")) << "a write refuses it too: " << qPrintable(path);
        EXPECT_FALSE(QFileInfo(path).isFile());
    }

    // What a killed save left is removed at open; another program's temporary file is not.
    const QString leftover = fixture.dir.filePath("vellora.json.tmp-Ab12Cd");
    writeFile(leftover, "half a store");
    const QStringList others{"notes.tmp-Ab12Cd", "VELLORA.JSON.tmp-Ab12Cd", "vellora.json.tmp-Ab12Cd7"};
    for (const QString &other : others)
        writeFile(fixture.dir.filePath(other), "someone else's");
    fixture.make();
    EXPECT_FALSE(QFile::exists(leftover));
    for (const QString &other : others)
        EXPECT_TRUE(QFile::exists(fixture.dir.filePath(other))) << qPrintable(other);
}

// What a store file may hold beside the store's own form, and what makes it unreadable: a file that is read must be
// read whole and right, and any other is refused (and so set aside), never read as less than it holds. (An item that
// does not read is left out and counted: ADamagedFileKeepsWhatReadsWellAndIsSetAsideOnce.)
TEST(StoreFileReader, ReadsTheFormsItKnowsAndRefusesTheRest)
{
    const QByteArray item = R"({"bucket": "3", "day": "2025-03-05", "done": false, "id": "A", )"
                            R"("modifiedAt": "2025-03-05T08:01:02Z", "title": "Call Anna"})";
    auto file = [](const QByteArray &items, const QByteArray &rest = {}) { return "{\"items\": {" + items + "}" + rest + "}"; };
    auto with = [&](const char *from, const QByteArray &to) { return file("\"A\": " + QByteArray(item).replace(from, to)); };
    auto title = [&](const QByteArray &text) { return with("\"Call Anna\"", text); };
    const QString pair = QString(QChar(0xD83D)) + QChar(0xDE00);
    const QByteArray newer = QByteArray(item).replace("Call Anna", "newer").replace("08:01", "10:01");
    const QByteArray older = QByteArray(item).replace("Call Anna", "older");
    using Check = std::function<bool(const DayStore::Saved &)>; // none: the file is refused
    auto titleIs = [](const QString &expected) {
        return [expected](const DayStore::Saved &saved) { return saved.items.at("A").title == expected; };
    };
    const Check none = [](const DayStore::Saved &saved) { return saved.items.empty(); };
    const QList<std::pair<QByteArray, Check>> cases{
        {file(""), none},
        {" \r\n\t" + file("") + "\n", none},
        {file("\"A\": " + item, R"(, "state": null)"), [](const DayStore::Saved &saved) { return !saved.state; }},
        {R"({"state": {"version": 1}, "items": {}, "colour": [1, {"a": 12345678901234567890}]})",
         [](const DayStore::Saved &saved) { return saved.state && saved.state->value("version") == 1; }},
        {with("\"id\"", R"("colour": [1, {"a": 2}], "systemFields": "ZmllbGRz", "id")"),
         [](const DayStore::Saved &saved) { return saved.items.at("A").systemFields == "fields"; }},
        {with("08:01:02Z", "10:01:02+02:00"),
         [](const DayStore::Saved &saved) { return saved.items.at("A").modifiedAt == QDateTime::fromSecsSinceEpoch(1741161662, Qt::UTC); }},
        // Milliseconds, and a change later than the item's place; one not later says nothing and is dropped.
        {with("08:01:02Z", "08:01:02.345Z"),
         [](const DayStore::Saved &saved) { return saved.items.at("A").modifiedAt.time().msec() == 345; }},
        {with("\"id\"", R"("changedAt": "2025-03-05T09:00:00.001Z", "id")"),
         [](const DayStore::Saved &saved) { return saved.items.at("A").changedAt->time() == QTime(9, 0, 0, 1); }},
        {with("\"id\"", R"("changedAt": "2025-03-05T08:01:02Z", "id")"),
         [](const DayStore::Saved &saved) { return !saved.items.at("A").changedAt; }},
        {with("\"done\": false", "\"done\": false, \"done\": true"), [](const DayStore::Saved &saved) { return saved.items.at("A").done; }},
        // An item is known by its key, and the later of two copies wins, whichever comes first.
        {file("\"A\": " + newer + ", \"A\": " + older), titleIs("newer")},
        {file("\"A\": " + older + ", \"A\": " + newer), titleIs("newer")},
        {file("\"B\": " + item), [](const DayStore::Saved &saved) { return saved.items.at("B").id == "B"; }},
        {title(R"("a \"quote\", a \\ and \/ \b\f\n\r\t \u0000")"), titleIs(QString("a \"quote\", a \\ and / \b\f\n\r\t ") + QChar(0))},
        {title(R"("\u00e9\u2028 \uD83D\uDE00 \ud800")"), titleIs(QString::fromUtf8("\u00e9\u2028 ") + pair + " " + QChar(0xFFFD))},
        {title("\"caf\xc3\xa9 \xf0\x9f\x98\x80 \xef\xbf\xbe\""), titleIs(QString::fromUtf8("caf\u00e9 ") + pair + " " + QChar(0xFFFE))},
        {title("\"\xef\xbb\xbf a byte-order mark\""), titleIs(QChar(0xFEFF) + QString(" a byte-order mark"))},
        // Refused: not JSON, not a store, or an item that lacks something or holds the wrong kind of value.
        {"\xef\xbb\xbf" + file("\"A\": " + item), titleIs("Call Anna")}, // a byte-order mark is no part of the text
        {"{\"items\": []}", {}},
        {file("") + " x", {}},
        {file("", R"(, "colour": [1 2])"), {}},
        {file("", R"(, "state": [99])"), {}},
        {title(R"("\x \u12")"), {}},
        {title("\"tab\there\""), {}},
        {"\xff" + file(""), {}}, // a byte that is not text outside a string is no JSON, mended or not
    };
    for (const auto &[text, check] : cases) {
        const auto read = StoreFile::decode(text);
        ASSERT_EQ(read.has_value(), bool(check)) << text.constData();
        EXPECT_TRUE(!read || check(*read)) << text.constData();
    }
}

// One bad item costs only itself: the others are read, the file as it was is kept aside once, byte for byte, and
// the store is written again with what could be read, so that the next read finds nothing wrong.
TEST(StoreFileTest, ADamagedFileKeepsWhatReadsWellAndIsSetAsideOnce)
{
    const QByteArray item = R"({"bucket": "3", "day": "2025-03-05", "done": false, "id": "A", )"
                            R"("modifiedAt": "2025-03-05T08:01:02Z", "title": "Call Anna"})";
    const QByteArray kept = QByteArray(item).replace("\"A\"", "\"B\"").replace("Call Anna", "Keep me");
    auto file = [&](const char *from, const QByteArray &to) {
        return "{\"items\": {\"A\": " + QByteArray(item).replace(from, to) + ", \"B\": " + kept + "}}";
    };
    const struct
    {
        QByteArray text;
        StoreDamage damage;
        QStringList titles;
    } cases[] = {
        {file("false", "\"yes\""), {1, 0}, {"Keep me"}},
        {file("\"3\"", "\"4\""), {1, 0}, {"Keep me"}},
        {file("\"id\": \"A\"", R"("changedAt": 5, "id": "A")"), {1, 0}, {"Keep me"}},
        {file("2025-03-05T08:01:02Z", "2025-13-45T08:01:02Z"), {1, 0}, {"Keep me"}},
        {file("\"day\": \"2025-03-05\", ", ""), {1, 0}, {"Keep me"}},
        {"{\"items\": {\"A\": [], \"C\": 7, \"B\": " + kept + "}}", {2, 0}, {"Keep me"}},
        {file("Call Anna", "Call \xff Anna \xc0\x80"), {0, 3}, {"Call \uFFFD Anna \uFFFD\uFFFD", "Keep me"}},
        {"\xef\xbb\xbf" + file("Call Anna", "Call Anna"), {}, {"Call Anna", "Keep me"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.constData());
        StoreFixture local;
        writeFile(local.file, c.text);
        for (int open = 0; open < 2; ++open) {
            auto store = local.make();
            QStringList titles;
            for (const auto &[id, read] : store->saved().items)
                titles.append(read.title);
            titles.sort();
            EXPECT_EQ(titles, c.titles) << open;
            EXPECT_EQ(store->damage(), open == 0 ? c.damage : StoreDamage()) << open;
            EXPECT_EQ(store->setAsidePath().isEmpty(), open == 1 || !c.damage.any()) << open;
            const QStringList aside = setAsideFiles(local.dir);
            ASSERT_EQ(aside.size(), c.damage.any() ? 1 : 0);
            if (c.damage.any()) {
                EXPECT_EQ(readFile(local.dir.filePath(aside.first())), c.text);
            }
        }
    }
}

// A file as the store writes it reads back equal; cut anywhere, it is refused.
TEST(StoreFileReader, ReadsItsOwnFileBackAndRefusesEveryCutOfIt)
{
    DayStore::Saved saved;
    EXPECT_EQ(StoreFile::decode(StoreFile::encode(saved)), saved);
    for (int i = 0; i < 6; ++i) {
        const QString id = QStringLiteral("ID-%1").arg(i);
        saved.items.emplace(id, DayItem{id, QStringLiteral("Task \"%1\" caf\u00e9 \\ \n\x01\u2028\x7f").arg(i), i % 2 == 0, kAllBlocks[i % 3],
                                        i < 3 ? "2025-03-05" : kOpenDay, QDateTime::fromMSecsSinceEpoch(1741161662'000 + i * 1001, Qt::UTC),
                                        i == 4 ? std::optional(QByteArray("\x00\xff", 2)) : i == 5 ? std::optional(QByteArray()) : std::nullopt,
                                        i == 3 ? std::optional(QDateTime::fromMSecsSinceEpoch(1741161669'999, Qt::UTC)) : std::nullopt});
    }
    // Parts changed before the whole, and deletes still to send.
    DayItem &parts = saved.items.at("ID-2");
    parts.titleChangedAt = parts.modifiedAt.addMSecs(-5);
    parts.placeChangedAt = parts.modifiedAt.addDays(-1);
    saved.deletions.emplace("GONE-1", DayStore::Deletion{QDateTime::fromMSecsSinceEpoch(1741161670'123, Qt::UTC), {}});
    saved.deletions.emplace("GONE-2", DayStore::Deletion{QDateTime::fromMSecsSinceEpoch(1741161670'124, Qt::UTC),
                                                         QByteArray("\x01tag", 5)});
    // Sync's state, kept as it is.
    saved.state = QJsonDocument::fromJson(R"({"version": 1, "queue": [{"save": "ID-\"2"}], "token": "AHRva2Vu"})").object();
    const QByteArray written = StoreFile::encode(saved);
    EXPECT_EQ(StoreFile::decode(written), saved);
    for (qsizetype size = 0; size < written.size() - 1; ++size) // all but the closing line break
        ASSERT_FALSE(StoreFile::decode(written.left(size))) << size;
}
