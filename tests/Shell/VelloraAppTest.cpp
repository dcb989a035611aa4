#include "ShellFixture.h"

#include "Vellora/DayData/AtomicFile.h"
#include "Vellora/Paper/PaperButtonStyle.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Paper/PaperSwitch.h"
#include "Vellora/Platform/SingleInstance.h"
#include "Vellora/Sheet/NoteBar.h"
#include "Vellora/Sheet/SheetView.h"
#include "Vellora/Sheet/SlotRow.h"
#include "Vellora/Shell/AboutDialog.h"
#include "Vellora/Shell/ContentView.h"
#include "Vellora/Shell/LinkDialog.h"
#include "Vellora/Shell/ToggleShortcut.h"

#include "GlobalShortcuts/FakeHotKeyBackend.h"
#include "GlobalShortcuts/HotKey.h"
#include "GlobalShortcuts/Recorder.h"

#include <QClipboard>
#include <QDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTcpServer>

namespace {

using Page = Navigation::Page;

class VelloraAppTest : public testing::Test
{
protected:
    void SetUp() override
    {
        Paper::setAnimationsEnabled(false);
        // The desktop's hot keys, in memory.
        auto backend = std::make_unique<GlobalShortcuts::FakeHotKeyBackend>();
        keys = backend.get();
        GlobalShortcuts::HotKeyCenter::shared().setBackend(std::move(backend));
    }

