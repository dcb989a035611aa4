#include "ProcessFixture.h"

#include "Vellora/Platform/InstanceChannel.h"
#include "Vellora/Platform/StoreLock.h"
#include "tests/FailingCalls/FailingCalls.h"

#include <functional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>

// Every command on the store file, with no app running.

namespace {

using CommandLineTest = ProcessTest;

}

TEST_F(CommandLineTest, AddFillsTheFirstFreeBlockThenTheBacklog)
{
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(vellora({"add", QString("task %1").arg(i)}).exitCode, 0);

    const QJsonObject today = json({"today"});
    EXPECT_EQ(today.value("itemCount").toInt(), 10);
    const QJsonArray items = today.value("items").toArray();
    ASSERT_EQ(items.size(), 9);
    EXPECT_EQ(items[0].toObject().value("slot").toString(), "slot.1.0");
    EXPECT_EQ(items[0].toObject().value("title").toString(), "task 0");
    EXPECT_EQ(items[8].toObject().value("slot").toString(), "slot.5.4");

    const QJsonObject waiting = json({"backlog"}).value("items").toArray().first().toObject();
    EXPECT_EQ(waiting.value("title").toString(), "task 9");
    EXPECT_EQ(waiting.value("bucket").toString(), "small");
}

TEST_F(CommandLineTest, ItemsAreNamedByIdPrefixOrRowAndANewDayClearsTheSheet)
{
    const QString big = addedId("big", "big");
    const QString medium = addedId("medium", "medium");
    addedId("small", "small");

    EXPECT_EQ(vellora({"edit", "1.0", "renamed"}).exitCode, 0);
    EXPECT_EQ(vellora({"done", big.left(6).toLower()}).exitCode, 0);
    EXPECT_EQ(vellora({"down", big}).exitCode, 0); // swaps with the medium item
    EXPECT_EQ(json({"today"}).value("items").toArray().first().toObject().value("id").toString(), medium);
    EXPECT_EQ(vellora({"up", "slot.3.0"}).exitCode, 0);
    EXPECT_EQ(vellora({"delete", "5.0"}).exitCode, 0);

    const QJsonArray items = json({"today"}).value("items").toArray();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].toObject().value("title").toString(), "renamed");
    EXPECT_TRUE(items[0].toObject().value("done").toBool());
    EXPECT_EQ(items[1].toObject().value("slot").toString(), "slot.3.0");

    // The new day drops the done item and sends the other to the Backlog, from where it comes back.
    EXPECT_EQ(vellora({"new-day"}).exitCode, 0);
    EXPECT_EQ(json({"backlog"}).value("itemCount").toInt(), 1);
    EXPECT_EQ(vellora({"bring", medium.left(4)}).exitCode, 0);
    EXPECT_EQ(json({"today"}).value("items").toArray().first().toObject().value("id").toString(), medium);
}

TEST_F(CommandLineTest, BadInputChangesNothingAndSaysWhyInOneLine)
{
    addedId("first big", "big");
    const QString waiting = addedId("second big", "big"); // the block is full: it waits in the Backlog
    // Two ids that share their first four characters, to make a prefix ambiguous.
    const QString other = addedId("third", "small");
    const QByteArray before = storeBytes().replace(other.toUtf8(), (waiting.left(4) + other.mid(4)).toUtf8());
    QFile file(store);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
    file.close();

    const QList<QStringList> bad{
        {"frobnicate"},
        {"done", "0000FFFF"},
        {"done", waiting.left(4)},
        {"done", "ab"},
        {"done", "5.3"},
        {"done", "3.7"},
        {"add", "   "},
        {"edit", "1.0", "\n"},
        {"bring", waiting},
        {"bring", "1.0"},
        {"up", "1.0"},
        {"add", "x", "--block", "huge"},
        {"done"},
        {"today", "--bogus"},
    };
    for (const QStringList &arguments : bad) {
        const Outcome run = vellora(arguments);
        EXPECT_NE(run.exitCode, 0) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.startsWith("vellora: ")) << run.err.toStdString();
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
        EXPECT_EQ(storeBytes(), before) << arguments.join(' ').toStdString();
    }
    EXPECT_EQ(vellora({"frobnicate"}).exitCode, 2);
}

// Line breaks in a title join its lines as on the sheet; other control characters reach the terminal escaped, the
// ones that turn text around too, and JSON output stays JSON that reads back as the title.
TEST_F(CommandLineTest, ATitleIsOneLineAndControlCharactersReachTheTerminalEscaped)
{
    vellora({"add", "red \x1b[31mtext\x07"});
    vellora({"add", QString::fromUtf8("\r\nCall\r\n\nAnna\u2028back\n")});
    const QString turned = QString::fromUtf8("pay \u202Egnp.exe\u202C \u2067x\u2069 \u009B");
    vellora({"add", turned});
    const Outcome run = vellora({"today"});
    for (const char16_t raw : {u'\x1b', u'\x07', u'\u202E', u'\u202C', u'\u2067', u'\u2069', u'\u009B'})
        EXPECT_FALSE(run.out.contains(QChar(raw))) << int(raw);
    EXPECT_TRUE(run.out.contains("red \\x1b[31mtext\\x07")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("  3.0  Call Anna back\n")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("pay \\u202Egnp.exe\\u202C \\u2067x\\u2069 \\u009B")) << run.out.toStdString();
    const Outcome asJson = vellora({"today", "--json"});
    EXPECT_FALSE(asJson.out.contains(QChar(0x202E)));
    const QJsonArray items = QJsonDocument::fromJson(asJson.out.toUtf8()).object().value("items").toArray();
    ASSERT_EQ(items.size(), 3) << asJson.out.toStdString();
    EXPECT_EQ(items[2].toObject().value("title").toString(), turned.trimmed());
}

