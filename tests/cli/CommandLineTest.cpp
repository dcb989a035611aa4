#include "ProcessFixture.h"

#include <QRegularExpression>
#include <QStandardPaths>

#include <sys/stat.h>

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

    const QJsonObject backlog = json({"backlog"});
    const QJsonObject waiting = backlog.value("items").toArray().first().toObject();
    EXPECT_EQ(waiting.value("title").toString(), "task 9");
    EXPECT_EQ(waiting.value("bucket").toString(), "small");
    EXPECT_FALSE(waiting.value("hasRoom").toBool());
    EXPECT_TRUE(vellora({"backlog"}).out.contains("block full"));
}

TEST_F(CommandLineTest, TodayPrintsDateCountAndNineRows)
{
    vellora({"add", "Write the report", "--block", "big"});
    const QString id = addedId("Call Anna", "medium");
    vellora({"done", id});
    const QStringList lines = vellora({"today"}).out.split('\n');
    EXPECT_TRUE(lines[0].contains(QRegularExpression("^[A-Z][a-z]+day, [A-Z][a-z]+ \\d{1,2}$"))) << lines[0].toStdString();
    EXPECT_EQ(lines[1], "2 items");
    const QString text = lines.join('\n');
    EXPECT_TRUE(text.contains("1.0  Write the report\n"));
    EXPECT_TRUE(text.contains(QString("3.0  Call Anna \u2713")));
    EXPECT_TRUE(text.contains(QString("3.2  Medium\u2026")));
    EXPECT_TRUE(text.contains(QString("5.4  Small\u2026")));
    EXPECT_EQ(vellora({"backlog"}).out, "0 items\n");
}

TEST_F(CommandLineTest, ItemsAreNamedByIdPrefixOrRow)
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
}

TEST_F(CommandLineTest, NewDayAndBringBack)
{
    const QString done = addedId("done", "big");
    const QString open = addedId("open", "big");
    vellora({"done", done});
    EXPECT_EQ(vellora({"new-day"}).exitCode, 0);
    EXPECT_EQ(json({"backlog"}).value("itemCount").toInt(), 1);

    EXPECT_EQ(vellora({"bring", open.left(4)}).exitCode, 0);
    EXPECT_EQ(json({"today"}).value("items").toArray().first().toObject().value("id").toString(), open);
}

