#include "XClient.h"

#include "tests/Shell/ShellFixture.h"

#include "Vellora/Platform/TaskbarEntry.h"
#include "Vellora/Shell/ToggleShortcut.h"

#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/HotKeyCenter.h"
#include "GlobalShortcuts/Recorder.h"
#include "GlobalShortcuts/X11HotKeyBackend.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QWindow>

// The app on a real X server, with trayer as the tray where a test needs one and xdotool as the user's keys and
// pointer; a second X connection (XClient) looks at the windows as the tray does, and plays another application.

namespace {

const GlobalShortcuts::Shortcut kCtrlShiftD(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_D);

// The window in which Qt shows a tray icon on X11; none while the icon is hidden.
QWidget *trayIconWindow()
{
    const QWidgetList all = QApplication::topLevelWidgets();
    const auto icon = std::ranges::find_if(all, [](QWidget *w) { return w->inherits("QSystemTrayIconSys"); });
    return icon == all.end() ? nullptr : *icon;
}

class ShellX11Test : public testing::Test
{
protected:
    void SetUp() override
    {
        Paper::setAnimationsEnabled(false);
        ASSERT_TRUE(x.ok());
    }

    void TearDown() override { app.reset(); } // before the tray, which QProcess kills as it goes

    void startTray()
    {
        tray.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
                              "--transparent", "false"});
        ASSERT_TRUE(tray.waitForStarted()) << "trayer is missing (scripts/install-deps installs it)";
        ASSERT_TRUE(waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); })) << "no tray";
    }

    void launch()
    {
        app = std::make_unique<VelloraApp>(env.options({"-uitests"}));
        ASSERT_EQ(app->start(), VelloraApp::Start::running);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(app->window().mainWindow()));
        ASSERT_TRUE(waitFor([&] { return app->window().isLaunchFinished(); }));
    }

    // Right-clicks the tray item until its menu shows: the first click can land before the tray has placed it.
    bool openTrayMenu()
    {
        QMenu *menu = app->window().trayMenu();
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (!clickAt(x.centreOnScreen(xcb_window_t(trayIconWindow()->winId())), 3))
                return false;
            if (waitFor([&] { return menu->isVisible(); }, 3000))
                return true;
        }
        return false;
    }

    bool iconInTray() // inside the tray's window, and on screen
    {
        QWidget *icon = trayIconWindow();
        return icon && x.parentOf(xcb_window_t(icon->winId())) != x.root() && x.isViewable(xcb_window_t(icon->winId()));
    }

    XClient x;
    QProcess tray;
    ShellTest::AppEnvironment env;
    std::unique_ptr<VelloraApp> app;
};

TEST_F(ShellX11Test, TheTrayItemIsInTheTrayExactlyWhileTheSettingIsOn)
{
    startTray();
    env.writeDefaults(R"({"showTrayIcon": true})");
    launch();
    ASSERT_TRUE(waitFor([&] { return iconInTray(); })) << "the icon was not embedded";

    app->settings().setShowTrayIcon(false);
    ASSERT_TRUE(waitFor([&] { return !iconInTray(); }));
    app->settings().setShowTrayIcon(true);
    ASSERT_TRUE(waitFor([&] { return iconInTray(); }));

    // The right button opens the item's menu, and a click on an entry carries it out.
    QMenu *menu = app->window().trayMenu();
    ASSERT_TRUE(openTrayMenu());
    QAction *backlog = menu->actions().at(1);
    ASSERT_EQ(backlog->text(), "Backlog");
    ASSERT_TRUE(clickAt(menu->mapToGlobal(menu->actionGeometry(backlog).center())));
    ASSERT_TRUE(waitFor([&] { return app->nav().page() == Navigation::Page::backlog; }));

    // Hiding the app leaves the tray item where it is.
    app->window().mainWindow()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(app->window().mainWindow()));
    app->window().toggleWindow();
    ASSERT_TRUE(waitFor([&] { return !x.isViewable(xcb_window_t(app->window().mainWindow()->winId())); }));
    EXPECT_TRUE(iconInTray());

    // A left click on the item shows the hidden window, and hides it again once it is in front.
    const QPoint icon = x.centreOnScreen(xcb_window_t(trayIconWindow()->winId()));
    for (bool shown : {true, false}) {
        ASSERT_TRUE(clickAt(icon));
        ASSERT_TRUE(waitFor([&] { return x.isViewable(xcb_window_t(app->window().mainWindow()->winId())) == shown; }));
        if (shown) {
            ASSERT_TRUE(QTest::qWaitForWindowActive(app->window().mainWindow()));
        }
    }
}

