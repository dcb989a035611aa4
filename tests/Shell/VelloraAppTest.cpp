#include "ShellFixture.h"

#include "tests/CaseName.h"

#include "Vellora/Files/AtomicFile.h"
#include "Vellora/Paper/PaperButtonStyle.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Paper/ScrollHint.h"
#include "Vellora/Platform/SingleInstance.h"
#include "Vellora/Sheet/NoteBar.h"
#include "Vellora/Sheet/SheetView.h"
#include "Vellora/Sheet/SlotRow.h"
#include "Vellora/Shell/AboutDialog.h"
#include "Vellora/Shell/ContentView.h"
#include "Vellora/Shell/LinkDialog.h"
#include "Vellora/Shell/ToggleShortcut.h"
#include "Vellora/Shell/WindowMemory.h"

#include "GlobalShortcuts/HotKeyCenter.h"
#include "GlobalShortcuts/Recorder.h"
#include "tests/GlobalShortcuts/FakeHotKeyBackend.h"

#include <QClipboard>
#include <QDialog>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>

namespace {

using Page = Navigation::Page;
const GlobalShortcuts::Shortcut kCtrlShiftD(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_D);

class VelloraAppTest : public testing::Test
{
protected:
    void SetUp() override
    {
        Paper::setAnimationsEnabled(false);
        auto backend = std::make_unique<FakeHotKeyBackend>();
        keys = backend.get();
        GlobalShortcuts::HotKeyCenter::shared().setBackend(std::move(backend));
    }

