#include "PageFixture.h"

#include "Vellora/Paper/PaperChoiceStyle.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Paper/PaperSwitch.h"
#include "Vellora/Shell/SettingsView.h"

#include <QAbstractButton>
#include <QScrollArea>
#include <QScrollBar>

namespace {

class SettingsViewTest : public PageFixture
{
protected:
    void SetUp() override
    {
        PageFixture::SetUp();
        open(Navigation::Page::settings);
    }

    QJsonObject stored() const
    {
        QFile file(dir.filePath("defaults.json"));
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    }
    PaperSwitch *toggle(const QString &name) const { return find<PaperSwitch>(name); }
    PaperLabel *label(const QString &name) const { return find<PaperLabel>(name); }
};

TEST_F(SettingsViewTest, NothingIsCutAndNoScrollBarShows)
{
    auto *scroll = find<QScrollArea>("settings.scroll");
    EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
    EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
}

TEST_F(SettingsViewTest, TurningOffTaskbarAndTrayTellsHowTheWindowComesBack)
{
    auto *note = label("settings.reachNote");
    auto *taskbar = find<QAbstractButton>("settings.dock");
    auto *tray = find<QAbstractButton>("settings.menuBar");
    auto setSwitch = [](QAbstractButton *control, bool on) {
        if (control->isChecked() != on)
            QTest::mouseClick(control, Qt::LeftButton);
    };
    for (const auto &[taskbarOn, trayOn] : {std::pair{true, true}, {false, true}, {true, false}, {false, false}}) {
        setSwitch(taskbar, taskbarOn);
        setSwitch(tray, trayOn);
        EXPECT_EQ(note->isVisible(), !taskbarOn && !trayOn) << taskbarOn << trayOn;
    }
    setSwitch(taskbar, true);
    EXPECT_FALSE(note->isVisible());
}

// Each choice writes its setting and is the one selected of its row; the preview stays where it is.
TEST_F(SettingsViewTest, ChoicesWriteTheirSettingsAndSelectOnlyThemselves)
{
    auto *preview = label("settings.preview");
    const int top = preview->y();
    const QStringList sizes{"settings.size.s", "settings.size.m", "settings.size.l"};
    const QStringList appearances{"settings.appearance.auto", "settings.appearance.light", "settings.appearance.dark"};
    struct Case
    {
        const char *choice;
        const char *key;
        const char *raw;
    };
    for (const Case &c : {Case{"settings.size.s", "textSize", "s"}, Case{"settings.size.l", "textSize", "l"},
                          Case{"settings.size.m", "textSize", "m"}, Case{"settings.size.m", "textSize", "m"},
                          Case{"settings.appearance.dark", "appearance", "dark"},
                          Case{"settings.appearance.auto", "appearance", "auto"}}) {
        SCOPED_TRACE(c.choice);
        click(c.choice);
        EXPECT_EQ(stored().value(c.key), QJsonValue(c.raw));
        EXPECT_EQ(preview->y(), top);
        for (const QString &other : QString(c.key) == "textSize" ? sizes : appearances)
            EXPECT_EQ(find<PaperChoiceStyle>(other)->selected(), other == c.choice) << other.toStdString();
    }
    EXPECT_EQ(settings->textSize(), Paper::TextSize::medium);
    EXPECT_EQ(settings->appearance(), Paper::Appearance::automatic);
}

TEST_F(SettingsViewTest, SwitchesWriteTheirSettingsAndFollowThem)
{
    EXPECT_TRUE(toggle("settings.dock")->isChecked());
    click("settings.dock");
    EXPECT_FALSE(settings->showInDock());
    EXPECT_EQ(stored().value("showInDock"), QJsonValue(false));
    EXPECT_EQ(dock.applied.last(), false);

    EXPECT_FALSE(toggle("settings.menuBar")->isChecked());
    click("settings.menuBar");
    EXPECT_TRUE(settings->showInMenuBar());
    EXPECT_EQ(stored().value("NSStatusItem Visible Item-0"), QJsonValue(true));

    // Changed elsewhere (the tray, another page): the switch follows.
    settings->setShowInMenuBar(false);
    EXPECT_FALSE(toggle("settings.menuBar")->isChecked());

    // The keyboard reaches a switch too.
    toggle("settings.dock")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(toggle("settings.dock"), Qt::Key_Space);
    EXPECT_TRUE(settings->showInDock());
}

TEST_F(SettingsViewTest, AFailedLoginChangeShowsTheNoteAndResetsTheSwitchUntilAChangeSucceeds)
{
    loginItems.failure = "Cannot write the autostart entry: Permission denied";
    click("settings.login");
    EXPECT_FALSE(toggle("settings.login")->isChecked());
    EXPECT_FALSE(settings->openAtLogin());
    auto *note = label("settings.loginNote");
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(note->text(), "Cannot write the autostart entry: Permission denied");

    loginItems.failure.reset();
    click("settings.login");
    EXPECT_TRUE(toggle("settings.login")->isChecked());
    EXPECT_TRUE(loginItems.enabled);
    EXPECT_FALSE(note->isVisible());
}

TEST_F(SettingsViewTest, StartANewDayRunsAtOnceAndThePageStays)
{
    SheetTest::putItem(*store, "Unfinished", Bucket::big, store->day(), 1);
    SheetTest::putItem(*store, "Done", Bucket::small, store->day(), 2, true);
    auto *view = qobject_cast<SettingsView *>(content->page());
    view->setClock([] { return SheetTest::fixedNow().addDays(1); });
    click("settings.newDay");
    EXPECT_EQ(store->backlogItems().size(), 1);
    EXPECT_EQ(store->saved().items.size(), 1u);
    EXPECT_EQ(nav.page(), Navigation::Page::settings);

    // An empty sheet: the operation still runs (the day moves on), the page stays.
    view->setClock([] { return SheetTest::fixedNow().addDays(2); });
    click("settings.newDay");
    EXPECT_EQ(store->day(), "2026-12-07");
    EXPECT_EQ(nav.page(), Navigation::Page::settings);
}

} // namespace
