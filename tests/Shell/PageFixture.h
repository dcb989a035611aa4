#pragma once

#include "ShellFixture.h"

#include "tests/Sheet/SheetTestSupport.h"

#include "Vellora/Shell/ContentView.h"
#include "Vellora/Shell/Navigation.h"

#include <QMainWindow>
#include <QScrollArea>

// The root view in a main window, on a store in memory, with settings in a file of their own and a desktop
// without portal; shown and active.
class PageFixture : public testing::Test
{
protected:
    void SetUp() override
    {
        Paper::setAnimationsEnabled(false);
        store = SheetTest::makeStore();
        defaults = JsonSettingsFormat::open(dir.filePath("defaults.json"));
        settings = std::make_unique<AppSettings>(*defaults, loginItems, &dock);
        desktop = ShellTest::desktopWithoutPortal();
    }

    void TearDown() override
    {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void open(Navigation::Page page = Navigation::Page::today)
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
    std::unique_ptr<DayStore> store;
    std::unique_ptr<QSettings> defaults;
    FakeLoginItemService loginItems;
    ShellTest::RecordingDockPresence dock;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<DesktopColorScheme> desktop;
    Navigation nav;
    SettingsView::ShortcutControlFactory shortcutControl;
    std::unique_ptr<QMainWindow> window;
    ContentView *content = nullptr;
};