    void TearDown() override
    {
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void launch(const QStringList &arguments = {"-uitests"}, std::optional<QString> storePath = std::nullopt,
                const QUrl &feed = {})
    {
        VelloraApp::Options options = env.options(arguments, std::move(storePath), feed);
        options.quit = [this] { ++quits; };
        options.askAboutUnsaved = [this](const QString &reason) {
            asked.append(reason);
            return answers.isEmpty() ? VelloraApp::UnsavedChoice::stay : answers.takeFirst();
        };
        app = std::make_unique<VelloraApp>(std::move(options));
        ASSERT_EQ(app->start(), VelloraApp::Start::running) << app->errorString().toStdString();
        ASSERT_TRUE(ShellTest::activate(window()));
        ASSERT_TRUE(waitFor([&] { return app->isLaunchFinished(); }));
        ShellTest::settle();
    }

    QMainWindow *window() const { return app->mainWindow(); }
    Page page() { return app->nav().page(); }
    void press(int key, Qt::KeyboardModifiers modifiers)
    {
        QTest::keyClick(window(), Qt::Key(key), modifiers);
        ShellTest::settle();
    }
    QAction *trayItem(const QString &title) const
    {
        for (QAction *action : app->trayMenu()->actions()) {
            if (action->text() == title)
                return action;
        }
        return nullptr;
    }
    bool windowShown() const { return window()->isVisible() && !window()->isMinimized(); }

    ShellTest::AppEnvironment env;
    std::unique_ptr<VelloraApp> app;
    GlobalShortcuts::FakeHotKeyBackend *keys = nullptr;
    int quits = 0;
    QStringList asked;
    QList<VelloraApp::UnsavedChoice> answers;
};

TEST_F(VelloraAppTest, AnInterfaceTestLaunchHasAnEmptyStoreAndNeitherLockNorChannel)
{
    launch({"-uitests"});
    EXPECT_EQ(app->instance(), nullptr);
    EXPECT_EQ(app->store().fileURL(), std::nullopt);
    EXPECT_TRUE(app->store().saved().items.empty());
    EXPECT_EQ(env.dock->window, window()->windowHandle()); // the taskbar entry follows this window
    EXPECT_EQ(env.dock->applied, QList<bool>{true});
}

TEST_F(VelloraAppTest, AnArgumentThatOnlyBeginsWithTheTestArgumentIsSomeoneElses)
{
    const QString store = env.dir.filePath("store.json");
    launch({"-uitestsfoo"}, store);
    ASSERT_NE(app->instance(), nullptr);
    EXPECT_TRUE(app->instance()->isListening());
    EXPECT_EQ(app->store().fileURL(), store);
    app->store().addItem("Written to the file", Bucket::big);
    EXPECT_TRUE(QFile::exists(store));
}

// Every command of the menus, reached three ways: its shortcut, Alt with its menu's mnemonic then its own, and
// (for the first menu) F10.
TEST_F(VelloraAppTest, EachCommandIsReachedByItsShortcutAndItsMnemonics)
{
    launch();
    DayStore &store = app->store();
    const auto addUnfinished = [&] { store.addItem("Unfinished", Bucket::big); };
    const auto today = [&] { return store.itemsIn(Bucket::big).size(); };
    struct Command
    {
        QString title;
        Qt::Key menuKey, itemKey;
        QKeySequence shortcut;
        std::function<void()> prepare;
        std::function<bool()> happened;
    };
    const QList<Command> commands{
        {"New Day", Qt::Key_F, Qt::Key_N, QKeySequence("Ctrl+Shift+N"), addUnfinished, [&] { return today() == 0; }},
        {"Undo", Qt::Key_E, Qt::Key_U, QKeySequence("Ctrl+Z"),
         [&] {
             addUnfinished();
             app->startNewDay();
         },
         [&] { return today() == 1; }},
        {"Redo", Qt::Key_E, Qt::Key_R, QKeySequence("Ctrl+Shift+Z"),
         [&] {
             addUnfinished();
             app->startNewDay();
             app->undo();
         },
         [&] { return today() == 0; }},
        {"Preferences…", Qt::Key_E, Qt::Key_P, QKeySequence("Ctrl+,"), [&] { app->openPage(Page::today); },
         [&] { return page() == Page::settings; }},
        {"Today", Qt::Key_V, Qt::Key_T, QKeySequence("Ctrl+1"), [&] { app->openPage(Page::settings); },
         [&] { return page() == Page::today && window()->isActiveWindow(); }},
        {"Backlog", Qt::Key_V, Qt::Key_B, QKeySequence("Ctrl+2"), [&] { app->openPage(Page::today); },
         [&] { return page() == Page::backlog; }},
        {"Show or Hide Window", Qt::Key_V, Qt::Key_S, QKeySequence("Ctrl+Shift+D"), [] {},
         [&] { return !window()->isVisible(); }},
        {"About Vellora", Qt::Key_H, Qt::Key_A, QKeySequence(), [&] { delete app->aboutBox(); },
         [&] { return app->aboutBox() && app->aboutBox()->isVisible(); }},
        {"Quit", Qt::Key_F, Qt::Key_Q, QKeySequence("Ctrl+Q"), [] {}, [&] { return quits > 0; }},
    };
    const auto reset = [&](const Command &command) {
        store.startNewDay(QDateTime::currentDateTime());
        app->openPage(Page::today);
        ASSERT_TRUE(ShellTest::activate(window()));
        quits = 0;
        command.prepare();
        ShellTest::settle();
        ASSERT_FALSE(command.happened()) << command.title.toStdString();
    };
    for (const Command &command : commands) {
        const std::string title = command.title.toStdString();
        ASSERT_NE(app->menuAction(command.title), nullptr) << title;
        EXPECT_EQ(app->menuAction(command.title)->shortcut(), command.shortcut) << title;
        if (!command.shortcut.isEmpty()) {
            reset(command);
            QTest::keySequence(window(), command.shortcut);
            ShellTest::settle();
            EXPECT_TRUE(command.happened()) << title << " by its shortcut";
        }
        reset(command);
        QTest::keyClick(window(), command.menuKey, Qt::AltModifier);
        ASSERT_TRUE(waitFor([] { return QApplication::activePopupWidget() != nullptr; })) << title;
        QTest::keyClick(QApplication::activePopupWidget(), command.itemKey);
        ShellTest::settle();
        EXPECT_TRUE(command.happened()) << title << " by its mnemonics";
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << title;
    }

    reset(commands.first());
    QTest::keyClick(window(), Qt::Key_F10);
    ASSERT_TRUE(waitFor([] { return QApplication::activePopupWidget() != nullptr; }));
    EXPECT_EQ(QApplication::activePopupWidget(), window()->menuBar()->actions().first()->menu());
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_N);
    ShellTest::settle();
    EXPECT_TRUE(commands.first().happened()) << "F10, then New Day's mnemonic";
}

TEST_F(VelloraAppTest, CheckForUpdatesIsGreyedWhileTheUpdaterCannotCheck)
{
    launch(); // no feed: no such command
    EXPECT_EQ(app->menuAction("Check for Updates…"), nullptr);
    app.reset();

    // A feed that nobody serves: greyed during the check, available again by itself after its failure.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QUrl feed(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(closed.serverPort()));
    closed.close();
    launch({"-uitests"}, std::nullopt, feed);
    QAction *check = app->menuAction("Check for Updates…");
    ASSERT_TRUE(waitFor([&] { return check->isEnabled(); }));
    QSignalSpy changes(check, &QAction::enabledChanged);
    check->trigger();
    ASSERT_TRUE(waitFor([&] { return env.presenter.results.size() == 1; }));
    ASSERT_TRUE(waitFor([&] { return check->isEnabled(); }));
    EXPECT_GE(changes.count(), 2);
    EXPECT_EQ(changes.first().first().toBool(), false);
    EXPECT_EQ(env.presenter.results.first().kind, UpdateCheckResult::Kind::failed);
}

TEST_F(VelloraAppTest, TheTrayMenuHasItsEntriesAndEachDoesItsPart)
{
    launch();
    // The app lives on in the tray when its window closes, only while the tray item is shown.
    EXPECT_FALSE(app->trayIcon()->isVisible());
    EXPECT_TRUE(QGuiApplication::quitOnLastWindowClosed());
    app->settings().setShowInMenuBar(true);
    EXPECT_TRUE(app->trayIcon()->isVisible());
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());