    void TearDown() override
    {
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void launch(const QStringList &arguments = {"-uitests"}, std::optional<QString> storePath = std::nullopt)
    {
        VelloraApp::Options options = env.options(arguments, std::move(storePath));
        options.quit = [this] { ++quits; };
        options.askAboutUnsaved = [this](const QString &reason) {
            asked.append(reason);
            return answers.isEmpty() ? VelloraApp::UnsavedChoice::stay : answers.takeFirst();
        };
        app = std::make_unique<VelloraApp>(std::move(options));
        ASSERT_EQ(app->start(), VelloraApp::Start::running) << app->errorString().toStdString();
        ASSERT_TRUE(ShellTest::activate(window()));
        ASSERT_TRUE(waitFor([&] { return app->window().isLaunchFinished(); }));
        ShellTest::settle();
    }

    QMainWindow *window() const { return app->window().mainWindow(); }
    // Keys typed as a person types them: to the open menu, else to the window that has the keyboard. When a dialog
    // closes, the window manager gives the keyboard back to the main window.
    void type(const QList<QKeyCombination> &keys)
    {
        for (const QKeyCombination key : keys) {
            if (!QGuiApplication::focusWindow() && !QApplication::activePopupWidget()) {
                ASSERT_TRUE(ShellTest::activate(window()));
            }
            QTest::keyClick(static_cast<QWidget *>(nullptr), key.key(), key.keyboardModifiers());
            ShellTest::settle();
        }
    }
    Page page() { return app->nav().page(); }
    void press(int key, Qt::KeyboardModifiers modifiers)
    {
        QTest::keyClick(window(), Qt::Key(key), modifiers);
        ShellTest::settle();
    }
    QAction *trayItem(const QString &title) const
    {
        const QList<QAction *> items = app->window().trayMenu()->actions();
        const auto item = std::ranges::find_if(items, [&](QAction *a) { return a->text() == title; });
        return item == items.end() ? nullptr : *item;
    }

    ShellTest::AppEnvironment env;
    std::unique_ptr<VelloraApp> app;
    FakeHotKeyBackend *keys = nullptr;
    int quits = 0;
    QStringList asked;
    QList<VelloraApp::UnsavedChoice> answers;
};

// Every command of the menus, reached two ways: its shortcut, and Alt with its menu's mnemonic then its own.
TEST_F(VelloraAppTest, EachCommandIsReachedByItsShortcutAndItsMnemonics)
{
    launch();
    DayStore &store = app->store();
    EXPECT_FALSE(app->window().menuAction("Undo")->isEnabled()); // nothing done yet
    EXPECT_FALSE(app->window().menuAction("Redo")->isEnabled());
    const auto addUnfinished = [&] { store.addItem("Unfinished", Block::big); };
    const auto today = [&] { return store.itemsIn(Block::big).size(); };
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
        {"Undo", Qt::Key_E, Qt::Key_U, QKeySequence("Ctrl+Z"), [&] { addUnfinished(); app->window().startNewDay(); },
         [&] { return today() == 1; }},
        {"Redo", Qt::Key_E, Qt::Key_R, QKeySequence("Ctrl+Shift+Z"),
         [&] { addUnfinished(); app->window().startNewDay(); app->window().undo(); }, [&] { return today() == 0; }},
        {"Preferences…", Qt::Key_E, Qt::Key_P, QKeySequence("Ctrl+,"), [&] { app->window().openPage(Page::today); },
         [&] { return page() == Page::settings; }},
        {"Today", Qt::Key_V, Qt::Key_T, QKeySequence("Ctrl+1"), [&] { app->window().openPage(Page::settings); },
         [&] { return page() == Page::today && window()->isActiveWindow(); }},
        {"Backlog", Qt::Key_V, Qt::Key_B, QKeySequence("Ctrl+2"), [&] { app->window().openPage(Page::today); },
         [&] { return page() == Page::backlog; }},
        {"Show or Hide Window", Qt::Key_V, Qt::Key_S, QKeySequence("Ctrl+Shift+D"), [] {},
         [&] { return !window()->isVisible(); }},
        {"About Vellora", Qt::Key_H, Qt::Key_A, QKeySequence(), [&] { delete app->window().aboutBox(); },
         [&] { return app->window().aboutBox() && app->window().aboutBox()->isVisible(); }},
        {"Quit", Qt::Key_F, Qt::Key_Q, QKeySequence("Ctrl+Q"), [] {}, [&] { return quits > 0; }},
    };
    const auto reset = [&](const Command &command) {
        store.startNewDay(QDateTime::currentDateTime());
        app->window().openPage(Page::today);
        ASSERT_TRUE(ShellTest::activate(window()));
        quits = 0;
        command.prepare();
        ShellTest::settle();
        ASSERT_FALSE(command.happened()) << command.title.toStdString();
    };
    for (const Command &command : commands) {
        const std::string title = command.title.toStdString();
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
}

struct KeysCase
{
    const char *name;
    QList<QKeyCombination> keys;
};

class KeysAfterEscapeTest : public VelloraAppTest, public testing::WithParamInterface<KeysCase>
{
};

// Once Escape has closed a menu, the keys typed next reach no menu: nothing changes and nothing opens, and the
// keyboard is back on the page.
TEST_P(KeysAfterEscapeTest, ReachNoMenu)
{
    launch();
    // A new day would send it to the Backlog; so would the Redo of one undone.
    app->store().addItem("Unfinished", Block::big);
    app->window().startNewDay();
    app->window().undo();
    ShellTest::settle();
    type(GetParam().keys);
    EXPECT_EQ(app->store().itemsIn(Block::big).size(), 1);
    EXPECT_EQ(app->store().backlogItems().size(), 0);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(qobject_cast<QMenuBar *>(QApplication::focusWidget()));
    EXPECT_TRUE(app->window().contentView()->isAncestorOf(QApplication::focusWidget()));
}

const QKeyCombination kAltF(Qt::AltModifier, Qt::Key_F), kAltH(Qt::AltModifier, Qt::Key_H), kEscape(Qt::Key_Escape);
INSTANTIATE_TEST_SUITE_P(Ways, KeysAfterEscapeTest,
                         testing::Values(KeysCase{"Alt+F, Escape, Escape, Down, Return",
                                                  {kAltF, kEscape, kEscape, Qt::Key_Down, Qt::Key_Return}},
                                         KeysCase{"Alt+F, Escape, f, n", {kAltF, kEscape, Qt::Key_F, Qt::Key_N}},
                                         KeysCase{"F10, Escape, Down, Return",
                                                  {Qt::Key_F10, kEscape, Qt::Key_Down, Qt::Key_Return}},
                                         KeysCase{"About from the menus, Escape, e, r",
                                                  {kAltH, Qt::Key_A, kEscape, Qt::Key_E, Qt::Key_R}}),
                         CaseName());

// The app's dialogs close with Escape and take Return on the focused button, else on their default one; so does a
// focused button on a page.
TEST_F(VelloraAppTest, DialogsCloseWithEscapeAndReturnPressesTheFocusedButton)
{
    launch();
    const auto about = [this]() -> QWidget * {
        app->window().showAbout();
        return app->window().aboutBox();
    };
    const auto link = [this]() -> QWidget * {
        env.browserStarts = false;
        app->window().openURL(WindowController::kFeedbackURL);
        LinkDialog *dialog = app->window().linkDialog();
        dialog->findChild<PaperButtonStyle *>("link.close")->setFocus(Qt::TabFocusReason); // not the default
        return dialog;
    };
    const QList<std::tuple<const char *, std::function<QWidget *()>, Qt::Key>> cases{
        {"Escape closes About", about, Qt::Key_Escape},
        {"Return presses About's Close", about, Qt::Key_Return},
        {"Escape closes the address", link, Qt::Key_Escape},
        {"Return presses the focused Close, not the default Copy", link, Qt::Key_Return},
    };
    for (const auto &[name, show, key] : cases) {
        SCOPED_TRACE(name);
        QGuiApplication::clipboard()->clear();
        QPointer<QWidget> dialog = show();
        ASSERT_TRUE(dialog && ShellTest::activate(dialog));
        type({key});
        EXPECT_TRUE(!dialog || !dialog->isVisible());
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QString());
        EXPECT_EQ(page(), Page::today);
    }

