#include "Vellora/Shell/VelloraApp.h"

#include "GlobalShortcuts/ActionShortcut.h"
#include "Vellora/Commands/CommandRunner.h"
#include "Vellora/DayData/DayStore.h"
#include "Vellora/Platform/DesktopColorScheme.h"
#include "Vellora/Platform/TaskbarEntry.h"
#include "Vellora/Platform/JsonSettingsFormat.h"
#include "Vellora/Platform/LoginItemService.h"
#include "Vellora/Platform/SingleInstance.h"
#include "Vellora/Platform/WindowFocus.h"
#include "Vellora/Sheet/UndoHistory.h"
#include "Vellora/Shell/AboutDialog.h"
#include "Vellora/Shell/AppSettings.h"
#include "Vellora/Shell/ContentView.h"
#include "Vellora/Shell/FirstFrame.h"
#include "Vellora/Shell/LinkDialog.h"
#include "Vellora/Shell/MenuBarFocus.h"
#include "Vellora/Shell/ToggleShortcut.h"
#include "Vellora/Shell/UnsavedDialog.h"
#include "Vellora/Shell/UpdateManager.h"
#include "Vellora/Shell/Updater.h"
#include "Vellora/Shell/WindowMemory.h"
#include "Vellora/Sync/AppStore.h"
#include "Vellora/Sync/AppSync.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>

namespace {

// The sizes are given, so that no image is read before one is drawn.
QIcon appIcon()
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/app.vellora.Vellora-48.png"), QSize(48, 48));
    icon.addFile(QStringLiteral(":/icons/app.vellora.Vellora-256.png"), QSize(256, 256));
    return icon;
}

// The windows the platform's hide takes away: the app's own windows and dialogs, not its menus, tooltips or the
// tray icon's embedded window.
bool isHideable(const QWidget *widget)
{
    if (!widget->isWindow() || !widget->isVisible())
        return false;
    const Qt::WindowType type = widget->windowType();
    const bool ordinary = type == Qt::Window || type == Qt::Dialog || type == Qt::Sheet || type == Qt::Tool;
    return ordinary && !widget->windowFlags().testFlag(Qt::BypassWindowManagerHint) &&
           !widget->inherits("QSystemTrayIconSys");
}

// Whether the session has a message bus to ask. Without one, asking would start a bus of its own (autolaunch) just
// to learn the desktop's colour preference; the palette tells it then.
bool hasSessionBus()
{
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
           QFileInfo::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus"));
}

} // namespace

VelloraApp::VelloraApp(Options options, QObject *parent) : QObject(parent), m_options(std::move(options)) {}

VelloraApp::~VelloraApp()
{
    if (m_registeredToggle) {
        GlobalShortcuts::removeActions(ToggleShortcut::name());
        if (GlobalShortcuts::storage() == m_defaults)
            GlobalShortcuts::setStorage(nullptr);
    }
    // The window's views observe the store and the settings: they go first.
    delete m_about;
    delete m_link;
    delete m_window;
    delete m_tray;
}

bool VelloraApp::isUITestLaunch(const QStringList &arguments)
{
    return arguments.contains(QLatin1String(kUITestsArgument));
}

// The launch, in order: the store's place and its claim, the store, the settings and the navigation, the window
// with its menus and the tray item, then what follows the end of launching (the updater).
VelloraApp::Start VelloraApp::start()
{
    QCoreApplication::setApplicationVersion(QStringLiteral(VELLORA_VERSION));
    m_uiTests = isUITestLaunch(m_options.arguments);
    std::optional<QString> path;
    if (!m_uiTests) {
        // An interface-test launch reads and writes no file, so it neither claims one nor listens.
        if (!m_options.storePath) {
            m_error = QStringLiteral("There is no folder for the store file; give one with --store FILE.");
            return Start::failed;
        }
        path = m_options.storePath;
        if (!claimStore(*path))
            return m_instance ? Start::handedOver : Start::failed;
    }
    if (!makeStore(path))
        return Start::failed;
    makeSettings();
    buildWindow();
    m_window->show();
    // What the first frame does not show waits until it is up: the tray item, the global shortcut, the updater.
    afterFirstFrame(m_window, [this] { finishLaunching(); });
    QTimer::singleShot(kLaunchFinishDeadline, this, [this] { finishLaunching(); }); // a window never painted
    return Start::running;
}

