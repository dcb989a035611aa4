#pragma once

#include "Vellora/Shell/AboutDialog.h"
#include "Vellora/Shell/ContentView.h"
#include "Vellora/Shell/LinkDialog.h"
#include "Vellora/Shell/Navigation.h"
#include "Vellora/Shell/UpdateDialog.h"
#include "Vellora/Shell/VelloraApp.h"

#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

// The window's side of the app: the main window with its menus, the tray item, hiding and showing, the global
// shortcut that toggles the window, and the updater. It carries out the menu commands; every change of an item
// goes through the app's store. Made by VelloraApp once the store and the settings exist.
class WindowController : public QObject
{
    Q_OBJECT

public:
    static constexpr auto kWebsiteURL = "https://vellora.app";
    static constexpr auto kFeedbackURL = "https://vellora.app/feedback";
    static constexpr auto kMoreAppsURL = "https://vellora.app/apps";
    // The launch finishes once the window's first frame is up, or after this long without one.
    static constexpr std::chrono::milliseconds kLaunchFinishDeadline{2000};
    // How long after losing the focus a click on the tray item still counts as made on a window in front.
    static constexpr qint64 kTrayClickFocusMs = 1000;

    WindowController(VelloraApp &app, VelloraApp::Options &options);
    ~WindowController() override;

    // Shows the window; what its first frame does not show (tray item, global shortcut, updater) follows it.
    void show();
    // Whether the part of the launch that waits for the first frame is done.
    bool isLaunchFinished() const { return m_launchFinished; }

    QMainWindow *mainWindow() { return &m_window; }
    ContentView *contentView() const { return m_content; }
    // The tray item and its menu, from the end of the launch on; the item is visible exactly while showTrayIcon
    // is on.
    QSystemTrayIcon *trayIcon() const { return m_tray.get(); }
    QMenu *trayMenu() const { return m_trayMenu.get(); }
    AboutDialog *aboutBox() const { return m_about; }
    // The address that no browser could open, while it is shown.
    LinkDialog *linkDialog() const { return m_link; }
    // The main window's menu command of that title without its mnemonic ("New Day", "Show or Hide Window"…), null
    // when there is none.
    QAction *menuAction(const QString &title) const;

    // The menu commands.
    void openPage(Navigation::Page page);
    void openURL(const QString &address);
    void startNewDay();
    // Hides the app when its window is in front; otherwise brings the window forward, also from hidden or
    // minimised. The page shown is not changed.
    void toggleWindow();
    void bringMainWindowToFront();
    void showAbout();
    void checkForUpdates();
    void undo();
    void redo();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
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
    bool isAppActive() const;

    VelloraApp &m_app;
    VelloraApp::Options &m_options;
    bool m_launchFinished = false;

    // Declared so that each goes before what it uses: the tray before its menu, the updater before the dialog it
    // shows its results in.
    UpdateDialog m_updateDialog;
    std::unique_ptr<Updater> m_ownUpdater;
    QMainWindow m_window;
    QPointer<ContentView> m_content;
    QList<QAction *> m_menuActions;
    QAction *m_checkForUpdates = nullptr;
    QAction *m_undo = nullptr;
    QAction *m_redo = nullptr;
    std::unique_ptr<QMenu> m_trayMenu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QPointer<AboutDialog> m_about;
    QPointer<LinkDialog> m_link;
    QList<QPointer<QWidget>> m_hiddenWindows;
    QElapsedTimer m_sinceActive; // since the app last lost the focus to another application
};