// One bad item costs only itself: the command runs on the others, keeps the whole old file aside, says so in one
// line and exits with a status of its own; the store is then whole again. A file that cannot be read at all is
// set aside with the same status.
TEST_F(CommandLineTest, AStoreWithOneBadItemKeepsTheOthersAndExitsWithItsOwnStatus)
{
    const struct
    {
        QStringList arguments;
        bool wholeFile;
        QStringList titles; // on Today afterwards
    } cases[] = {
        {{"today"}, false, {"Keep me"}},
        {{"add", "New", "--block", "big"}, false, {"Keep me", "New"}},
        {{"today"}, true, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QFile::remove(store);
        addedId("Keep me", "medium");
        const QString broken = addedId("Broken", "small");
        QJsonObject root = QJsonDocument::fromJson(storeBytes()).object();
        QJsonObject items = root.value("items").toObject();
        QJsonObject item = items.value(broken).toObject();
        item.insert("done", "yes");
        items.insert(broken, item);
        root.insert("items", items);
        const QByteArray bad = c.wholeFile ? QByteArray("{\"items\": ") : QJsonDocument(root).toJson();
        QFile file(store);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bad) == bad.size());
        file.close();

        const Outcome run = vellora(c.arguments);
        EXPECT_EQ(run.exitCode, 4);
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
        const QStringList aside = QDir(QFileInfo(store).path()).entryList({"store.json.unreadable-*"}, QDir::Files);
        ASSERT_EQ(aside.size(), 1);
        const QString asidePath = QFileInfo(store).path() + "/" + aside.first();
        EXPECT_TRUE(run.err.startsWith(c.wholeFile ? "vellora: the store file could not be read; it was kept as "
                                                   : "vellora: 1 item in the store file could not be read and was "
                                                     "left out; the file as it was is kept as "))
            << run.err.toStdString();
        EXPECT_TRUE(run.err.endsWith(asidePath + "\n")) << run.err.toStdString();
        QFile kept(asidePath);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), bad);
        ASSERT_TRUE(QFile::remove(asidePath));

        const Outcome again = vellora({"today", "--json"});
        EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
        QStringList titles;
        for (const QJsonValue &row : QJsonDocument::fromJson(again.out.toUtf8()).object().value("items").toArray())
            titles.append(row.toObject().value("title").toString());
        titles.sort();
        EXPECT_EQ(titles, c.titles);
    }

    // The window, opened on such a file, says the same in its note.
    QFile::remove(store);
    addedId("Keep me", "medium");
    QByteArray bytes = storeBytes();
    ASSERT_EQ(bytes.count("\"done\": false"), 1);
    bytes.replace("\"done\": false", "\"done\": 1");
    QFile file(store);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    file.close();
    startApp();
    EXPECT_TRUE(app->notice().startsWith("1 item in the store file could not be read and was left out; the file as it "
                                         "was is kept as " +
                                         store + ".unreadable-"))
        << app->notice().toStdString();
}