// The app's hot key on the real X server. F9, taken by the test, marks the end of what was typed before it.
class HotKeyX11Test : public ShellX11Test
{
protected:
    void SetUp() override
    {
        ShellX11Test::SetUp();
        launch();
        ASSERT_TRUE(GlobalShortcuts::isRegistered(ToggleShortcut::name()));
        GlobalShortcuts::onKeyDown(ToggleShortcut::name(), [this] { ++keyDowns; });
        GlobalShortcuts::storeShortcut(QKeyCombination(Qt::Key_F9), marker);
        GlobalShortcuts::onKeyUp(marker, [this] { ++markers; });
    }

    void TearDown() override
    {
        GlobalShortcuts::RecorderField::setAlertPresenter({});
        ShellX11Test::TearDown();
        GlobalShortcuts::removeAllActions();
    }

    void settle()
    {
        const int expected = markers + 1;
        ASSERT_TRUE(xdotool({"key", "F9"}));
        ASSERT_EVENTUALLY(markers == expected);
    }

    bool shown() { return x.isViewable(xcb_window_t(app->window().mainWindow()->winId())); }

    const GlobalShortcuts::Name marker{QStringLiteral("x11TestMarker")};
    int keyDowns = 0;
    int markers = 0;
};

// Once for a held key, on its release: a window behind another application comes forward; one in front is hidden,
// also while a menu of the app is open and when the modifiers are let go before the letter.
TEST_F(HotKeyX11Test, TheToggleRunsOnReleaseAndOnceForAHeldKey)
{
    auto *backend =
        dynamic_cast<GlobalShortcuts::X11HotKeyBackend *>(&GlobalShortcuts::HotKeyCenter::shared().backend());
    ASSERT_TRUE(backend);
    ASSERT_TRUE(x.takeFocus());
    ASSERT_EVENTUALLY(QGuiApplication::focusWindow() == nullptr);
    ASSERT_TRUE(xdotool({"keydown", "ctrl+shift+d"}));
    ASSERT_EVENTUALLY(keyDowns == 1);
    // Held long enough for the keyboard to repeat the key; the repeats come as presses of a held key only with XKB's
    // detectable auto-repeat (else each comes with a release, which would toggle again).
    ASSERT_EVENTUALLY(backend->ignoredRepeatCount() >= 3);
    EXPECT_EQ(QGuiApplication::focusWindow(), nullptr);
    ASSERT_TRUE(xdotool({"keyup", "ctrl+shift+d"}));
    ASSERT_EVENTUALLY(QGuiApplication::focusWindow() != nullptr);
    settle();
    EXPECT_EQ(keyDowns, 1);
    EXPECT_TRUE(shown()); // a second toggle would have hidden it again

    QMenuBar *bar = app->window().mainWindow()->menuBar();
    QAction *first = bar->actions().constFirst();
    ASSERT_TRUE(clickAt(bar->mapToGlobal(bar->actionGeometry(first).center())));
    ASSERT_EVENTUALLY(first->menu()->isVisible());
    EXPECT_TRUE(GlobalShortcuts::HotKeyCenter::shared().isMenuOpen());
    ASSERT_TRUE(xdotool({"keydown", "ctrl+shift+d"}));
    ASSERT_EVENTUALLY(keyDowns == 2);
    ASSERT_TRUE(xdotool({"keyup", "ctrl+shift"}));
    ASSERT_TRUE(xdotool({"keyup", "d"}));
    ASSERT_EVENTUALLY(!shown());
    settle();
    EXPECT_FALSE(shown());
}