    // New Day changes the sheet and leaves the window where it is: hidden here.
    app->store().addItem("Unfinished", Bucket::big);
    window()->hide();
    trayItem("New Day")->trigger();
    ShellTest::settle();
    EXPECT_EQ(app->store().backlogItems().size(), 1);
    EXPECT_FALSE(window()->isVisible());

    trayItem("Settings…")->trigger();
    EXPECT_EQ(page(), Page::settings);
    EXPECT_TRUE(window()->isVisible());
    trayItem("Backlog")->trigger();
    EXPECT_EQ(page(), Page::backlog);
    window()->showMinimized();
    trayItem("Open Vellora")->trigger();
    EXPECT_EQ(page(), Page::today);
    EXPECT_TRUE(windowShown());

    trayItem("Send Feedback")->trigger();
    trayItem("More Apps by the Maker…")->trigger();
    EXPECT_EQ(env.opened, (QList<QUrl>{QUrl(VelloraApp::kFeedbackURL), QUrl(VelloraApp::kMoreAppsURL)}));

    trayItem("About Vellora")->trigger();
    ASSERT_NE(app->aboutBox(), nullptr);
    EXPECT_TRUE(app->aboutBox()->isVisible());
    AboutDialog *about = app->aboutBox();
    app->menuAction("About Vellora")->trigger(); // one box, brought forward again
    EXPECT_EQ(app->aboutBox(), about);

    trayItem("Quit Vellora")->trigger();
    EXPECT_EQ(quits, 1);
}

// Only a full web address is handed to the desktop; one that no browser opens is shown with a button that copies it.
TEST_F(VelloraAppTest, AnAddressIsOpenedOrShown)
{
    launch();
    for (const QString &bad : {QString(), QStringLiteral("   "), QStringLiteral("http://exa mple.com"),
                               QStringLiteral("just words"), QStringLiteral("relative/path")})
        app->openURL(bad);
    EXPECT_TRUE(env.opened.isEmpty());
    trayItem("Send Feedback")->trigger(); // a browser starts: nothing of the app's own shows
    EXPECT_EQ(app->linkDialog(), nullptr);

    env.browserStarts = false;
    QGuiApplication::clipboard()->clear();
    trayItem("Send Feedback")->trigger();
    trayItem("More Apps by the Maker…")->trigger(); // the later address takes the place of the earlier
    ShellTest::settle();
    LinkDialog *dialog = app->linkDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(window()->findChildren<LinkDialog *>().size(), 1);
    EXPECT_EQ(dialog->findChild<PaperLabel *>("link.address")->text(), QString(VelloraApp::kMoreAppsURL));
    QTest::mouseClick(dialog->findChild<PaperButtonStyle *>("link.copy"), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString(VelloraApp::kMoreAppsURL));
    QTest::mouseClick(dialog->findChild<PaperButtonStyle *>("link.close"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return app->linkDialog() == nullptr; }));
}

