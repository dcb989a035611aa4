#include "ShellFixture.h"

namespace {

// Every case reads its own file: QSettings keeps what it once read of a path for the rest of the process.
class AppSettingsTest : public testing::Test
{
protected:
    QTemporaryDir dir;
    QString path = dir.filePath("config/app.vellora.Vellora/defaults.json");
    std::unique_ptr<QSettings> defaults;
    FakeLoginItemService loginItems;
    ShellTest::RecordingDockPresence dock;

    std::unique_ptr<AppSettings> make(const QByteArray &stored = {})
    {
        if (!stored.isNull()) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile file(path);
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(stored);
        }
        defaults = JsonSettingsFormat::open(path);
        return std::make_unique<AppSettings>(*defaults, loginItems, &dock);
    }

    QByteArray fileBytes() const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

};

// Only a value of the right kind and an exact known text is read; anything else reads as the default. Reading
// writes nothing back.
TEST_F(AppSettingsTest, StoredValuesAreReadOnlyWhenOfTheirKind)
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
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stored.toStdString());
        path = dir.filePath(QStringLiteral("%1/defaults.json").arg(++n));
        dock.applied.clear();
        const auto settings = make(c.stored);
        EXPECT_EQ(settings->textSize(), c.textSize);
        EXPECT_EQ(settings->appearance(), c.appearance);
        EXPECT_EQ(settings->showInDock(), c.dock);
        EXPECT_EQ(settings->showInMenuBar(), c.tray);
        EXPECT_EQ(dock.applied, QList<bool>{c.dock}); // the taskbar entry as stored, from the start
        defaults->sync();
        EXPECT_EQ(fileBytes(), c.stored);
    }
    EXPECT_EQ(loginItems.registerCalls + loginItems.unregisterCalls, 0);
}

TEST_F(AppSettingsTest, AFileThatCannotBeWrittenIsSaidAndTheNextGoodWriteClearsIt)
{
    // A file where the settings' folder should be: no process, however privileged, can write below it.
    QDir().mkpath(dir.filePath("config"));
    QFile blocker(dir.filePath("config/app.vellora.Vellora"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    auto settings = make();
    settings->setShowInDock(false);
    ASSERT_TRUE(settings->saveError());
    EXPECT_TRUE(settings->saveError()->contains("defaults.json"));
    EXPECT_FALSE(settings->showInDock()) << "the value holds for this run";

    ASSERT_TRUE(QFile::remove(dir.filePath("config/app.vellora.Vellora")));
    settings->setShowInDock(true);
    EXPECT_FALSE(settings->saveError());
}

} // namespace