// While recording, the recorder holds the keyboard, so a combination another application grabbed reaches it; the
// app says so, and a shortcut forced anyway is reported as not registered.
TEST_F(HotKeyX11Test, ACombinationAnotherApplicationGrabbedIsASystemShortcut)
{
    const GlobalShortcuts::Shortcut ctrlAltK(Qt::ControlModifier | Qt::AltModifier, Qt::Key_K);
    ASSERT_TRUE(x.grab('k', XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
    QList<GlobalShortcuts::Alert> alerts;
    GlobalShortcuts::RecorderField::setAlertPresenter([&](QWidget *, const GlobalShortcuts::Alert &alert) {
        alerts.append(alert);
        return alerts.size() == 1 ? 0 : 1; // OK, then Use Anyway
    });
    QSignalSpy failures(&GlobalShortcuts::notifier(), &GlobalShortcuts::Notifier::registrationFailed);
    app->window().openPage(Navigation::Page::settings);
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", QString::number(app->window().mainWindow()->winId())}));
    ASSERT_EVENTUALLY(app->window().mainWindow()->isActiveWindow());
    auto *field = app->window().mainWindow()->findChild<GlobalShortcuts::RecorderField *>();
    app->window().mainWindow()->findChild<QScrollArea *>("settings.scroll")->ensureWidgetVisible(field);
    ASSERT_TRUE(clickAt(field->mapToGlobal(field->rect().center())));
    ASSERT_EVENTUALLY(field->isRecording());

    ASSERT_TRUE(xdotool({"key", "ctrl+alt+k"}));
    ASSERT_EVENTUALLY(alerts.size() == 1);
    EXPECT_EQ(alerts[0].buttons, (QStringList{"OK", "Use Anyway"}));
    EXPECT_EQ(GlobalShortcuts::storedShortcut(ToggleShortcut::name()), kCtrlShiftD);
    ASSERT_EVENTUALLY(field->isRecording());
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+k"}));
    ASSERT_EVENTUALLY(GlobalShortcuts::storedShortcut(ToggleShortcut::name()) == std::optional(ctrlAltK));
    EXPECT_EQ(alerts.size(), 2);
    EXPECT_FALSE(GlobalShortcuts::isRegistered(ToggleShortcut::name()));
    EXPECT_FALSE(failures.isEmpty());
}

// The taskbar's view of a window: its _NET_WM_STATE property, and the requests a window manager receives.
TEST(TaskbarEntryX11Test, TheTaskbarEntryFollowsTheSettingAtEveryShowingAndWhileShown)
{
    XClient x;
    QWindow window;
    const std::unique_ptr<TaskbarEntry> presence = makeTaskbarEntry();
    const auto skipsTaskbarAndPager = [&] {
        const bool taskbar = x.hasState(xcb_window_t(window.winId()), "_NET_WM_STATE_SKIP_TASKBAR");
        EXPECT_EQ(taskbar, x.hasState(xcb_window_t(window.winId()), "_NET_WM_STATE_SKIP_PAGER"));
        return taskbar;
    };
    const auto show = [&] {
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    };
    window.setFlag(Qt::WindowStaysOnTopHint); // a state of its own, which is kept
    presence->setShownInTaskbar(false);
    presence->setWindow(&window);
    ASSERT_TRUE(show());
    EXPECT_TRUE(skipsTaskbarAndPager());
    EXPECT_TRUE(x.hasState(xcb_window_t(window.winId()), "_NET_WM_STATE_ABOVE"));

    // Withdrawn, its states dropped as a window manager does: written again at the next showing.
    window.hide();
    ASSERT_TRUE(waitFor([&] { return !window.isExposed(); }));
    x.dropStates(xcb_window_t(window.winId()));
    ASSERT_TRUE(show());
    EXPECT_TRUE(skipsTaskbarAndPager());

    // Switched on while hidden: the next showing is listed again.
    window.hide();
    presence->setShownInTaskbar(true);
    ASSERT_TRUE(show());
    EXPECT_FALSE(skipsTaskbarAndPager());

    // Switched while shown: the window manager is asked, as it alone changes a shown window's states.
    x.watchRoot();
    for (const bool shown : {false, true}) {
        presence->setShownInTaskbar(shown);
        std::vector<xcb_client_message_event_t> requests;
        ASSERT_TRUE(waitFor([&] { return (requests = x.stateRequests()).size() == 1; }));
        EXPECT_EQ(requests.front().window, xcb_window_t(window.winId()));
        EXPECT_EQ(requests.front().data.data32[0], shown ? 0u : 1u); // remove or add
        EXPECT_EQ(requests.front().data.data32[1], x.atom("_NET_WM_STATE_SKIP_TASKBAR"));
        EXPECT_EQ(requests.front().data.data32[2], x.atom("_NET_WM_STATE_SKIP_PAGER"));
    }
}

} // namespace