    ASSERT_TRUE(ShellTest::activate(window()));
    window()->findChild<PaperButtonStyle *>("sheet.backlog")->setFocus(Qt::TabFocusReason);
    type({Qt::Key_Return});
    EXPECT_EQ(page(), Page::backlog);
}

// Each tray entry does its part. Only a full web address is handed to the desktop; one that no browser opens is
// shown with a button that copies it.
TEST_F(VelloraAppTest, TheTrayMenuDoesEachOfItsParts)
{
    launch();
    // The app lives on in the tray when its window closes, only while the tray item is shown.
    EXPECT_TRUE(QGuiApplication::quitOnLastWindowClosed());
    app->settings().setShowTrayIcon(true);
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());

    // New Day changes the sheet and leaves the window where it is: hidden here.
    app->store().addItem("Unfinished", Block::big);
    window()->hide();
    trayItem("New Day")->trigger();
    ShellTest::settle();
    EXPECT_EQ(app->store().backlogItems().size(), 1);
    EXPECT_FALSE(window()->isVisible());

    trayItem("Settings…")->trigger();
    EXPECT_EQ(page(), Page::settings);
    EXPECT_TRUE(window()->isVisible());
    window()->showMinimized();
    trayItem("Open Vellora")->trigger();
    EXPECT_EQ(page(), Page::today);
    EXPECT_TRUE(window()->isVisible() && !window()->isMinimized());

    trayItem("About Vellora")->trigger();
    AboutDialog *about = app->window().aboutBox();
    app->window().menuAction("About Vellora")->trigger(); // one box, brought forward again
    EXPECT_TRUE(about && about->isVisible() && app->window().aboutBox() == about);