bool VelloraApp::claimStore(const QString &path)
{
    // Requests are served by the event loop, so the store and the window exist by the time the first one comes.
    SingleInstance::Callbacks callbacks;
    callbacks.showWindow = [this] { bringMainWindowToFront(); };
    callbacks.toggleWindow = [this] { toggleWindow(); };
    callbacks.runCommand = [this](const QJsonObject &command) { return runCommandRequest(command, *m_store); };
    callbacks.syncNow = [this](auto reply) { syncNow(std::move(reply)); };
    m_instance = std::make_unique<SingleInstance>(path, std::move(callbacks));
    switch (m_instance->start()) {
    case SingleInstance::Start::primary:
        return true;
    case SingleInstance::Start::handedOver:
        return false;
    case SingleInstance::Start::failed:
        m_error = m_instance->errorString();
        m_instance.reset();
        return false;
    }
    return false;
}

bool VelloraApp::makeStore(const std::optional<QString> &path)
{
    // Syncs with the account of the account file, whenever there is one; the interface tests' store never does.
    if (path)
        m_sync = std::make_unique<AppSync>();
    m_store = makeAppStore(path, m_sync ? m_sync->setup() : SyncSetup{});
    if (m_sync)
        m_sync->attach(*m_store);
    m_history = std::make_unique<UndoHistory>(*m_store);
    if (!m_store->setAsidePath().isEmpty() && m_store->damage().any()) {
        const QString note = m_store->damage().describe(m_store->setAsidePath());
        m_notice = note.left(1).toUpper() + note.mid(1) + QLatin1Char('.');
    } else if (!m_store->setAsidePath().isEmpty()) {
        m_notice = QStringLiteral("The store file could not be read; it was kept as %1.").arg(m_store->setAsidePath());
    }
    if (path && !m_store->openError().isEmpty()) {
        m_error =
            QStringLiteral("The store %1 cannot be used: %2. Nothing was changed.").arg(*path, m_store->openError());
        return false;
    }
    if (path && !m_store->filePath()) {
        m_error = QStringLiteral("The store file %1 cannot be read or moved aside; nothing was changed.").arg(*path);
        return false;
    }
    return true;
}

void VelloraApp::makeSettings()
{
    QSettings *defaults = m_options.defaults;
    if (!defaults) {
        m_ownDefaults = JsonSettingsFormat::openDefaults();
        defaults = m_ownDefaults.get();
    }
    if (!m_options.loginItems)
        m_options.loginItems = makeLoginItemService();
    if (!m_options.taskbarEntry)
        m_options.taskbarEntry = makeTaskbarEntry();
    if (!m_options.desktopScheme) {
        m_ownDesktopScheme = hasSessionBus()
                                 ? std::make_unique<DesktopColorScheme>()
                                 : std::make_unique<DesktopColorScheme>(QDBusConnection(QStringLiteral("none")));
        m_options.desktopScheme = m_ownDesktopScheme.get();
    }
    m_defaults = defaults;
    m_settings = std::make_unique<AppSettings>(*defaults, *m_options.loginItems, m_options.taskbarEntry.get());
}

