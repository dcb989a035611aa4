#include "PageFixture.h"

#include "Vellora/Paper/PaperChoiceStyle.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Paper/PaperSwitch.h"
#include "Vellora/Shell/SettingsView.h"

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
};

// With neither the taskbar entry nor the tray item, a note tells how the window comes back.
TEST_F(SettingsViewTest, SwitchesWriteTheirSettingsFollowThemAndSayWhenNothingIsLeft)
{
    auto *note = find<PaperLabel>("settings.reachNote");
    for (const auto &[taskbarOn, trayOn] : {std::pair{false, false}, {false, true}, {true, false}, {true, true}}) {
        if (toggle("settings.dock")->isChecked() != taskbarOn)
            click("settings.dock");
        if (toggle("settings.menuBar")->isChecked() != trayOn)
            click("settings.menuBar");
        EXPECT_EQ(note->isVisible(), !taskbarOn && !trayOn) << taskbarOn << trayOn;
        EXPECT_EQ(settings->showInDock(), taskbarOn);
        EXPECT_EQ(stored().value("showInDock"), QJsonValue(taskbarOn));
        EXPECT_EQ(dock.applied.last(), taskbarOn);
        EXPECT_EQ(settings->showInMenuBar(), trayOn);
    }
    // Changed elsewhere (the tray, another page): the switch follows. The tray's visibility key is only ever set.
    settings->setShowInMenuBar(false);
    EXPECT_FALSE(toggle("settings.menuBar")->isChecked());
    EXPECT_EQ(stored().value("showInMenuBar"), QJsonValue(false));
    EXPECT_EQ(stored().value("NSStatusItem Visible Item-0"), QJsonValue(true));
    // The keyboard reaches a switch too.
    toggle("settings.dock")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(toggle("settings.dock"), Qt::Key_Space);
    EXPECT_FALSE(settings->showInDock());
}

// Each choice writes its setting and is the one selected of its row; the preview stays where it is.
TEST_F(SettingsViewTest, ChoicesWriteTheirSettingsAndSelectOnlyThemselves)
{
    const int top = find<PaperLabel>("settings.preview")->y();
    const QStringList sizes{"settings.size.s", "settings.size.m", "settings.size.l"};
    const QStringList appearances{"settings.appearance.auto", "settings.appearance.light", "settings.appearance.dark"};
    for (const auto &[choice, key, raw] : {std::tuple{"settings.size.l", "textSize", "l"},
                                           {"settings.size.m", "textSize", "m"},
                                           {"settings.appearance.dark", "appearance", "dark"}}) {
        SCOPED_TRACE(choice);
        click(choice);
        EXPECT_EQ(stored().value(key), QJsonValue(raw));
        EXPECT_EQ(find<PaperLabel>("settings.preview")->y(), top);
        for (const QString &other : QString(key) == "textSize" ? sizes : appearances)
            EXPECT_EQ(find<PaperChoiceStyle>(other)->selected(), other == choice) << other.toStdString();
    }
    EXPECT_EQ(settings->textSize(), Paper::TextSize::medium);
    EXPECT_EQ(settings->appearance(), Paper::Appearance::dark);
}

// The system keeps the login item: a refused change shows why, the switch falls back to what the system says, and
// nothing of it is stored in the defaults.
TEST_F(SettingsViewTest, AFailedLoginChangeShowsTheNoteAndResetsTheSwitchUntilAChangeSucceeds)
{
    loginItems.failure = "Cannot write the autostart entry: Permission denied";
    click("settings.login");
    EXPECT_FALSE(toggle("settings.login")->isChecked());
    EXPECT_FALSE(settings->openAtLogin());
    auto *note = find<PaperLabel>("settings.loginNote");
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(note->text(), "Cannot write the autostart entry: Permission denied");

    loginItems.failure.reset();
    click("settings.login");
    EXPECT_TRUE(loginItems.enabled);
    EXPECT_FALSE(note->isVisible());
    click("settings.login");
    EXPECT_FALSE(loginItems.enabled);
    EXPECT_EQ(loginItems.unregisterCalls, 1);
    EXPECT_FALSE(stored().contains("openAtLogin"));
}

} // namespace