    for (const QString &bad : {QString(), QStringLiteral("http://exa mple.com"), QStringLiteral("relative/path")})
        app->window().openURL(bad);
    EXPECT_TRUE(env.opened.isEmpty());
    trayItem("Send Feedback")->trigger(); // a browser starts: nothing of the app's own shows
    EXPECT_EQ(env.opened, QList<QUrl>{QUrl(WindowController::kFeedbackURL)});
    EXPECT_EQ(app->window().linkDialog(), nullptr);
    env.browserStarts = false;
    QGuiApplication::clipboard()->clear();
    trayItem("Send Feedback")->trigger();
    trayItem("More Apps by the Maker…")->trigger(); // the later address takes the place of the earlier
    ShellTest::settle();
    LinkDialog *dialog = app->window().linkDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(window()->findChildren<LinkDialog *>().size(), 1);
    QTest::mouseClick(dialog->findChild<PaperButtonStyle *>("link.copy"), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString(WindowController::kMoreAppsURL));
    QTest::mouseClick(dialog->findChild<PaperButtonStyle *>("link.close"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return app->window().linkDialog() == nullptr; }));

    trayItem("Quit Vellora")->trigger();
    EXPECT_EQ(quits, 1);
}

// Every window of the app goes with it and comes back where it was, on the same page, also after a restart; a
// minimised window counts as hidden.
TEST_F(VelloraAppTest, ToggleWindowHidesEveryWindowAndBringsItBackWhereItWas)
{
    launch(); // the test argument: an empty store in memory, without lock or channel
    EXPECT_EQ(app->instance(), nullptr);
    EXPECT_EQ(app->store().filePath(), std::nullopt);
    EXPECT_EQ(env.dock->window, window()->windowHandle()); // the taskbar entry follows this window
    app->window().openPage(Page::backlog);
    const QRect place(QPoint(130, 90), window()->size() + QSize(40, 30));
    window()->setGeometry(place);
    auto *other = new QDialog(window());
    ASSERT_TRUE(ShellTest::activate(other));
    ASSERT_TRUE(ShellTest::activate(window()));
    app->window().toggleWindow();
    EXPECT_FALSE(window()->isVisible());
    EXPECT_FALSE(other->isVisible());
    app->window().toggleWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
    EXPECT_TRUE(other->isVisible());
    EXPECT_EQ(page(), Page::backlog);
    EXPECT_EQ(window()->geometry(), place);

    app.reset();
    launch();
    EXPECT_EQ(window()->geometry(), place);
    window()->showMinimized();
    ShellTest::settle();
    app->window().toggleWindow();
    EXPECT_TRUE(window()->isVisible() && !window()->isMinimized());
}

enum class Desktop { hotKeys, noHotKeys, grabbedElsewhere, portalRefusesLater };

std::string desktopName(Desktop desktop)
{
    switch (desktop) {
    case Desktop::hotKeys: return "hotKeys";
    case Desktop::noHotKeys: return "noHotKeys";
    case Desktop::grabbedElsewhere: return "grabbedElsewhere";
    case Desktop::portalRefusesLater: return "portalRefusesLater";
    }
    return {};
}

class ShortcutNoteTest : public VelloraAppTest, public testing::WithParamInterface<Desktop>
{
};