void VelloraApp::buildWindow()
{
    QGuiApplication::setDesktopFileName(QStringLiteral("app.vellora.Vellora"));
    m_window = new QMainWindow;
    m_window->setObjectName(QStringLiteral("main"));
    m_window->setWindowTitle(QStringLiteral("Vellora"));
    // The desktop finds the icon through the launcher entry; the window's own copy, which means reading and
    // converting the images, is given once the first frame is up.
    afterFirstFrame(m_window, [this] {
        QGuiApplication::setWindowIcon(appIcon());
        m_window->setWindowIcon(appIcon());
    });
    m_content = new ContentView(*m_store, *m_settings, m_nav, m_options.desktopScheme);
    m_content->setShortcutControlFactory(m_options.makeShortcutControl);
    m_content->setHistory(m_history.get());
    m_content->setSync(m_sync.get());
    m_window->installEventFilter(this);
    m_window->setCentralWidget(m_content);
    buildMenus();
    new MenuBarFocus(m_window->menuBar(), [this] { return m_content ? m_content->focusTarget() : nullptr; });
    m_window->resize(WindowMemory::defaultSize(*m_window, m_window->screen()->availableGeometry()));
    auto *memory = new WindowMemory(m_window, m_defaults);
    connect(qApp, &QCoreApplication::aboutToQuit, memory, &WindowMemory::save);
    // The taskbar entry follows the settings from the window's first showing on.
    m_window->winId();
    m_options.taskbarEntry->setWindow(m_window->windowHandle());
}

