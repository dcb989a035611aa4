#include "Vellora/Shell/WindowController.h"

#include "GlobalShortcuts/ActionShortcut.h"
#include "Vellora/DayData/DayStore.h"
#include "Vellora/Platform/WindowFocus.h"
#include "Vellora/Sheet/UndoHistory.h"
#include "Vellora/Shell/AboutDialog.h"
#include "Vellora/Shell/AppSettings.h"
#include "Vellora/Shell/ContentView.h"
#include "Vellora/Shell/FirstFrame.h"
#include "Vellora/Shell/LinkDialog.h"
#include "Vellora/Shell/MenuBarFocus.h"
#include "Vellora/Shell/ToggleShortcut.h"
#include "Vellora/Shell/Updater.h"
#include "Vellora/Shell/WindowMemory.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
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

} // namespace

WindowController::WindowController(VelloraApp &app, VelloraApp::Options &options) : m_app(app), m_options(options)
{
    buildWindow();
}

WindowController::~WindowController()
{
    if (m_launchFinished) {
        GlobalShortcuts::removeActions(ToggleShortcut::name());
        if (GlobalShortcuts::storage() == &m_app.defaults())
            GlobalShortcuts::setStorage(nullptr);
    }
}

void WindowController::show()
{
    m_window.show();
    afterFirstFrame(&m_window, [this] { finishLaunching(); });
    QTimer::singleShot(kLaunchFinishDeadline, this, [this] { finishLaunching(); }); // a window never painted
}

void WindowController::buildWindow()
{
    QGuiApplication::setDesktopFileName(QStringLiteral("app.vellora.Vellora"));
    m_window.setObjectName(QStringLiteral("main"));
    m_window.setWindowTitle(QStringLiteral("Vellora"));
    // The desktop finds the icon through the launcher entry; the window's own copy, which means reading and
    // converting the images, is given once the first frame is up.
    afterFirstFrame(&m_window, [this] {
        QGuiApplication::setWindowIcon(appIcon());
        m_window.setWindowIcon(appIcon());
    });
    m_content = new ContentView(m_app.store(), m_app.settings(), m_app.nav(), m_options.desktopScheme);
    m_content->setShortcutControlFactory(m_options.makeShortcutControl);
    m_content->setHistory(&m_app.history());
    m_content->setSync(m_app.sync());
    m_window.installEventFilter(this);
    m_window.setCentralWidget(m_content);
    buildMenus();
    new MenuBarFocus(m_window.menuBar(), [this] { return m_content ? m_content->focusTarget() : nullptr; });
    m_window.resize(WindowMemory::defaultSize(m_window, m_window.screen()->availableGeometry()));
    auto *memory = new WindowMemory(&m_window, &m_app.defaults());
    connect(qApp, &QCoreApplication::aboutToQuit, memory, &WindowMemory::save);
    // The taskbar entry follows the settings from the window's first showing on.
    m_window.winId();
    m_options.taskbarEntry->setWindow(m_window.windowHandle());
}

void WindowController::buildMenus()
{
    QMenuBar *bar = m_window.menuBar();
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
    add(file, QStringLiteral("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { m_app.quit(); });

    // A row being edited keeps Ctrl+Z for its own text: the field takes the keys before the menu does.
    QMenu *edit = bar->addMenu(QStringLiteral("&Edit"));
    m_undo = add(edit, QStringLiteral("&Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z), [this] { undo(); });
    m_redo = add(edit, QStringLiteral("&Redo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), [this] { redo(); });
    const auto follow = [this] {
        m_undo->setEnabled(m_app.history().canUndo());
        m_redo->setEnabled(m_app.history().canRedo());
    };
    connect(&m_app.history(), &UndoHistory::availabilityChanged, this, follow);
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
    auto *openMenus = new QAction(&m_window);
    openMenus->setShortcut(QKeySequence(Qt::Key_F10));
    connect(openMenus, &QAction::triggered, bar, [bar] {
        bar->setFocus(Qt::ShortcutFocusReason);
        bar->setActiveAction(bar->actions().value(0));
    });
    m_window.addAction(openMenus);
}

bool WindowController::hasUpdateFeed() const
{
    if (m_options.updater)
        return m_options.updater->hasFeed();
    return !QStringLiteral(VELLORA_APPCAST_URL).isEmpty();
}

QAction *WindowController::menuAction(const QString &title) const
{
    for (QAction *action : m_menuActions) {
        if (QString(action->text()).remove(QLatin1Char('&')) == title)
            return action;
    }
    return nullptr;
}

void WindowController::buildTray()
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
    menu->addAction(QStringLiteral("Quit Vellora"), this, [this] { m_app.quit(); });

    m_tray = std::make_unique<QSystemTrayIcon>(appIcon());
    m_tray->setToolTip(QStringLiteral("Vellora"));
    m_tray->setContextMenu(menu);
    // As Linux tray items do: a left click shows or hides the window, the right button opens the menu.
    // The click itself may take the focus to the tray: a window that was in front until a moment ago still counts
    // as in front.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive)
            m_sinceActive.start();
    });
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // A second click soon after the first comes as a double click: it toggles again.
        if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick)
            return;
        const bool shown = m_window.isVisible() && !m_window.isMinimized();
        const bool justInFront = m_sinceActive.isValid() && m_sinceActive.elapsed() < kTrayClickFocusMs;
        if (shown && !isAppActive() && justInFront)
            hideApp();
        else
            toggleWindow();
    });
    connect(&m_app.settings(), &AppSettings::showTrayIconChanged, this, &WindowController::followShowTrayIcon);
    followShowTrayIcon();
}

