#pragma once

#include <QObject>

#include <functional>
#include <memory>

class Updater;

// UpdateManager::State: whether a check can start now. Moc does not take nested classes, so it is named here.
class UpdateState : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    bool canCheck() const { return m_canCheck; }
    void setCanCheck(bool canCheck);

signals:
    void canCheckChanged(bool canCheck);

private:
    bool m_canCheck = true;
};

// Runs the updater for the app: starts its background checks when made, mirrors whether a check can start now
// into `state` (which the "Check for Updates…" command follows), and runs the checks the user asks for.
// One shared instance, made on first use and kept for the whole run, on the main thread.
class UpdateManager : public QObject
{
    Q_OBJECT

public:
    // What the interface observes.
    using State = UpdateState;

    // Takes the updater and starts it. activateApp brings the app to the front before a check shows its result.
    UpdateManager(std::unique_ptr<Updater> updater, std::function<void()> activateApp = {}, QObject *parent = nullptr);
    ~UpdateManager() override;

    // The app's instance: the feed fixed at build time, this version, results in a dialog; a child of the
    // application object. setActivateApp wires the window's activation once the app has one.
    static UpdateManager &shared();
    void setActivateApp(std::function<void()> activateApp) { m_activateApp = std::move(activateApp); }

    State &state() { return m_state; }
    Updater &updater() { return *m_updater; }

    void checkForUpdates();

private:
    void reportCanCheck();

    State m_state;
    std::unique_ptr<Updater> m_updater;
    std::function<void()> m_activateApp;
};