void VelloraApp::buildMenus()
{
    QMenuBar *bar = m_window->menuBar();
    const auto add = [this](QMenu *menu, const QString &title, const QKeySequence &shortcut, auto action) {
        QAction *item = menu->addAction(title, this, action);
        item->setShortcut(shortcut);
        m_menuActions.append(item);
        return item;
    };

    // "New Day" stands where a new window would: the app has one main window only.
    QMenu *file = bar->addMenu(QStringLiteral("&File"));
    add(file, QStringLiteral("&New Day"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N), [this] { startNewDay(); });
    file->addSeparator();
    add(file, QStringLiteral("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { quit(); });

    // A row being edited keeps Ctrl+Z for its own text: the field takes the keys before the menu does.
    QMenu *edit = bar->addMenu(QStringLiteral("&Edit"));
    m_undo = add(edit, QStringLiteral("&Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z), [this] { undo(); });
    m_redo = add(edit, QStringLiteral("&Redo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), [this] { redo(); });
    const auto follow = [this] {
        m_undo->setEnabled(m_history->canUndo());
        m_redo->setEnabled(m_history->canRedo());
    };
    connect(m_history.get(), &UndoHistory::availabilityChanged, this, follow);
    follow();
    edit->addSeparator();
    add(edit, QStringLiteral("&Preferences…"), QKeySequence(Qt::CTRL | Qt::Key_Comma),
        [this] { openPage(Navigation::Page::settings); });

    QMenu *view = bar->addMenu(QStringLiteral("&View"));
    add(view, QStringLiteral("&Today"), QKeySequence(Qt::CTRL | Qt::Key_1),
        [this] { openPage(Navigation::Page::today); });
    add(view, QStringLiteral("&Backlog"), QKeySequence(Qt::CTRL | Qt::Key_2),
        [this] { openPage(Navigation::Page::backlog); });
    view->addSeparator();
    QAction *toggle = add(view, QStringLiteral("&Show or Hide Window"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D),
                          [this] { toggleWindow(); });
    // The item shows the global shortcut, whichever the user recorded, and none once it is cleared.
    GlobalShortcuts::followShortcut(toggle, ToggleShortcut::name());

    QMenu *help = bar->addMenu(QStringLiteral("&Help"));
    if (hasUpdateFeed()) {
        m_checkForUpdates = add(help, QStringLiteral("&Check for Updates…"), {}, [this] { checkForUpdates(); });
        m_checkForUpdates->setEnabled(false); // until the updater is up
        help->addSeparator();
    }
    add(help, QStringLiteral("&About Vellora"), {}, [this] { showAbout(); });

    // F10 opens the first menu whatever the style; some give it, most do not.
    auto *openMenus = new QAction(m_window);
    openMenus->setShortcut(QKeySequence(Qt::Key_F10));
    connect(openMenus, &QAction::triggered, bar, [bar] {
        bar->setFocus(Qt::ShortcutFocusReason);
        bar->setActiveAction(bar->actions().value(0));
    });
    m_window->addAction(openMenus);
}

bool VelloraApp::hasUpdateFeed() const
{
    if (m_options.updateManager)
        return m_options.updateManager->updater().hasFeed();
    return !QStringLiteral(VELLORA_APPCAST_URL).isEmpty();
}

QAction *VelloraApp::menuAction(const QString &title) const
{
    for (QAction *action : m_menuActions) {
        if (QString(action->text()).remove(QLatin1Char('&')) == title)
            return action;
    }
    return nullptr;
}

void VelloraApp::buildTray()
{
    m_trayMenu = std::make_unique<QMenu>();
    m_trayMenu->setObjectName(QStringLiteral("trayMenu"));
    QMenu *menu = m_trayMenu.get();
    menu->addAction(QStringLiteral("Open Vellora"), this, [this] { openPage(Navigation::Page::today); });
    menu->addAction(QStringLiteral("Backlog"), this, [this] { openPage(Navigation::Page::backlog); });
    // Changes the sheet without bringing the window forward.
    menu->addAction(QStringLiteral("New Day"), this, [this] { startNewDay(); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("About Vellora"), this, [this] { showAbout(); });
    menu->addAction(QStringLiteral("Settings…"), this, [this] { openPage(Navigation::Page::settings); });
    menu->addAction(QStringLiteral("Send Feedback"), this, [this] { openURL(QLatin1String(kFeedbackURL)); });
    menu->addAction(QStringLiteral("More Apps by the Maker…"), this, [this] { openURL(QLatin1String(kMoreAppsURL)); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Quit Vellora"), this, [this] { quit(); });

    m_tray = new QSystemTrayIcon(appIcon());
    m_tray->setToolTip(QStringLiteral("Vellora"));
    m_tray->setContextMenu(menu);
    // As Linux tray items do: a left click shows or hides the window, the right button opens the menu.
    // The click itself may take the focus to the tray: a window that was in front until a moment ago still counts
    // as in front.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive)
            m_sinceActive.start();
    });
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // A second click soon after the first comes as a double click: it toggles again.
        if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick)
            return;
        const bool shown = m_window->isVisible() && !m_window->isMinimized();
        const bool justInFront = m_sinceActive.isValid() && m_sinceActive.elapsed() < kTrayClickFocusMs;
        if (shown && !isAppActive() && justInFront)
            hideApp();
        else
            toggleWindow();
    });
    connect(m_settings.get(), &AppSettings::showTrayIconChanged, this, &VelloraApp::followShowTrayIcon);
    followShowTrayIcon();
}

void VelloraApp::followShowTrayIcon()
{
    const bool shown = m_settings->showTrayIcon();
    m_tray->setVisible(shown);
    // With the tray item the app lives on when its window is closed; without it, closing the window ends it, as
    // nothing would be left to bring the window back.
    QGuiApplication::setQuitOnLastWindowClosed(!shown);
}

void VelloraApp::finishLaunching()
{
    if (m_launchFinished)
        return;
    m_launchFinished = true;
    buildTray();

    // The window toggle acts when the keys of its shortcut are released, from any application.
    GlobalShortcuts::setStorage(m_defaults);
    GlobalShortcuts::onKeyUp(ToggleShortcut::name(), [this] { toggleWindow(); });
    m_registeredToggle = true;

    UpdateManager &updates = m_options.updateManager ? *m_options.updateManager : UpdateManager::shared();
    updates.setActivateApp([this] { bringMainWindowToFront(); });
    if (m_checkForUpdates) {
        m_checkForUpdates->setEnabled(updates.state().canCheck());
        connect(&updates.state(), &UpdateState::canCheckChanged, m_checkForUpdates, &QAction::setEnabled);
    }
    m_options.updateManager = &updates;
}

void VelloraApp::openPage(Navigation::Page page)
{
    m_nav.setPage(page);
    bringMainWindowToFront();
}

void VelloraApp::openURL(const QString &address)
{
    const QUrl url(address, QUrl::StrictMode);
    // A text that forms no address that could be opened does nothing.
    if (address.trimmed().isEmpty() || !url.isValid() || url.isRelative())
        return;
    const bool opened = m_options.openUrl ? m_options.openUrl(url) : QDesktopServices::openUrl(url);
    if (opened)
        return;
    // No browser could be started: the address is shown so that it can be copied.
    delete m_link;
    m_link = new LinkDialog(url, m_window);
    m_link->setAttribute(Qt::WA_DeleteOnClose);
    m_link->show();
    m_link->raise();
    m_link->activateWindow();
}

void VelloraApp::startNewDay()
{
    m_history->record(UndoHistory::Kind::newDay, [this] { m_store->startNewDay(QDateTime::currentDateTime()); });
}

void VelloraApp::undo()
{
    m_content->finishEditing();
    m_history->undo();
}

void VelloraApp::redo()
{
    m_content->finishEditing();
    m_history->redo();
}

void VelloraApp::checkForUpdates()
{
    if (m_options.updateManager)
        m_options.updateManager->checkForUpdates();
}

void VelloraApp::showAbout()
{
    unhideApp();
    if (!m_about) {
        // Not modal, so that the app goes on serving commands while it is open.
        m_about = new AboutDialog(
            QLatin1String(kWebsiteURL), [this](const QString &address) { openURL(address); }, m_window);
        m_about->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void VelloraApp::quit()
{
    if (!readyToQuit())
        return;
    if (m_options.quit)
        m_options.quit();
    else
        QCoreApplication::quit();
}

bool VelloraApp::readyToQuit()
{
    if (m_content)
        m_content->keepWhatWasTyped();
    while (m_store->saveError() && !m_store->save()) {
        const QString reason = m_store->saveError().value_or(QString());
        UnsavedChoice choice = UnsavedChoice::stay;
        if (m_options.askAboutUnsaved) {
            choice = m_options.askAboutUnsaved(reason);
        } else {
            switch (UnsavedDialog::ask(reason, m_window)) {
            case UnsavedDialog::Choice::retry:
                choice = UnsavedChoice::retry;
                break;
            case UnsavedDialog::Choice::quit:
                choice = UnsavedChoice::quit;
                break;
            case UnsavedDialog::Choice::stay:
                break;
            }
        }
        if (choice == UnsavedChoice::quit)
            return true;
        if (choice == UnsavedChoice::stay)
            return false;
    }
    return true;
}

bool VelloraApp::eventFilter(QObject *watched, QEvent *event)
{
    // Closing the window keeps what was typed; when it also ends the app, unsaved changes are asked about first.
    if (watched == m_window && event->type() == QEvent::Close) {
        if (QGuiApplication::quitOnLastWindowClosed()) {
            if (!readyToQuit()) {
                event->ignore();
                return true;
            }
        } else if (m_content) {
            m_content->finishEditing();
        }
    }
    return QObject::eventFilter(watched, event);
}

// Hides the app when its window is in front; otherwise brings the window forward, also from hidden or minimised.
// The page shown is not changed.
void VelloraApp::toggleWindow()
{
    const bool windowVisible = m_window && m_window->isVisible() && !m_window->isMinimized();
    if (windowVisible && isAppActive()) {
        hideApp();
        return;
    }
    bringMainWindowToFront();
}

bool VelloraApp::isAppActive() const
{
    // The focus window rather than the active window: a window shown again a moment after it was hidden has the
    // focus before Qt counts it as active.
    return QGuiApplication::focusWindow() != nullptr;
}

void VelloraApp::hideApp()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (!isHideable(widget))
            continue;
        m_hiddenWindows.append(widget);
        widget->hide();
    }
}

void VelloraApp::unhideApp()
{
    const QList<QPointer<QWidget>> hidden = std::exchange(m_hiddenWindows, {});
    for (const QPointer<QWidget> &widget : hidden) {
        if (widget && widget != m_window)
            widget->show();
    }
}

void VelloraApp::bringMainWindowToFront()
{
    unhideApp();
    if (!m_window)
        return;
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    giveKeyboardFocus(m_window->windowHandle());
}

void VelloraApp::syncNow(std::function<void(const QJsonObject &answer)> reply)
{
    if (!m_sync)
        return reply(InstanceChannel::errorAnswer(QStringLiteral("this Vellora does not sync")));
    m_sync->syncNow([reply = std::move(reply)](const std::optional<QString> &reason) {
        reply(reason ? InstanceChannel::errorAnswer(*reason) : InstanceChannel::okAnswer());
    });
}