// With hot keys the shortcut is registered and stored at the first start, and Escape while recording it stays with
// the recorder; without them, the Settings page says so and names the command to bind instead.
TEST_P(ShortcutNoteTest, TheSettingsPageSaysWhetherTheGlobalShortcutActs)
{
    const Desktop desktop = GetParam();
    keys->setAvailable(desktop != Desktop::noHotKeys);
    // The portal says yes at first and refuses once the desktop (or the user in its dialog) has decided.
    keys->setDesktopDecides(desktop == Desktop::portalRefusesLater);
    if (desktop == Desktop::grabbedElsewhere)
        keys->takeByAnotherApplication(kCtrlShiftD);
    launch();
    app->window().openPage(Page::settings);
    auto *note = window()->findChild<PaperLabel *>("settings.shortcutNote");
    ASSERT_NE(note, nullptr);
    if (desktop == Desktop::portalRefusesLater) {
        EXPECT_FALSE(note->isVisible()); // asked, not answered yet
        keys->refuseLater(kCtrlShiftD);
        ShellTest::settle();
    }
    EXPECT_EQ(note->isVisible(), desktop != Desktop::hotKeys);
    EXPECT_EQ(note->text().endsWith("run the command: vellora toggle"), desktop != Desktop::hotKeys);
    if (desktop == Desktop::hotKeys) {
        EXPECT_TRUE(keys->isRegistered(kCtrlShiftD));
        EXPECT_TRUE(env.defaultsFile().contains("GlobalShortcuts_toggleWindow"));
        auto *field = window()->findChild<GlobalShortcuts::RecorderField *>();
        field->startRecording();
        ShellTest::settle();
        QTest::keyClick(field, Qt::Key_Escape);
        ShellTest::settle();
        EXPECT_EQ(page(), Page::settings);
        EXPECT_EQ(GlobalShortcuts::storedShortcut(ToggleShortcut::name()), kCtrlShiftD);
    }
}

INSTANTIATE_TEST_SUITE_P(Desktops, ShortcutNoteTest,
                         testing::Values(Desktop::hotKeys, Desktop::noHotKeys, Desktop::grabbedElsewhere,
                                         Desktop::portalRefusesLater),
                         [](const testing::TestParamInfo<Desktop> &info) { return desktopName(info.param); });

// A settings file of an earlier version holds the shortcut as key numbers: the app takes the same keys and writes them
// back once as text.
TEST_F(VelloraAppTest, AShortcutStoredByAnEarlierVersionIsRewrittenAsText)
{
    env.writeDefaults(R"({"GlobalShortcuts_toggleWindow": "{\"carbonKeyCode\":40,\"carbonModifiers\":2304}"})");
    launch();
    EXPECT_TRUE(keys->isRegistered(QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key_K)));
    EXPECT_EQ(env.defaultsFile().value("GlobalShortcuts_toggleWindow"), "Ctrl+Alt+K");
    app->window().openPage(Page::settings);
    auto *field = window()->findChild<GlobalShortcuts::RecorderField *>();
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->text(), "Ctrl+Alt+K");
}

class LeavingARowTest : public VelloraAppTest, public testing::WithParamInterface<const char *>
{
protected:
    void leave()
    {
        const std::string way = GetParam();
        if (way == "Ctrl+2")
            press(Qt::Key_2, Qt::ControlModifier);
        else if (way == "Ctrl+Q")
            press(Qt::Key_Q, Qt::ControlModifier);
        else if (way == "close")
            window()->close();
        else {
            // With the tray icon the window only hides: the field keeps its focus, and the app must end the edit.
            app->settings().setShowTrayIcon(true);
            window()->close();
        }
    }
};

