#include "ShellFixture.h"

#include "tests/Sheet/SheetTestSupport.h"

#include "Vellora/Paper/PaperChoiceStyle.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Paper/PaperSheet.h"
#include "Vellora/Paper/PaperSwitch.h"
#include "Vellora/Sheet/BacklogView.h"
#include "Vellora/Sheet/NoteBar.h"
#include "Vellora/Sheet/SheetView.h"
#include "Vellora/Sheet/SlotRow.h"
#include "Vellora/Shell/ContentView.h"
#include "Vellora/Shell/Navigation.h"
#include "Vellora/Shell/SettingsView.h"

#include <QDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>

namespace {

using Page = Navigation::Page;

// The root view in a main window, on a store in memory and settings in a file of their own.
class PagesTest : public testing::Test
{
protected:
    void SetUp() override { Paper::setAnimationsEnabled(false); }
    void TearDown() override
    {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void open(Page page = Page::today)
    {
        nav.setPage(page);
        window = std::make_unique<QMainWindow>();
        content = new ContentView(*store, *settings, nav, desktop.get());
        content->setShortcutControlFactory(shortcutControl);
        window->setCentralWidget(content);
        window->resize(430, 900);
        ASSERT_TRUE(ShellTest::activate(window.get()));
        ShellTest::settle();
    }

    template<typename T> T *find(const QString &name) const { return window->findChild<T *>(name); }
    PaperSwitch *toggle(const QString &name) const { return find<PaperSwitch>(name); }
    QJsonObject stored() const
    {
        QFile file(dir.filePath("defaults.json"));
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    }

    void click(const QString &name)
    {
        auto *widget = find<QWidget>(name);
        ASSERT_NE(widget, nullptr) << name.toStdString();
        // Scrolled into view first, as a user would.
        if (auto *scroll = find<QScrollArea>(QStringLiteral("settings.scroll")); scroll && scroll->isAncestorOf(widget))
            scroll->ensureWidgetVisible(widget);
        QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
        ShellTest::settle();
    }

    QTemporaryDir dir;
    std::unique_ptr<DayStore> store = SheetTest::makeStore();
    std::unique_ptr<QSettings> defaults = JsonSettingsFormat::open(dir.filePath("defaults.json"));
    FakeLoginItemService loginItems;
    ShellTest::RecordingTaskbarEntry dock;
    std::unique_ptr<AppSettings> settings = std::make_unique<AppSettings>(*defaults, loginItems, &dock);
    std::unique_ptr<DesktopColorScheme> desktop = ShellTest::desktopWithoutPortal();
    Navigation nav;
    SettingsView::ShortcutControlFactory shortcutControl;
    std::unique_ptr<QMainWindow> window;
    ContentView *content = nullptr;
};

TEST_F(PagesTest, EachPageIsBuiltAtOnceWithTheSettingsOfTheMoment)
{
    open();
    // The buttons switch from inside their own clicks; the page they belong to goes away meanwhile.
    click("sheet.backlog");
    EXPECT_NE(qobject_cast<BacklogView *>(content->page()), nullptr);
    click("backlog.today");
    EXPECT_EQ(nav.page(), Page::today);
    click("sheet.settings");
    ASSERT_NE(qobject_cast<SettingsView *>(content->page()), nullptr);
    click("settings.size.l");
    click("settings.close");
    ASSERT_NE(qobject_cast<SheetView *>(content->page()), nullptr);
    EXPECT_EQ(qobject_cast<SheetView *>(content->page())->textSize(), Paper::TextSize::large); // built anew
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->findChildren<PaperSheet *>().size(), 1); // the pages left behind are gone
}

// Escape, with any modifiers, shows Today; on Today the page is not built again.
TEST_F(PagesTest, EscapeShowsToday)
{
    for (Page page : {Page::backlog, Page::settings, Page::today}) {
        for (Qt::KeyboardModifiers modifiers : {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ShiftModifier)}) {
            open(page);
            QWidget *shown = content->page();
            QWidget *focused = page == Page::backlog    ? find<QWidget>("backlog.today")
                               : page == Page::settings ? find<QWidget>("settings.close")
                                                        : shown;
            focused->setFocus(Qt::TabFocusReason);
            QTest::keyClick(focused, Qt::Key_Escape, modifiers);
            ShellTest::settle();
            EXPECT_EQ(nav.page(), Page::today) << int(page);
            EXPECT_TRUE(page != Page::today || content->page() == shown); // not built again
        }
    }
}

