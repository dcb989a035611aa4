#include "ShellFixture.h"

namespace {

// Only a value of the right kind and an exact known text is read; anything else reads as the default. Reading
// writes nothing back.
TEST(AppSettingsTest, StoredValuesAreReadOnlyWhenOfTheirKind)
{
    struct Case
    {
        QByteArray stored; // null: no file
        Paper::TextSize textSize;
        Paper::Appearance appearance;
        bool dock, tray;
    };
    using enum Paper::TextSize;
    const QList<Case> cases{
        {QByteArray(), medium, Paper::Appearance::automatic, true, false},
        {R"({"textSize": "l", "appearance": "dark", "showInDock": false, "showInMenuBar": true})", large,
         Paper::Appearance::dark, false, true},
        {R"({"textSize": "xl", "appearance": "Dark", "showInDock": "false", "showInMenuBar": 1})", medium,
         Paper::Appearance::automatic, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stored.toStdString());
        ShellTest::AppEnvironment env; // a path of its own: QSettings keeps what it once read of a path
        if (!c.stored.isNull())
            env.writeDefaults(c.stored);
        const auto defaults = JsonSettingsFormat::open(env.defaultsPath);
        FakeLoginItemService loginItems;
        ShellTest::RecordingDockPresence dock;
        const AppSettings settings(*defaults, loginItems, &dock);
        EXPECT_EQ(settings.textSize(), c.textSize);
        EXPECT_EQ(settings.appearance(), c.appearance);
        EXPECT_EQ(settings.showInDock(), c.dock);
        EXPECT_EQ(settings.showInMenuBar(), c.tray);
        EXPECT_EQ(dock.applied, QList<bool>{c.dock}); // the taskbar entry as stored, from the start
        EXPECT_EQ(loginItems.registerCalls + loginItems.unregisterCalls, 0);
        defaults->sync();
        QFile file(env.defaultsPath);
        EXPECT_EQ(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), c.stored);
    }
}

TEST(AppSettingsTest, AFileThatCannotBeWrittenIsSaidAndTheNextGoodWriteClearsIt)
{
    // A file where the settings' folder should be: no process, however privileged, can write below it.
    ShellTest::AppEnvironment env;
    const QString folder = QFileInfo(env.defaultsPath).absolutePath();
    QDir().mkpath(QFileInfo(folder).absolutePath());
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto defaults = JsonSettingsFormat::open(env.defaultsPath);
    FakeLoginItemService loginItems;
    AppSettings settings(*defaults, loginItems, nullptr);
    settings.setShowInDock(false);
    ASSERT_TRUE(settings.saveError());
    EXPECT_TRUE(settings.saveError()->contains("defaults.json"));
    EXPECT_FALSE(settings.showInDock()) << "the value holds for this run";

    ASSERT_TRUE(QFile::remove(folder));
    settings.setShowInDock(true);
    EXPECT_FALSE(settings.saveError());
}

} // namespace