TEST_F(CommandLineTest, BadInputChangesNothingAndSaysWhyInOneLine)
{
    addedId("first big", "big");
    const QString waiting = addedId("second big", "big"); // the block is full: it waits in the Backlog
    // Two ids that share their first four characters, to make a prefix ambiguous.
    QByteArray bytes = storeBytes();
    const QString other = addedId("third", "small");
    bytes = storeBytes().replace(other.toUtf8(), (waiting.left(4) + other.mid(4)).toUtf8());
    {
        QFile file(store);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    const QByteArray before = storeBytes();

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

TEST_F(CommandLineTest, ALaterDayStartsANewDayAtTheNextCommand)
{
    const QString faketime = QStandardPaths::findExecutable("faketime");
    if (faketime.isEmpty())
        GTEST_SKIP() << "faketime is not installed";
    const QString done = addedId("done", "big");
    addedId("open", "medium");
    vellora({"done", done});

    Outcome run = vellora({"today", "--json"}, {}, {faketime, "-f", "+1d"});
    const QJsonObject tomorrow = QJsonDocument::fromJson(run.out.toUtf8()).object();
    EXPECT_EQ(tomorrow.value("itemCount").toInt(), 1);
    EXPECT_TRUE(tomorrow.value("items").toArray().isEmpty());
    EXPECT_EQ(json({"backlog"}).value("items").toArray().first().toObject().value("title").toString(), "open");
}

TEST_F(CommandLineTest, DayKeysFollowTheUsersCalendar)
{
    vellora({"add", "x"});
    const QString day = QJsonDocument::fromJson(vellora({"today", "--json"}, {"LANG=th_TH.UTF-8", "LC_ALL=", "LC_MESSAGES="}).out.toUtf8())
                            .object()
                            .value("day")
                            .toString();
    EXPECT_EQ(day.left(4).toInt(), QDate::currentDate().year() + 543) << day.toStdString();
}

TEST_F(CommandLineTest, UnreadableStoreIsSetAsideAndKept)
{
    QFile file(store);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{ not json");
    file.close();
    const Outcome run = vellora({"add", "fresh"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.err.contains("unreadable-")) << run.err.toStdString();
    const QStringList aside = QDir(dir.path()).entryList({"store.json.unreadable-*"});
    ASSERT_EQ(aside.size(), 1);
    QFile kept(dir.filePath(aside.first()));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "{ not json");
}

TEST_F(CommandLineTest, ALockThatCannotBeMadeFailsAtOnceAndClearly)
{
    vellora({"add", "x"});
    const QByteArray before = storeBytes();
    QFile::remove(lockPathFor(store));
    ASSERT_TRUE(QDir().mkdir(lockPathFor(store))); // no process, however privileged, can open it as a file
    const Outcome run = vellora({"add", "y"});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.err.contains("lock file") && run.err.contains("nothing was changed")) << run.err.toStdString();
    EXPECT_EQ(run.err.count('\n'), 1);
    EXPECT_EQ(storeBytes(), before);
}

TEST_F(CommandLineTest, AStorePathThatIsNoFileIsRefusedAtOnce)
{
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString device = dir.filePath("zero");
    ASSERT_TRUE(QFile::link("/dev/zero", device));
    for (const QString &path : {fifo, device, dir.path()}) {
        store = path;
        const Outcome run = vellora({"add", "x"}); // a hang here ends in the harness's timeout
        EXPECT_NE(run.exitCode, 0) << qPrintable(path);
        EXPECT_TRUE(run.err.contains("nothing was changed")) << run.err.toStdString();
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
    }
    EXPECT_TRUE(QFileInfo(dir.path()).isDir());
    EXPECT_TRUE(QFileInfo(device).isSymLink());
}

TEST_F(CommandLineTest, WithoutAHomeTheCommandSaysWhatIsMissing)
{
    QProcess process;
    QProcessEnvironment environment;
    environment.insert("XDG_RUNTIME_DIR", env.dir.path());
    process.setProcessEnvironment(environment);
    process.start(VELLORA_BINARY, {"add", "x"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_NE(process.exitCode(), 0);
    EXPECT_TRUE(process.readAllStandardError().contains("HOME"));
}

TEST_F(CommandLineTest, ControlCharactersReachTheTerminalEscaped)
{
    vellora({"add", "red \x1b[31mtext\x07"});
    const Outcome run = vellora({"today"});
    EXPECT_FALSE(run.out.contains(QChar(0x1b)));
    EXPECT_FALSE(run.out.contains(QChar(0x07)));
    EXPECT_TRUE(run.out.contains("red \\x1b[31mtext\\x07")) << run.out.toStdString();
}

// The disk fills up for real: a small file system of its own, so that nothing else on the machine is touched.
TEST_F(CommandLineTest, AFullDiskKeepsTheStoreAndFailsTheCommand)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    const QString mount = dir.filePath("small");
    ASSERT_TRUE(QDir().mkdir(mount));
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=200k", "tmpfs", mount}) != 0)
        GTEST_SKIP() << "this machine does not let the test mount a tmpfs";
    struct Unmount
    {
        QString path;
        ~Unmount() { QProcess::execute("umount", {"-l", path}); }
    } unmount{mount};

    store = mount + "/vellora.json";
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(vellora({"add", QString("task %1").arg(i)}).exitCode, 0);
    const QByteArray before = storeBytes();
    {
        QFile fill(mount + "/fill");
        ASSERT_TRUE(fill.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'x');
        while (fill.write(block) == block.size()) {
        }
    }
    const Outcome full = vellora({"add", "one too many"});
    EXPECT_NE(full.exitCode, 0);
    EXPECT_TRUE(full.err.contains("disk full")) << full.err.toStdString();
    EXPECT_TRUE(full.out.isEmpty());
    EXPECT_EQ(storeBytes(), before);
    EXPECT_TRUE(QDir(mount).entryList({"*.tmp-*"}, QDir::Files | QDir::Hidden).isEmpty());

    QFile::remove(mount + "/fill");
    EXPECT_EQ(vellora({"add", "room again"}).exitCode, 0);
    EXPECT_EQ(json({"today"}).value("itemCount").toInt(), 6);
}

TEST_F(CommandLineTest, ARuntimeFolderThatIsNotTheUsersAloneIsRefused)
{
    QTemporaryDir elsewhere;
    const QString open = elsewhere.filePath("open");
    ASSERT_TRUE(QDir().mkdir(open));
    ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 0755), 0);
    const QString linked = elsewhere.filePath("linked");
    ASSERT_TRUE(QFile::link(env.dir.path(), linked));
    for (const QString &folder : {open, linked}) {
        for (const QStringList &arguments : {QStringList{"add", "x"}, QStringList{"today"}, QStringList{"toggle"}}) {
            const Outcome run = vellora(arguments, {"XDG_RUNTIME_DIR=" + folder});
            SCOPED_TRACE((folder + ": " + arguments.join(' ')).toStdString());
            EXPECT_EQ(run.exitCode, 1);
            EXPECT_TRUE(run.err.startsWith("vellora: ") && run.err.contains(folder) && run.err.contains("refusing"))
                << run.err.toStdString();
            EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
            EXPECT_FALSE(QFile::exists(store));
            EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList())
                << "nothing is made in it";
        }
    }
}

TEST_F(CommandLineTest, ATitleOfOverAThousandCharactersIsRefused)
{
    const QString id = addedId("short", "big");
    ASSERT_FALSE(id.isEmpty());
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    struct Case
    {
        QStringList arguments;
        bool accepted;
    };
    const std::vector<Case> cases{
        {{"add", QString(1000, 'a')}, true},
        {{"add", QString(1001, 'a')}, false},
        {{"add", emoji.repeated(1000)}, true}, // characters, not UTF-16 units
        {{"add", emoji.repeated(1001)}, false},
        {{"add", QString(100000, 'a')}, false}, // within what a program may be given (128 KiB an argument)
        {{"edit", id, QString(1000, 'e')}, true},
        {{"edit", id, QString(1001, 'e')}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE((c.arguments.first() + " of " + QString::number(c.arguments.last().size()) + " UTF-16 units")
                         .toStdString());
        const QByteArray before = storeBytes();
        const Outcome run = vellora(c.arguments);
        if (c.accepted) {
            EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
            EXPECT_TRUE(storeBytes().contains(c.arguments.last().toUtf8()));
        } else {
            EXPECT_EQ(run.exitCode, 2);
            EXPECT_EQ(run.err, "vellora: the text is longer than 1000 characters\n");
            EXPECT_EQ(storeBytes(), before);
        }
    }
}