// A row being edited, a dialog and its fields, a menu and a modal question take Escape themselves.
TEST_F(PagesTest, WhatTakesEscapeItselfKeepsThePage)
{
    open(Page::today);
    SlotRow *row = qobject_cast<SheetView *>(content->page())->row("slot.3.0");
    row->beginEditing();
    ShellTest::settle();
    QTest::keyClicks(QApplication::focusWidget(), "Half typed");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    ShellTest::settle();
    EXPECT_FALSE(row->isEditing());
    EXPECT_TRUE(store->itemsIn(Block::medium).isEmpty());

    // Typed on a full sheet, the text waiting in the note is taken back, and the page stays.
    for (Block block : kAllBlocks) {
        for (int i = 0; i < capacity(block); ++i)
            store->addItem(QString("Task %1").arg(i), block);
    }
    ShellTest::settle();
    content->page()->setFocus();
    QTest::keyClicks(QApplication::focusWidget(), "Held");
    ASSERT_FALSE(content->notes()->note().isEmpty());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ShellTest::settle();
    EXPECT_EQ(content->notes()->note(), "");
    EXPECT_TRUE(store->backlogItems().isEmpty());

    nav.setPage(Page::backlog);
    QDialog other;
    auto *button = new QPushButton("OK", &other);
    auto *edit = new QLineEdit(&other);
    edit->move(0, 40);
    ASSERT_TRUE(ShellTest::activate(&other));
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Escape);
    ShellTest::settle();
    EXPECT_EQ(nav.page(), Page::backlog);
    EXPECT_FALSE(other.isVisible()); // closed by it
    ASSERT_TRUE(ShellTest::activate(&other));
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(nav.page(), Page::backlog);

    QMenu menu;
    menu.addAction("Something");
    QDialog question(window.get());
    const QList<std::pair<QWidget *, std::function<void()>>> popups{
        {&menu, [&] { menu.popup(window->mapToGlobal(QPoint(40, 40))); }}, {&question, [&] { question.open(); }}};
    for (const auto &[popup, show] : popups) {
        show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(popup));
        QTest::keyClick(popup, Qt::Key_Escape);
        ASSERT_TRUE(waitFor([&] { return !popup->isVisible(); }));
        EXPECT_EQ(nav.page(), Page::backlog);
    }
}

// A view off screen, or gone, leaves Escape to other windows, also when it was put on screen twice.
TEST_F(PagesTest, TheFilterLivesExactlyWhileTheViewIsOnScreen)
{
    open(Page::backlog);
    QShowEvent again;
    QCoreApplication::sendEvent(content, &again);
    for (const bool gone : {false, true}) {
        gone ? window.reset() : window->hide();
        QDialog other;
        ASSERT_TRUE(ShellTest::activate(&other));
        QTest::keyClick(&other, Qt::Key_Escape);
        EXPECT_EQ(nav.page(), Page::backlog);
        if (!gone) {
            ASSERT_TRUE(ShellTest::activate(window.get()));
            EXPECT_TRUE(content->isEscapeFilterInstalled());
        }
    }
}

TEST_F(PagesTest, AutoFollowsTheDesktopLiveAndAForcedAppearanceDoesNot)
{
    const QPalette original = QGuiApplication::palette();
    open(Page::settings);
    for (const char *choice : {"settings.appearance.auto", "settings.appearance.light"}) {
        click(choice);
        QGuiApplication::setPalette(Paper::qtPalette(Paper::Scheme::dark)); // the desktop turns dark
        ShellTest::settle();
        const auto expected = QString(choice).endsWith("auto") ? Paper::Scheme::dark : Paper::Scheme::light;
        EXPECT_EQ(Paper::schemeOf(content->page()), expected) << choice;
        EXPECT_EQ(Paper::schemeOf(find<QWidget>("settings.preview")), expected) << choice;
        QGuiApplication::setPalette(original);
        ShellTest::settle();
    }
}

// With neither the taskbar entry nor the tray item, a note tells how the window comes back.
TEST_F(PagesTest, SettingsSwitchesWriteTheirSettingsFollowThemAndSayWhenNothingIsLeft)
{
    open(Page::settings);
    auto *note = find<PaperLabel>("settings.reachNote");
    for (const auto &[taskbarOn, trayOn] : {std::pair{false, false}, {false, true}, {true, false}, {true, true}}) {
        if (toggle("settings.dock")->isChecked() != taskbarOn)
            click("settings.dock");
        if (toggle("settings.menuBar")->isChecked() != trayOn)
            click("settings.menuBar");
        EXPECT_EQ(note->isVisible(), !taskbarOn && !trayOn) << taskbarOn << trayOn;
        EXPECT_EQ(stored().value("showTaskbarEntry"), QJsonValue(taskbarOn));
        EXPECT_EQ(dock.applied.last(), taskbarOn);
        EXPECT_EQ(settings->showTrayIcon(), trayOn);
    }
    // Changed elsewhere (the tray, another page): the switch follows.
    settings->setShowTrayIcon(false);
    EXPECT_FALSE(toggle("settings.menuBar")->isChecked());
    EXPECT_EQ(stored().value("showTrayIcon"), QJsonValue(false));
    // The keyboard reaches a switch too.
    toggle("settings.dock")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(toggle("settings.dock"), Qt::Key_Space);
    EXPECT_FALSE(settings->showTaskbarEntry());
}

// Each choice writes its setting and is the one selected of its row; the preview stays where it is.
TEST_F(PagesTest, SettingsChoicesWriteTheirSettingsAndSelectOnlyThemselves)
{
    open(Page::settings);
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
TEST_F(PagesTest, SettingsAFailedLoginChangeShowsTheNoteAndResetsTheSwitchUntilAChangeSucceeds)
{
    open(Page::settings);
    loginItems.failure = "Cannot write the autostart entry: Permission denied";
    click("settings.login");
    EXPECT_FALSE(toggle("settings.login")->isChecked());
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
