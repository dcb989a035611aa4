#include "Vellora/Shell/AppSettings.h"

#include "Vellora/Platform/DockPresence.h"
#include "Vellora/Platform/FakeLoginItemService.h"
#include "Vellora/Platform/JsonSettingsFormat.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class RecordingDockPresence : public DockPresence
{
public:
    QList<bool> applied;
    void setShownInDock(bool shown) override { applied.append(shown); }
    bool isShownInDock() const override { return applied.value(applied.size() - 1, true); }
    void setWindow(QWindow *) override {}
};

// Every case reads its own file: QSettings keeps what it once read of a path for the rest of the process.
class AppSettingsTest : public testing::Test
{
protected:
    QTemporaryDir dir;
    QString path = dir.filePath("config/app.vellora.Vellora/defaults.json");
    std::unique_ptr<QSettings> defaults;
    FakeLoginItemService loginItems;
    RecordingDockPresence dock;

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

    QJsonObject fileObject() const { return QJsonDocument::fromJson(fileBytes()).object(); }
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
        {R"({"textSize": true, "appearance": "light", "showInDock": null})", medium, Paper::Appearance::light, true,
         false},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stored.toStdString());
        path = dir.filePath(QStringLiteral("%1/defaults.json").arg(++n)); // QSettings keeps what it read of a path
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

TEST_F(AppSettingsTest, EachAssignmentWritesAtOnceWithItsKindAndSignalsOnlyAChange)
{
    const auto settings = make(R"({"showInDock": "yes"})");
    QSignalSpy textSize(settings.get(), &AppSettings::textSizeChanged);
    QSignalSpy appearance(settings.get(), &AppSettings::appearanceChanged);
    QSignalSpy dockChanges(settings.get(), &AppSettings::showInDockChanged);

    settings->setTextSize(Paper::TextSize::medium); // the value it holds: written, not signalled
    EXPECT_EQ(fileObject().value("textSize"), QJsonValue("m"));
    EXPECT_EQ(textSize.count(), 0);
    settings->setTextSize(Paper::TextSize::small);
    EXPECT_EQ(textSize.count(), 1);

    settings->setAppearance(Paper::Appearance::dark);
    settings->setAppearance(Paper::Appearance::dark);
    EXPECT_EQ(appearance.count(), 1);

    settings->setShowInDock(true); // the wrong kind stored is overwritten with a boolean
    EXPECT_EQ(dockChanges.count(), 0);
    settings->setShowInDock(false);
    EXPECT_EQ(dockChanges.count(), 1);
    EXPECT_EQ(dock.applied, (QList<bool>{true, true, false})); // applied at creation and at every assignment

    const QJsonObject written = fileObject();
    EXPECT_EQ(written.value("textSize"), QJsonValue("s"));
    EXPECT_EQ(written.value("appearance"), QJsonValue("dark"));
    EXPECT_EQ(written.value("showInDock"), QJsonValue(false));
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

TEST_F(AppSettingsTest, TheTrayItemsVisibilityKeyIsSetOnlyWhenSwitchedOn)
{
    const auto settings = make(R"({"NSStatusItem Visible Item-0": false})");
    QSignalSpy changes(settings.get(), &AppSettings::showInMenuBarChanged);
    settings->setShowInMenuBar(false);
    EXPECT_EQ(fileObject().value("showInMenuBar"), QJsonValue(false));
    EXPECT_EQ(fileObject().value("NSStatusItem Visible Item-0"), QJsonValue(false));
    EXPECT_EQ(changes.count(), 0);

    settings->setShowInMenuBar(true);
    EXPECT_EQ(fileObject().value("showInMenuBar"), QJsonValue(true));
    EXPECT_EQ(fileObject().value("NSStatusItem Visible Item-0"), QJsonValue(true));
    settings->setShowInMenuBar(false);
    EXPECT_EQ(fileObject().value("NSStatusItem Visible Item-0"), QJsonValue(true));
    EXPECT_EQ(changes.count(), 2);
}

TEST_F(AppSettingsTest, AFailedLoginChangeFallsBackToWhatTheSystemSaysAndIsNeverStored)
{
    const auto settings = make();
    QSignalSpy opens(settings.get(), &AppSettings::openAtLoginChanged);
    loginItems.failure = "The autostart folder is read-only.";
    settings->setOpenAtLogin(true);
    EXPECT_FALSE(settings->openAtLogin());
    EXPECT_EQ(opens.count(), 2); // switched on, then back off

    loginItems.failure.reset();
    settings->setOpenAtLogin(true);
    settings->setOpenAtLogin(false);
    EXPECT_FALSE(loginItems.enabled);
    EXPECT_EQ(loginItems.unregisterCalls, 1);
    EXPECT_FALSE(fileObject().contains("openAtLogin")); // kept by the system only
}

TEST_F(AppSettingsTest, AssigningWhatTheSystemAlreadyReportsChangesNothingThere)
{
    const auto settings = make();
    loginItems.enabled = true; // switched on in the system's own settings meanwhile
    settings->setOpenAtLogin(true);
    EXPECT_TRUE(settings->openAtLogin());
    EXPECT_EQ(loginItems.registerCalls, 0);
    EXPECT_EQ(loginItems.unregisterCalls, 0);
}

TEST_F(AppSettingsTest, WithoutATaskbarPresenceTheValueIsStillStored)
{
    defaults = JsonSettingsFormat::open(path);
    AppSettings settings(*defaults, loginItems, nullptr);
    settings.setShowInDock(false);
    EXPECT_EQ(fileObject().value("showInDock"), QJsonValue(false));
}

} // namespace