// A command that only reads makes no file and writes none: not the store it is pointed at, not a lock beside it,
// and not a store of an earlier day, which it shows as the new day the next change will write.
TEST_F(CommandLineTest, AReadingCommandNeverCreatesOrRewritesAFile)
{
    const QString own = store;
    QTemporaryDir empty;
    store = empty.filePath("missing.json");
    for (const QStringList &arguments : {QStringList{"today"}, {"backlog", "--json"}}) {
        const Outcome run = vellora(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    }
    EXPECT_EQ(QDir(empty.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    store = own;

    const QString id = addedId("From yesterday", "big");
    QByteArray bytes = storeBytes();
    const QString today = json({"today"}).value("day").toString();
    bytes.replace(("\"day\": \"" + today + "\"").toUtf8(), "\"day\": \"2020-01-01\"");
    bytes.replace(("\"shownDay\": \"" + today + "\"").toUtf8(), "\"shownDay\": \"2020-01-01\"");
    QFile file(store);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    file.close();
    EXPECT_TRUE(json({"today"}).value("items").toArray().isEmpty());
    EXPECT_EQ(json({"backlog"}).value("items").toArray().first().toObject().value("id").toString(), id);
    EXPECT_EQ(storeBytes(), bytes) << "read, not written";
    EXPECT_EQ(vellora({"add", "Today's"}).exitCode, 0);
    EXPECT_EQ(json({"backlog"}).value("items").toArray().first().toObject().value("id").toString(), id);
    EXPECT_FALSE(storeBytes().contains("2020-01-01")) << "the first change wrote the new day";
}

// The store, its lock or the runtime folder cannot be used, or the change cannot be saved: the command fails at
// once, says why in one line and changes nothing.
TEST_F(CommandLineTest, AStoreLockOrFolderThatCannotBeUsedChangesNothing)
{
    vellora({"add", "x"});
    const QByteArray before = storeBytes();
    const QString fifo = home.filePath("fifo"), lock = InstanceChannel::lockPathFor(store);
    const QString dangling = home.filePath("dangling"); // its folder is missing: the save fails
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(home.filePath("gone/store.json"), dangling));
    QTemporaryDir elsewhere;
    const QString open = elsewhere.filePath("open");
    ASSERT_TRUE(QDir().mkdir(open) && ::chmod(QFile::encodeName(open).constData(), 0755) == 0);
    std::unique_ptr<StoreLock> held;
    const struct
    {
        QString store;
        QStringList arguments, env;
        const char *why;
        std::function<void()> before;
    } cases[] = {
        {fifo, {"add", "y"}, {}, "nothing was changed", {}}, // a hang here ends in the harness's timeout
        {home.filePath("data"), {"add", "y"}, {}, "nothing was changed", {}},
        {dangling, {"add", "y"}, {}, "nothing was saved", {}},
        {store, {"add", "y"}, {"XDG_RUNTIME_DIR=" + open}, "refusing", {}},
        {store, {"toggle"}, {"XDG_RUNTIME_DIR=" + open}, "refusing", {}},
        // No process, however privileged, can open a folder as its lock file.
        {store, {"add", "y"}, {}, "lock file", [&] { ASSERT_TRUE(QFile::remove(lock) && QDir().mkdir(lock)); }},
        // However long held by an app that does not answer, the lock keeps every other writer out.
        {store, {"add", "y"}, {}, "in use", [&] {
             QDir().rmdir(lock);
             held = StoreLock::tryLock(lock);
             const struct timeval anHourAgo[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
             ASSERT_TRUE(held && utimes(QFile::encodeName(lock).constData(), anHourAgo) == 0);
         }},
    };
    const QString own = store;
    for (const auto &c : cases) {
        if (c.before)
            c.before();
        store = c.store;
        const Outcome run = vellora(c.arguments, c.env);
        SCOPED_TRACE((c.store + " " + c.arguments.join(' ') + " " + c.env.join(' ')).toStdString());
        EXPECT_NE(run.exitCode, 0);
        EXPECT_TRUE(run.err.startsWith("vellora: ") && run.err.contains(c.why)) << run.err.toStdString();
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
        store = own;
        EXPECT_EQ(storeBytes(), before);
    }
    EXPECT_TRUE(QDir(open).isEmpty()) << "nothing is made in a folder refused";
    EXPECT_TRUE(QFileInfo(home.filePath("data")).isDir());
}

// When only the flush of the folder fails, the new file is already in place: the command says so rather than that
// nothing was saved, after trying the whole write once more, which is a success when the flush works then.
TEST_F(CommandLineTest, AFolderThatCannotBeFlushedAfterTheChangeIsSaidApart)
{
    ASSERT_EQ(vellora({"add", "first"}).exitCode, 0);
    const QString folder = QFileInfo(store).absolutePath();

    const Outcome once = vellora({"add", "second"}, failingCalls("fsync:" + folder + ":1"));
    EXPECT_EQ(once.exitCode, 0) << once.err.toStdString();
    EXPECT_TRUE(titles().contains("second"));

    const Outcome always = vellora({"add", "third"}, failingCalls("fsync:" + folder));
    EXPECT_NE(always.exitCode, 0);
    EXPECT_TRUE(always.err.startsWith("vellora: the change is saved but the folder could not be flushed"))
        << always.err.toStdString();
    EXPECT_EQ(always.err.count('\n'), 1) << always.err.toStdString();
    EXPECT_TRUE(titles().contains("third"));
}

// A limit on the address space (ulimit -v 102400) leaves room for the window and for a command: the window starts
// and answers. (The address sanitizer reserves far more than the limit for itself.)
TEST_F(CommandLineTest, TheWindowAndACommandStartUnderA100MBAddressLimit)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit";
#endif
    const auto limited = [] {
        const rlimit limit{rlim_t(100) << 20, rlim_t(100) << 20};
        setrlimit(RLIMIT_AS, &limit);
    };
    QProcess *add = launch({"add", "Pay the rent"}, {}, {}, limited);
    ASSERT_TRUE(finished(add));
    EXPECT_EQ(add->exitCode(), 0) << add->readAllStandardError().toStdString();

    QProcess *window = launch({}, {}, {}, limited);
    EXPECT_TRUE(waitFor([&] { return window->state() == QProcess::NotRunning || vellora({"toggle"}).exitCode == 0; }));
    EXPECT_EQ(window->state(), QProcess::Running) << window->readAllStandardError().toStdString();
}
