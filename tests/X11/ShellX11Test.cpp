#include "XClient.h"

#include "tests/Shell/ShellFixture.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

// The app on a real X server, with trayer as the system tray where a test needs one. A second X connection looks at
// the windows the way the tray and other applications do.

namespace {

// The window in which Qt shows a tray icon on X11; none while the icon is hidden.
QWidget *trayIconWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QSystemTrayIconSys"))
            return widget;
    }
    return nullptr;
}

class ShellX11Test : public testing::Test
{
protected:
    void SetUp() override
    {
        Paper::setAnimationsEnabled(false);
        ASSERT_TRUE(x.ok());
    }

    void TearDown() override
    {
        app.reset();
        if (tray.state() != QProcess::NotRunning) {
            tray.kill();
            tray.waitForFinished();
        }
    }

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
        ASSERT_TRUE(QTest::qWaitForWindowExposed(app->mainWindow()));
        ASSERT_TRUE(waitFor([&] { return app->isLaunchFinished(); }));
    }

    // Right-clicks the tray item until its menu shows: the first click can land before the tray has placed it.
    bool openTrayMenu()
    {
        QMenu *menu = app->trayMenu();
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
    env.writeDefaults(R"({"showInMenuBar": true})");
    launch();
    ASSERT_TRUE(waitFor([&] { return iconInTray(); })) << "the icon was not embedded";

    app->settings().setShowInMenuBar(false);
    ASSERT_TRUE(waitFor([&] { return !iconInTray(); }));
    app->settings().setShowInMenuBar(true);
    ASSERT_TRUE(waitFor([&] { return iconInTray(); }));

    // The right button opens the item's menu; Escape closes it, a click on an entry carries it out.
    QMenu *menu = app->trayMenu();
    ASSERT_TRUE(openTrayMenu());
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    ASSERT_TRUE(waitFor([&] { return !menu->isVisible(); }));
    EXPECT_EQ(app->nav().page(), Navigation::Page::today);
    ASSERT_TRUE(openTrayMenu());
    QAction *backlog = menu->actions().at(1);
    ASSERT_EQ(backlog->text(), "Backlog");
    ASSERT_TRUE(clickAt(menu->mapToGlobal(menu->actionGeometry(backlog).center())));
    ASSERT_TRUE(waitFor([&] { return app->nav().page() == Navigation::Page::backlog; }));

    // Hiding the app leaves the tray item where it is.
    app->mainWindow()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(app->mainWindow()));
    app->toggleWindow();
    ASSERT_TRUE(waitFor([&] { return !x.isViewable(xcb_window_t(app->mainWindow()->winId())); }));
    EXPECT_TRUE(iconInTray());

    // A left click on the item shows the hidden window, and hides it again once it is in front.
    const QPoint icon = x.centreOnScreen(xcb_window_t(trayIconWindow()->winId()));
    for (bool shown : {true, false}) {
        ASSERT_TRUE(clickAt(icon));
        ASSERT_TRUE(waitFor([&] { return x.isViewable(xcb_window_t(app->mainWindow()->winId())) == shown; }));
        if (shown) {
            ASSERT_TRUE(QTest::qWaitForWindowActive(app->mainWindow()));
        }
    }
}

TEST_F(ShellX11Test, ToggleWindowBringsAWindowBehindAnotherApplicationForwardAndHidesOneInFront)
{
    launch();
    QMainWindow *window = app->mainWindow();
    const auto id = xcb_window_t(window->winId());
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));

    // Another application takes the keyboard: the window is visible, but the app is not in front.
    x.takeFocus();
    ASSERT_TRUE(waitFor([] { return QGuiApplication::focusWindow() == nullptr; }));
    app->toggleWindow();
    ASSERT_TRUE(waitFor([] { return QGuiApplication::focusWindow() != nullptr; }));
    EXPECT_TRUE(x.isViewable(id));

    // In front: hidden; again: back, on the same page.
    app->openPage(Navigation::Page::settings);
    ASSERT_TRUE(waitFor([&] { return window->isActiveWindow(); }));
    app->toggleWindow();
    ASSERT_TRUE(waitFor([&] { return !x.isViewable(id); }));
    app->toggleWindow();
    ASSERT_TRUE(waitFor([&] { return x.isViewable(id) && QGuiApplication::focusWindow() != nullptr; }));
    EXPECT_EQ(app->nav().page(), Navigation::Page::settings);
}

} // namespace