TEST_F(VelloraAppTest, ToggleWindowHidesTheAppInFrontAndBringsItBackOnTheSamePage)
{
    launch();
    app->openPage(Page::backlog);
    QDialog other(window());
    ASSERT_TRUE(ShellTest::activate(&other));
    ASSERT_TRUE(ShellTest::activate(window()));

    app->toggleWindow();
    EXPECT_FALSE(window()->isVisible());
    EXPECT_FALSE(other.isVisible()); // every window of the app goes

    app->toggleWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
    EXPECT_TRUE(other.isVisible());
    EXPECT_EQ(page(), Page::backlog);

    // A minimised window does not count as shown: the toggle brings it back rather than hiding the app.
    window()->showMinimized();
    ShellTest::settle();
    app->toggleWindow();
    EXPECT_TRUE(windowShown());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window()));

    // Shown through the menu's shortcut too, and hidden again by it.
    press(Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(window()->isVisible());
    EXPECT_EQ(page(), Page::backlog);
}

TEST_F(VelloraAppTest, TheWindowKeepsItsSizeAndPlaceAcrossHidingAndRestarts)
{
    launch();
    const QRect place(QPoint(130, 90), window()->size() + QSize(40, 30));
    window()->setGeometry(place);
    ShellTest::settle();

    app->toggleWindow();
    ASSERT_FALSE(window()->isVisible());
    app->toggleWindow();
    ShellTest::settle();
    EXPECT_EQ(window()->geometry(), place);

    app.reset();
    launch();
    EXPECT_EQ(window()->geometry(), place);
}

