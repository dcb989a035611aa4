#include "Vellora/Shell/UpdateManager.h"

#include "Vellora/Platform/JsonSettingsFormat.h"
#include "Vellora/Shell/UpdateDialog.h"
#include "Vellora/Shell/Updater.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSettings>

void UpdateState::setCanCheck(bool canCheck)
{
    if (m_canCheck == canCheck)
        return;
    m_canCheck = canCheck;
    emit canCheckChanged(canCheck);
}

UpdateManager::UpdateManager(std::unique_ptr<Updater> updater, std::function<void()> activateApp, QObject *parent)
    : QObject(parent), m_updater(std::move(updater)), m_activateApp(std::move(activateApp))
{
    connect(m_updater.get(), &Updater::canCheckForUpdatesChanged, this, &UpdateManager::reportCanCheck);
    reportCanCheck();
    m_updater->startUpdater();
}

UpdateManager::~UpdateManager() = default;

// Each report reads the updater's value at that moment, not the one the report carries, and hands it on through
// the event loop, so that the state always ends on the updater's latest value.
void UpdateManager::reportCanCheck()
{
    const bool canCheck = m_updater->canCheckForUpdates();
    QMetaObject::invokeMethod(
        this, [this, canCheck] { m_state.setCanCheck(canCheck); }, Qt::QueuedConnection);
}

void UpdateManager::checkForUpdates()
{
    if (m_activateApp)
        m_activateApp();
    m_updater->checkForUpdates();
}

namespace {

// The shared instance's parts that must outlive the manager: the defaults and the dialog.
struct SharedParts
{
    std::unique_ptr<QSettings> defaults = JsonSettingsFormat::openDefaults();
    UpdateDialog dialog;
};

} // namespace

UpdateManager &UpdateManager::shared()
{
    static QPointer<UpdateManager> instance;
    if (!instance) {
        auto *parts = new SharedParts;
        Updater::Options options;
        options.feedUrl = QUrl(QStringLiteral(VELLORA_APPCAST_URL));
        options.currentVersion = QStringLiteral(VELLORA_VERSION);
        options.defaults = parts->defaults.get();
        auto updater = std::make_unique<Updater>(options, parts->dialog);
        instance = new UpdateManager(std::move(updater), {}, QCoreApplication::instance());
        QObject::connect(instance, &QObject::destroyed, [parts] { delete parts; });
    }
    return *instance;
}