// What is typed in a row is kept, as Return keeps it, when the page changes, the app quits or the window closes
// (ending the app, or hiding it while it lives on in the tray).
TEST_P(LeavingARowTest, KeepsWhatWasTyped)
{
    launch();
    auto *sheet = qobject_cast<SheetView *>(app->window().contentView()->page());
    ASSERT_NE(sheet, nullptr);
    sheet->row("slot.3.0")->beginEditing();
    ShellTest::settle();
    QTest::keyClicks(QApplication::focusWidget(), "Typed before leaving");
    leave();
    ShellTest::settle();
    ASSERT_EQ(app->store().itemsIn(Block::medium).size(), 1);
    EXPECT_EQ(app->store().itemsIn(Block::medium).first().title, "Typed before leaving");
    EXPECT_TRUE(asked.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Ways, LeavingARowTest, testing::Values("Ctrl+2", "Ctrl+Q", "close", "close to the tray"),
                         [](const testing::TestParamInfo<const char *> &info) { return caseName(info.param); });

// Undo from the menu while a row is being edited finishes that edit first, so the edit is what it takes back, not
// the step before it.
TEST_F(VelloraAppTest, UndoFromTheMenuTakesBackTheOpenEdit)
{
    launch();
    DayStore &store = app->store();
    store.addItem("Unfinished", Block::big);
    app->window().startNewDay();
    auto *sheet = qobject_cast<SheetView *>(app->window().contentView()->page());
    ASSERT_NE(sheet, nullptr);
    sheet->row("slot.3.0")->beginEditing();
    ShellTest::settle();
    QTest::keyClicks(QApplication::focusWidget(), "Typed, then undone");
    app->window().menuAction("Undo")->trigger();
    ShellTest::settle();
    EXPECT_TRUE(store.itemsIn(Block::medium).isEmpty());
    EXPECT_TRUE(store.itemsIn(Block::big).isEmpty()); // the new day before it stays
}

// A save that fails shows a lasting note until a save works, and quitting asks before the changes are lost.
TEST_F(VelloraAppTest, FailedSavesShowANoteAndQuittingAsksFirst)
{
    launch({"-uitestsfoo"}, env.dir.filePath("store.json")); // only the exact test argument leaves file and lock alone
    ASSERT_TRUE(app->instance() && app->instance()->isListening());
    NoteBar *notes = app->window().contentView()->notes();
    EXPECT_EQ(notes->saveNote(), "");
    AtomicFile::setFaultInjector([](AtomicFile::Step step) { return step == AtomicFile::Step::write ? ENOSPC : 0; });
    app->store().addItem("Ring Anna", Block::medium);
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
    app->store().addItem("Pay rent", Block::small);
    answers = {VelloraApp::UnsavedChoice::quit};
    press(Qt::Key_Q, Qt::ControlModifier);
    AtomicFile::setFaultInjector({});
    EXPECT_EQ(quits, 2);
}

// On a 1280×800 screen, with or without a panel, the window opens at every text size no taller than the screen
// leaves once the frame is drawn, and shows all nine rows and the footer, beside a title of 1,000 characters too.
// Settings shows that it scrolls where it does not fit.
TEST_F(VelloraAppTest, TheDefaultWindowShowsTheWholeSheetOnA1280x800Screen)
{
    launch();
    app->store().addItem(QString("many words ").repeated(100).left(1000), Block::big);
    for (Paper::TextSize size : Paper::kAllTextSizes) {
        app->settings().setTextSize(size);
        for (int panel : {0, 32}) {
            SCOPED_TRACE(Paper::label(size).toStdString() + " beside a panel of " + std::to_string(panel));
            app->nav().setPage(Page::today);
            const QRect screen(0, panel, 1280, 800 - panel);
            const QSize opened = WindowMemory::defaultSize(*window(), screen);
            EXPECT_LE(opened.height() + 30, screen.height()); // the window manager's title bar and frame
            window()->resize(opened);
            ShellTest::settle();
            auto *sheet = qobject_cast<SheetView *>(app->window().contentView()->page());
            ASSERT_NE(sheet, nullptr);
            const QWidget *view = sheet->findChild<QScrollArea *>("sheet.blocks")->viewport();
            for (const QString &slot : SheetView::slotIds()) {
                const SlotRow *row = sheet->row(slot);
                EXPECT_TRUE(view->rect().contains(QRect(row->mapTo(view, QPoint()), row->size())))
                    << slot.toStdString();
            }
            for (const char *button : {"sheet.backlog", "sheet.settings"}) {
                const auto *footer = sheet->findChild<QWidget *>(button);
                EXPECT_TRUE(window()->rect().contains(QRect(footer->mapTo(window(), QPoint()), footer->size())))
                    << button;
            }

            app->nav().setPage(Page::settings);
            ShellTest::settle();
            const auto *settings = app->window().contentView()->page()->findChild<QScrollArea *>("settings.scroll");
            const auto *hint = settings->findChild<ScrollHint *>();
            ASSERT_NE(hint, nullptr);
            EXPECT_EQ(hint->fadesBottom(), settings->verticalScrollBar()->maximum() > 0);
        }
    }
}

} // namespace
