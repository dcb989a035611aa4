#pragma once

#include "Vellora/Platform/LoginItemService.h"
#include "Vellora/Platform/TaskbarEntry.h"
#include "Vellora/Shell/Navigation.h"
#include "Vellora/Shell/SettingsView.h"
#include "Vellora/Shell/UnsavedDialog.h"
#include "Vellora/Sync/AppStore.h"

#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class AppSettings;
class AppSync;
class DayStore;
class DesktopColorScheme;
class QSettings;
class SingleInstance;
class UndoHistory;
class Updater;
class WindowController;

// The application's life: at launch it claims the store file (or, when another Vellora has it, asks that one to
// show its window and ends), makes the one store with its sync, the settings and the navigation, then the window's
// controller. It serves the requests of the app's socket and decides when the app may end. Lives on the main
// thread; a QApplication must exist.
class VelloraApp : public QObject
{
    Q_OBJECT

public:
    static constexpr auto kUITestsArgument = "-uitests";

    // The answer to quitting while changes could not be saved.
    using UnsavedChoice = UnsavedDialog::Choice;
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
        Updater *updater = nullptr;                  // one on the build's update feed when null
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

    DayStore &store() const { return *m_store; }
    AppSync *sync() const { return m_sync.get(); }
    UndoHistory &history() const { return *m_history; }
    QSettings &defaults() const { return *m_defaults; }
    AppSettings &settings() const { return *m_settings; }
    Navigation &nav() { return m_nav; }
    SingleInstance *instance() const { return m_instance.get(); }
    // The window, its menus and the tray item, from a running start on.
    WindowController &window() const { return *m_window; }

    // Ends the app once readyToQuit allows it.
    void quit();
    // Whether the app may end now: what is typed in a row is kept, and changes that could not be saved are tried
    // once more, then the person decides.
    bool readyToQuit();

private:
    bool claimStore(const QString &path);
    bool makeStore(const std::optional<QString> &path);
    // A sync round asked for by `vellora sync`; answers on the channel when it ends.
    void syncNow(std::function<void(const QJsonObject &answer)> reply);
    void makeSettings();

    Options m_options;
    QString m_error;
    QString m_notice;

    // Declared in the order of their making: each is destroyed before what it uses.
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<AppSync> m_sync; // before the store, which it outlives
    std::unique_ptr<AppStore> m_store;
    std::unique_ptr<UndoHistory> m_history;
    std::unique_ptr<QSettings> m_ownDefaults;
    QSettings *m_defaults = nullptr;
    std::unique_ptr<DesktopColorScheme> m_ownDesktopScheme;
    std::unique_ptr<AppSettings> m_settings;
    Navigation m_nav;
    std::unique_ptr<WindowController> m_window; // its views observe all of the above
};