TEST_F(VelloraAppTest, TheGlobalShortcutTogglesTheWindowWhenItsKeysAreReleased)
{
    launch();
    const GlobalShortcuts::Shortcut ctrlShiftD(GlobalShortcuts::Key::d, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(keys->isRegistered(ctrlShiftD)); // the initial shortcut, stored for the next start
    EXPECT_TRUE(env.defaultsFile().contains("GlobalShortcuts_toggleWindow"));

    ASSERT_TRUE(keys->press(ctrlShiftD));
    EXPECT_TRUE(window()->isVisible()); // held down: nothing yet
    ASSERT_TRUE(keys->release(ctrlShiftD));
    EXPECT_FALSE(window()->isVisible());
    keys->press(ctrlShiftD);
    keys->release(ctrlShiftD);
    EXPECT_TRUE(QTest::qWaitForWindowActive(window()));

    // No note while the shortcut acts.
    app->openPage(Page::settings);
    EXPECT_FALSE(window()->findChild<PaperLabel *>("settings.shortcutNote")->isVisible());
    EXPECT_NE(window()->findChild<GlobalShortcuts::Recorder *>("settings.shortcut"), nullptr);
}

TEST_F(VelloraAppTest, WithoutTheShortcutTheSettingsPageSaysWhyAndNamesTheCommandToBindInstead)
{
    const GlobalShortcuts::Shortcut ctrlShiftD(GlobalShortcuts::Key::d, Qt::ControlModifier | Qt::ShiftModifier);
    enum class Desktop { noHotKeys, grabbedElsewhere, portalRefusesLater };
    const struct
    {
        Desktop desktop;
        const char *opening;
    } cases[] = {
        {Desktop::noHotKeys, "This desktop does not let apps have global shortcuts."},
        {Desktop::grabbedElsewhere, "Another application uses this shortcut."},
        // The portal says yes at first and refuses once the desktop (or the user in its dialog) has decided.
        {Desktop::portalRefusesLater, "The desktop did not allow this shortcut."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.opening);
        SetUp(); // a desktop of its own
        keys->setAvailable(c.desktop != Desktop::noHotKeys);
        keys->setDesktopDecides(c.desktop == Desktop::portalRefusesLater);
        if (c.desktop == Desktop::grabbedElsewhere)
            keys->takeByAnotherApplication(ctrlShiftD);
        launch();
        app->openPage(Page::settings);
        auto *note = window()->findChild<PaperLabel *>("settings.shortcutNote");
        ASSERT_NE(note, nullptr);
        if (c.desktop == Desktop::portalRefusesLater) {
            EXPECT_FALSE(note->isVisible()); // asked, not answered yet
            keys->refuseLater(ctrlShiftD);
            ShellTest::settle();
        }
        EXPECT_TRUE(note->isVisible());
        EXPECT_TRUE(note->text().startsWith(c.opening)) << note->text().toStdString();
        EXPECT_TRUE(note->text().endsWith("run the command: vellora toggle")) << note->text().toStdString();
        app.reset();
    }
}

TEST_F(VelloraAppTest, EscapeWhileRecordingAShortcutStaysWithTheRecorder)
{
    launch();
    app->openPage(Page::settings);
    auto *field = window()->findChild<GlobalShortcuts::RecorderField *>();
    ASSERT_NE(field, nullptr);
    field->setFocus(Qt::TabFocusReason);
    ShellTest::settle();
    QTest::keyClick(field, Qt::Key_Escape);
    ShellTest::settle();
    EXPECT_EQ(page(), Page::settings);
    EXPECT_EQ(GlobalShortcuts::storedShortcut(ToggleShortcut::name()),
              GlobalShortcuts::Shortcut(GlobalShortcuts::Key::d, Qt::ControlModifier | Qt::ShiftModifier));
}

// What is typed in a row is kept, exactly as Return keeps it, when the page changes, the app quits or its window
// closes.
TEST_F(VelloraAppTest, LeavingARowBeingEditedKeepsWhatWasTyped)
{
    const QList<std::pair<const char *, std::function<void()>>> ways{
        {"Ctrl+2", [this] { press(Qt::Key_2, Qt::ControlModifier); }},
        {"Ctrl+Q", [this] { press(Qt::Key_Q, Qt::ControlModifier); }},
        {"close", [this] { window()->close(); }},
    };
    for (const auto &[name, leave] : ways) {
        SCOPED_TRACE(name);
        TearDown();
        quits = 0;
        launch();
        auto *sheet = qobject_cast<SheetView *>(app->contentView()->page());
        ASSERT_NE(sheet, nullptr);
        sheet->row("slot.3.0")->beginEditing();
        ShellTest::settle();
        QTest::keyClicks(QApplication::focusWidget(), "Typed before leaving");
        leave();
        ShellTest::settle();
        ASSERT_EQ(app->store().itemsIn(Bucket::medium).size(), 1);
        EXPECT_EQ(app->store().itemsIn(Bucket::medium).first().title, "Typed before leaving");
    }
    EXPECT_TRUE(asked.isEmpty());
}

// A save that fails shows a lasting note until a save works, and quitting asks before the changes are lost.
TEST_F(VelloraAppTest, FailedSavesShowANoteAndQuittingAsksFirst)
{
    launch({}, env.dir.filePath("store.json"));
    NoteBar *notes = app->contentView()->notes();
    EXPECT_EQ(notes->saveNote(), "");
    AtomicFile::setFaultInjector([](AtomicFile::Step step) { return step == AtomicFile::Step::write ? ENOSPC : 0; });
    app->store().addItem("Ring Anna", Bucket::medium);
    ShellTest::settle();
    ASSERT_TRUE(app->store().saveError());
    const QString reason = *app->store().saveError();
    EXPECT_EQ(notes->saveNote(), "Not saved: " + reason + " — will retry");
    EXPECT_TRUE(notes->isVisible());

    answers = {VelloraApp::UnsavedChoice::retry, VelloraApp::UnsavedChoice::stay};
    press(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(asked, (QStringList{reason, reason}));
    EXPECT_EQ(quits, 0);

    AtomicFile::setFaultInjector({});
    answers = {VelloraApp::UnsavedChoice::stay};
    press(Qt::Key_Q, Qt::ControlModifier); // tries once more first, and that works
    EXPECT_EQ(asked.size(), 2);
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(app->store().saveError());
    EXPECT_EQ(notes->saveNote(), "");

    AtomicFile::setFaultInjector([](AtomicFile::Step step) { return step == AtomicFile::Step::rename ? EIO : 0; });
    app->store().addItem("Pay rent", Bucket::small);
    answers = {VelloraApp::UnsavedChoice::quit};
    press(Qt::Key_Q, Qt::ControlModifier);
    AtomicFile::setFaultInjector({});
    EXPECT_EQ(quits, 2);
}

} // namespace
