#pragma once

#include "Vellora/Sync/AppStore.h"
#include "Vellora/Platform/TaskbarEntry.h"
#include "Vellora/Platform/LoginItemService.h"
#include "Vellora/Shell/AboutDialog.h"
#include "Vellora/Shell/ContentView.h"
#include "Vellora/Shell/LinkDialog.h"
#include "Vellora/Shell/Navigation.h"
#include "Vellora/Shell/SettingsView.h"

#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <QJsonObject>

#include <functional>
#include <memory>
#include <optional>

class AppSettings;
class AppSync;
class DayStore;
class DesktopColorScheme;
class QAction;
class QMenu;
class QSettings;
class QSystemTrayIcon;
class SingleInstance;
class UndoHistory;
class UpdateManager;

// The application: at launch it claims the store file (or, when another Vellora has it, asks that one to show its
// window and ends), makes the one store, the settings and the navigation, the main window with its menus, and the
// tray item while the settings ask for it. It owns them all for the whole run and carries out the menu commands.
// Lives on the main thread; a QApplication must exist.
class VelloraApp : public QObject
{
    Q_OBJECT

public:
    static constexpr auto kUITestsArgument = "-uitests";
    static constexpr auto kWebsiteURL = "https://vellora.app";
    static constexpr auto kFeedbackURL = "https://vellora.app/feedback";
    static constexpr auto kMoreAppsURL = "https://vellora.app/apps";
    // The launch finishes once the window's first frame is up, or after this long without one.
    static constexpr std::chrono::milliseconds kLaunchFinishDeadline{2000};
    // How long after losing the focus a click on the tray item still counts as made on a window in front.
    static constexpr qint64 kTrayClickFocusMs = 1000;

    // The answer to quitting while changes could not be saved.
    enum class UnsavedChoice { retry, quit, stay };
    using UnsavedQuestion = std::function<UnsavedChoice(const QString &reason)>;

    // What the launch is given. Empty parts are made the way the installed app makes them; tests hand in their own.
    struct Options
    {
        QStringList arguments;            // the launch arguments, searched for "-uitests"
        std::optional<QString> storePath; // the store file; unused with "-uitests"
        QSettings *defaults = nullptr;    // the user defaults
        std::unique_ptr<LoginItemService> loginItems;
        std::unique_ptr<TaskbarEntry> taskbarEntry;
        DesktopColorScheme *desktopScheme = nullptr; // what the `auto` appearance follows
        UpdateManager *updateManager = nullptr;      // the shared one when null
        // Hands an address to the desktop, false when no browser could be started; QDesktopServices when empty.
        std::function<bool(const QUrl &)> openUrl;
        std::function<void()> quit; // ends the app; QCoreApplication::quit when empty
        SettingsView::ShortcutControlFactory makeShortcutControl;
        UnsavedQuestion askAboutUnsaved; // a message box when empty
    };

    enum class Start {
        running,    // the window is up and the app serves the store
        handedOver, // another Vellora has the store and shows its window: this process ends with success
        failed,     // errorString() says why
    };

    explicit VelloraApp(Options options, QObject *parent = nullptr);
    ~VelloraApp() override;

    // Only the exact argument counts: one that merely begins with it is someone else's.
    static bool isUITestLaunch(const QStringList &arguments);

    Start start();
    QString errorString() const { return m_error; }
    // What the user should know although the app runs (a store file that could not be read and was set aside).
    QString notice() const { return m_notice; }
    // Whether the part of the launch that waits for the first frame (tray item, global shortcut, updater) is done.
    bool isLaunchFinished() const { return m_launchFinished; }

    DayStore &store() const { return *m_store; }
    AppSettings &settings() const { return *m_settings; }
    Navigation &nav() { return m_nav; }
    UndoHistory &history() const { return *m_history; }
    QMainWindow *mainWindow() const { return m_window; }
    ContentView *contentView() const { return m_content; }
    // The tray item and its menu, from the end of the launch on; the item is visible exactly while showTrayIcon
    // is on.
    QSystemTrayIcon *trayIcon() const { return m_tray; }
    QMenu *trayMenu() const { return m_trayMenu.get(); }
    AboutDialog *aboutBox() const { return m_about; }
    // The address that no browser could open, while it is shown.
    LinkDialog *linkDialog() const { return m_link; }
    SingleInstance *instance() const { return m_instance.get(); }
    // The main window's menu command of that title without its mnemonic ("New Day", "Show or Hide Window"…), null
    // when there is none.
    QAction *menuAction(const QString &title) const;

    // The menu commands.
    void openPage(Navigation::Page page);
    void openURL(const QString &address);
    void startNewDay();
    void toggleWindow();
    void showAbout();
    void checkForUpdates();
    void quit();
    void undo();
    void redo();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Whether the app may end now: what is typed in a row is kept, and changes that could not be saved are tried
    // once more, then the person decides.
    bool readyToQuit();
    bool claimStore(const QString &path);
    bool makeStore(const std::optional<QString> &path);
    // A sync round asked for by `vellora sync`; answers on the channel when it ends.
    void syncNow(std::function<void(const QJsonObject &answer)> reply);
    void makeSettings();
    void buildWindow();
    void buildMenus();
    // Whether this build names an update feed; packages of a distribution update through its package manager.
    bool hasUpdateFeed() const;
    void buildTray();
    void followShowTrayIcon();
    void finishLaunching();
    // The platform's hide and unhide: every window of the app goes, and comes back as it was.
    void hideApp();
    void unhideApp();
    void bringMainWindowToFront();
    bool isAppActive() const;

    Options m_options;
    bool m_uiTests = false;
    QString m_error;
    QString m_notice;

    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<AppSync> m_sync; // before the store, which it outlives
    std::unique_ptr<AppStore> m_store;
    std::unique_ptr<UndoHistory> m_history;
    std::unique_ptr<QSettings> m_ownDefaults;
    QSettings *m_defaults = nullptr;
    bool m_registeredToggle = false;
    bool m_launchFinished = false;
    std::unique_ptr<DesktopColorScheme> m_ownDesktopScheme;
    std::unique_ptr<AppSettings> m_settings;
    Navigation m_nav;

    QPointer<QMainWindow> m_window;
    QPointer<ContentView> m_content;
    QList<QAction *> m_menuActions;
    QAction *m_checkForUpdates = nullptr;
    QAction *m_undo = nullptr;
    QAction *m_redo = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    std::unique_ptr<QMenu> m_trayMenu;
    QPointer<AboutDialog> m_about;
    QPointer<LinkDialog> m_link;
    QList<QPointer<QWidget>> m_hiddenWindows;
    QElapsedTimer m_sinceActive; // since the app last lost the focus to another application
};