void WindowController::followShowTrayIcon()
{
    const bool shown = m_app.settings().showTrayIcon();
    m_tray->setVisible(shown);
    // With the tray item the app lives on when its window is closed; without it, closing the window ends it, as
    // nothing would be left to bring the window back.
    QGuiApplication::setQuitOnLastWindowClosed(!shown);
}

void WindowController::finishLaunching()
{
    if (m_launchFinished)
        return;
    m_launchFinished = true;
    buildTray();

    // The window toggle acts when the keys of its shortcut are released, from any application.
    GlobalShortcuts::setStorage(&m_app.defaults());
    GlobalShortcuts::onKeyUp(ToggleShortcut::name(), [this] { toggleWindow(); });

    if (!m_options.updater) {
        Updater::Options feed{QUrl(QStringLiteral(VELLORA_APPCAST_URL)), QStringLiteral(VELLORA_VERSION),
                              &m_app.defaults()};
        m_ownUpdater = std::make_unique<Updater>(feed, [this](const auto &result) { m_updateDialog.present(result); });
        m_options.updater = m_ownUpdater.get();
    }
    m_options.updater->startUpdater();
    if (m_checkForUpdates) {
        m_checkForUpdates->setEnabled(m_options.updater->canCheckForUpdates());
        connect(m_options.updater, &Updater::canCheckForUpdatesChanged, m_checkForUpdates, &QAction::setEnabled);
    }
}

void WindowController::openPage(Navigation::Page page)
{
    m_app.nav().setPage(page);
    bringMainWindowToFront();
}

void WindowController::openURL(const QString &address)
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
    m_link = new LinkDialog(url, &m_window);
    m_link->setAttribute(Qt::WA_DeleteOnClose);
    m_link->show();
    m_link->raise();
    m_link->activateWindow();
}

void WindowController::startNewDay()
{
    m_app.history().record(UndoHistory::Kind::newDay,
                           [this] { m_app.store().startNewDay(QDateTime::currentDateTime()); });
}

void WindowController::undo()
{
    m_content->finishEditing();
    m_app.history().undo();
}

void WindowController::redo()
{
    m_content->finishEditing();
    m_app.history().redo();
}

void WindowController::checkForUpdates()
{
    if (!m_options.updater)
        return;
    bringMainWindowToFront();
    m_options.updater->checkForUpdates();
}

void WindowController::showAbout()
{
    unhideApp();
    if (!m_about) {
        // Not modal, so that the app goes on serving commands while it is open.
        m_about = new AboutDialog(
            QLatin1String(kWebsiteURL), [this](const QString &address) { openURL(address); }, &m_window);
        m_about->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

bool WindowController::eventFilter(QObject *watched, QEvent *event)
{
    // Closing the window keeps what was typed; when it also ends the app, unsaved changes are asked about first.
    if (watched == &m_window && event->type() == QEvent::Close) {
        if (QGuiApplication::quitOnLastWindowClosed()) {
            if (!m_app.readyToQuit()) {
                event->ignore();
                return true;
            }
        } else if (m_content) {
            m_content->finishEditing();
        }
    }
    return QObject::eventFilter(watched, event);
}

void WindowController::toggleWindow()
{
    if (m_window.isVisible() && !m_window.isMinimized() && isAppActive()) {
        hideApp();
        return;
    }
    bringMainWindowToFront();
}

bool WindowController::isAppActive() const
{
    // The focus window rather than the active window: a window shown again a moment after it was hidden has the
    // focus before Qt counts it as active.
    return QGuiApplication::focusWindow() != nullptr;
}

void WindowController::hideApp()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (!isHideable(widget))
            continue;
        m_hiddenWindows.append(widget);
        widget->hide();
    }
}

void WindowController::unhideApp()
{
    const QList<QPointer<QWidget>> hidden = std::exchange(m_hiddenWindows, {});
    for (const QPointer<QWidget> &widget : hidden) {
        if (widget && widget != &m_window)
            widget->show();
    }
}

void WindowController::bringMainWindowToFront()
{
    unhideApp();
    m_window.setWindowState(m_window.windowState() & ~Qt::WindowMinimized);
    m_window.show();
    m_window.raise();
    giveKeyboardFocus(m_window.windowHandle());
}
