#include "Vellora/Shell/VelloraApp.h"

#include "Vellora/Commands/CommandRunner.h"
#include "Vellora/DayData/DayStore.h"
#include "Vellora/Platform/DesktopColorScheme.h"
#include "Vellora/Platform/JsonSettingsFormat.h"
#include "Vellora/Platform/SingleInstance.h"
#include "Vellora/Sheet/UndoHistory.h"
#include "Vellora/Shell/AppSettings.h"
#include "Vellora/Shell/WindowController.h"
#include "Vellora/Sync/AppStore.h"
#include "Vellora/Sync/AppSync.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFileInfo>
#include <QSettings>

namespace {

// Whether the session has a message bus to ask. Without one, asking would start a bus of its own (autolaunch) just
// to learn the desktop's colour preference; the palette tells it then.
bool hasSessionBus()
{
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
           QFileInfo::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus"));
}

} // namespace

VelloraApp::VelloraApp(Options options, QObject *parent) : QObject(parent), m_options(std::move(options)) {}

VelloraApp::~VelloraApp() = default;

bool VelloraApp::isUITestLaunch(const QStringList &arguments)
{
    return arguments.contains(QLatin1String(kUITestsArgument));
}

// The launch, in order: the store's place and its claim, the store, the settings and the navigation, then the
// window with its menus; the tray item and the updater follow its first frame.
VelloraApp::Start VelloraApp::start()
{
    QCoreApplication::setApplicationVersion(QStringLiteral(VELLORA_VERSION));
    std::optional<QString> path;
    if (!isUITestLaunch(m_options.arguments)) {
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
    m_window = std::make_unique<WindowController>(*this, m_options);
    m_window->show();
    return Start::running;
}

bool VelloraApp::claimStore(const QString &path)
{
    // Requests are served by the event loop, so the store and the window exist by the time the first one comes.
    SingleInstance::Callbacks callbacks;
    callbacks.showWindow = [this] { m_window->bringMainWindowToFront(); };
    callbacks.toggleWindow = [this] { m_window->toggleWindow(); };
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
    m_defaults = m_options.defaults;
    if (!m_defaults) {
        m_ownDefaults = JsonSettingsFormat::openDefaults();
        m_defaults = m_ownDefaults.get();
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
    m_settings = std::make_unique<AppSettings>(*m_defaults, *m_options.loginItems, m_options.taskbarEntry.get());
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
    if (m_window)
        m_window->contentView()->keepWhatWasTyped();
    while (m_store->saveError() && !m_store->save()) {
        const QString reason = m_store->saveError().value_or(QString());
        const UnsavedChoice choice = m_options.askAboutUnsaved
                                         ? m_options.askAboutUnsaved(reason)
                                         : UnsavedDialog::ask(reason, m_window ? m_window->mainWindow() : nullptr);
        if (choice != UnsavedChoice::retry)
            return choice == UnsavedChoice::quit;
    }
    return true;
}

void VelloraApp::syncNow(std::function<void(const QJsonObject &answer)> reply)
{
    if (!m_sync)
        return reply(InstanceChannel::errorAnswer(QStringLiteral("this Vellora does not sync")));
    m_sync->syncNow([reply = std::move(reply)](const std::optional<QString> &reason) {
        reply(reason ? InstanceChannel::errorAnswer(*reason) : InstanceChannel::okAnswer());
    });
}
