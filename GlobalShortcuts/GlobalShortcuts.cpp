#include "GlobalShortcuts/GlobalShortcuts.h"

#include "GlobalShortcuts/HotKey.h"

#include <QCoreApplication>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QSettings>
#include <QTimer>

#include <memory>

namespace GlobalShortcuts {

namespace {

// Everything the module keeps for the run. Made on first use and never torn down: hot keys must not be
// given back to a display connection that is already closed at exit.
struct Registry
{
    QPointer<QSettings> storage;
    QList<Name> madeNames;   // every name made in this run, for setStorage
    QList<Name> actionNames; // names with actions, in the order their first action came
    QHash<QString, QList<Action>> keyDownActions;
    QHash<QString, QList<Action>> keyUpActions;
    QHash<Shortcut, QList<Action>> shortcutKeyDownActions;
    QHash<Shortcut, QList<Action>> shortcutKeyUpActions;
    QSet<QString> suspendedNames;
    QHash<Shortcut, std::shared_ptr<HotKey>> hotKeys;
    bool isEnabled = true;
    bool isRecorderActive = false;
    bool centerScheduled = false;
    Notifier *notifier = nullptr;
};

Registry &registry()
{
    static Registry *instance = new Registry;
    return *instance;
}

QVariant storedObject(const Name &name)
{
    QSettings *settings = registry().storage;
    if (!settings || !settings->contains(name.storageKey()))
        return {};
    return settings->value(name.storageKey());
}

bool isDisabledObject(const QVariant &object)
{
    return object.typeId() == QMetaType::Bool && !object.toBool();
}

void write(const Name &name, const QVariant &object)
{
    QSettings *settings = registry().storage;
    if (object.isValid())
        settings->setValue(name.storageKey(), object);
    else
        settings->remove(name.storageKey());
    // Written at once, so a crash right after the change keeps it.
    settings->sync();
}

bool hasActions(const Name &name)
{
    const Registry &r = registry();
    return !r.keyDownActions.value(name.rawValue()).isEmpty() || !r.keyUpActions.value(name.rawValue()).isEmpty();
}

void applyInitialShortcut(const Name &name)
{
    QSettings *settings = registry().storage;
    if (!settings || !name.initialShortcut() || settings->contains(name.storageKey()))
        return;
    write(name, QString::fromUtf8(name.initialShortcut()->toJsonText()));
}

void scheduleCenterCreation()
{
    Registry &r = registry();
    if (r.centerScheduled || !QCoreApplication::instance())
        return;
    r.centerScheduled = true;
    QTimer::singleShot(0, QCoreApplication::instance(), [] { HotKeyCenter::shared(); });
}

QList<Name> namesUsing(const Shortcut &shortcut)
{
    QList<Name> names;
    for (const Name &name : registry().actionNames) {
        if (!isSuspended(name) && storedShortcut(name) == shortcut)
            names.append(name);
    }
    return names;
}

void dispatch(const Shortcut &shortcut, bool keyDown)
{
    Registry &r = registry();
    if (r.isRecorderActive)
        return;
    // Copies: an action may change the registries (store another shortcut, add an action).
    const QHash<QString, QList<Action>> byName = keyDown ? r.keyDownActions : r.keyUpActions;
    for (const Name &name : namesUsing(shortcut)) {
        for (const Action &action : byName.value(name.rawValue()))
            action();
    }
    const QList<Action> direct = (keyDown ? r.shortcutKeyDownActions : r.shortcutKeyUpActions).value(shortcut);
    for (const Action &action : direct)
        action();
}

bool registerShortcut(const Shortcut &shortcut)
{
    Registry &r = registry();
    if (r.hotKeys.contains(shortcut))
        return true;
    auto hotKey = std::make_shared<HotKey>(
        shortcut, [shortcut] { dispatch(shortcut, true); }, [shortcut] { dispatch(shortcut, false); });
    if (!HotKeyCenter::shared().registerHotKey(hotKey))
        return false;
    HotKey *registered = hotKey.get();
    hotKey->onRegistrationFailed = [shortcut, registered] {
        Registry &r = registry();
        const auto it = r.hotKeys.constFind(shortcut);
        if (it == r.hotKeys.cend() || it->get() != registered)
            return;
        // Kept alive to the end of this call, which runs inside the hot key's own code.
        const std::shared_ptr<HotKey> keep = *it;
        r.hotKeys.remove(shortcut);
        for (const Name &name : namesUsing(shortcut))
            emit notifier().registrationFailed(name);
    };
    r.hotKeys.insert(shortcut, hotKey);
    return true;
}

void unregisterShortcut(const Shortcut &shortcut)
{
    registry().hotKeys.remove(shortcut);
}

void registerName(const Name &name)
{
    if (isSuspended(name) || !hasActions(name))
        return;
    const std::optional<Shortcut> shortcut = storedShortcut(name);
    if (shortcut && !registerShortcut(*shortcut))
        emit notifier().registrationFailed(name);
}

// Gives up the name's current hot key unless something else still needs it.
void unregisterStoredShortcut(const Name &name)
{
    const std::optional<Shortcut> current = storedShortcut(name);
    if (current && !isShortcutInUse(*current, name))
        unregisterShortcut(*current);
}

void rememberActionName(const Name &name)
{
    Registry &r = registry();
    if (!r.actionNames.contains(name))
        r.actionNames.append(name);
}

} // namespace

Name::Name(const QString &rawValue, std::optional<Shortcut> initialShortcut)
    : m_rawValue(rawValue), m_initialShortcut(initialShortcut)
{
    // The latest made name of a text counts: its initial shortcut is the one setStorage applies.
    Registry &r = registry();
    r.madeNames.removeAll(*this);
    r.madeNames.append(*this);
    applyInitialShortcut(*this);
    scheduleCenterCreation();
}

QString Name::storageKey() const
{
    return QLatin1String(kStorageKeyPrefix) + m_rawValue;
}

Notifier &notifier()
{
    Registry &r = registry();
    if (!r.notifier)
        r.notifier = new Notifier;
    return *r.notifier;
}

void setStorage(QSettings *settings)
{
    Registry &r = registry();
    r.storage = settings;
    for (const Name &name : r.madeNames)
        applyInitialShortcut(name);
    // The stored values may differ from the ones registered so far.
    r.hotKeys.clear();
    for (const Name &name : r.actionNames)
        registerName(name);
    for (const Shortcut &shortcut : r.shortcutKeyDownActions.keys() + r.shortcutKeyUpActions.keys())
        registerShortcut(shortcut);
    emit notifier().storageDidChange();
}

QSettings *storage()
{
    return registry().storage;
}

std::optional<Shortcut> storedShortcut(const Name &name)
{
    const QVariant object = storedObject(name);
    switch (object.typeId()) {
    case QMetaType::QString:
        return Shortcut::fromJsonText(object.toString().toUtf8());
    case QMetaType::QByteArray:
        return Shortcut::fromJsonText(object.toByteArray());
    default:
        return std::nullopt;
    }
}

void storeShortcut(const std::optional<Shortcut> &shortcut, const Name &name)
{
    if (!registry().storage)
        return;
    if (shortcut) {
        const QByteArray text = shortcut->toJsonText();
        if (text.isEmpty())
            return;
        unregisterStoredShortcut(name);
        write(name, QString::fromUtf8(text));
    } else {
        const QVariant current = storedObject(name);
        if (name.initialShortcut() ? isDisabledObject(current) : !current.isValid())
            return;
        unregisterStoredShortcut(name);
        // A cleared name with an initial shortcut keeps false, so the initial one is not applied again.
        write(name, name.initialShortcut() ? QVariant(false) : QVariant());
    }
    registerName(name);
    emit notifier().shortcutByNameDidChange(name);
}

void reset(const Name &name)
{
    storeShortcut(name.initialShortcut(), name);
}

void addKeyDownAction(const Name &name, Action action)
{
    registry().keyDownActions[name.rawValue()].append(std::move(action));
    rememberActionName(name);
    registerName(name);
}

void addKeyUpAction(const Name &name, Action action)
{
    registry().keyUpActions[name.rawValue()].append(std::move(action));
    rememberActionName(name);
    registerName(name);
}

void onKeyDown(const Shortcut &shortcut, Action action)
{
    registry().shortcutKeyDownActions[shortcut].append(std::move(action));
    registerShortcut(shortcut);
}

void onKeyUp(const Shortcut &shortcut, Action action)
{
    registry().shortcutKeyUpActions[shortcut].append(std::move(action));
    registerShortcut(shortcut);
}

void removeActions(const Name &name)
{
    Registry &r = registry();
    const std::optional<Shortcut> current = storedShortcut(name);
    r.keyDownActions.remove(name.rawValue());
    r.keyUpActions.remove(name.rawValue());
    r.actionNames.removeAll(name);
    if (current && !isShortcutInUse(*current, name))
        unregisterShortcut(*current);
}

void removeAllActions()
{
    Registry &r = registry();
    r.keyDownActions.clear();
    r.keyUpActions.clear();
    r.shortcutKeyDownActions.clear();
    r.shortcutKeyUpActions.clear();
    r.actionNames.clear();
    r.suspendedNames.clear();
    r.hotKeys.clear();
}

void suspend(const Name &name)
{
    Registry &r = registry();
    if (r.suspendedNames.contains(name.rawValue()))
        return;
    r.suspendedNames.insert(name.rawValue());
    const std::optional<Shortcut> current = storedShortcut(name);
    if (current && !isShortcutInUse(*current, name))
        unregisterShortcut(*current);
}

void resume(const Name &name)
{
    if (registry().suspendedNames.remove(name.rawValue()))
        registerName(name);
}

bool isSuspended(const Name &name)
{
    return registry().suspendedNames.contains(name.rawValue());
}

void setEnabled(bool enabled)
{
    registry().isEnabled = enabled;
    HotKeyCenter::shared().setEnabled(enabled);
}

bool isEnabled()
{
    return registry().isEnabled;
}

void setRecorderActive(bool active)
{
    Registry &r = registry();
    if (r.isRecorderActive == active)
        return;
    r.isRecorderActive = active;
    emit notifier().recorderActiveStatusDidChange(active);
}

bool isRecorderActive()
{
    return registry().isRecorderActive;
}

bool hotKeysAvailable()
{
    return HotKeyCenter::shared().backend().isAvailable();
}

bool isRegistered(const Name &name)
{
    if (isSuspended(name) || !hasActions(name))
        return false;
    const std::optional<Shortcut> shortcut = storedShortcut(name);
    return shortcut && registry().hotKeys.contains(*shortcut);
}

Refusal refusal(const Name &name)
{
    if (!storedShortcut(name) || isRegistered(name))
        return Refusal::none;
    const HotKeyBackend &backend = HotKeyCenter::shared().backend();
    if (!backend.isAvailable())
        return Refusal::noHotKeys;
    return backend.desktopDecides() ? Refusal::declinedByDesktop : Refusal::takenByAnotherApplication;
}

bool isShortcutInUse(const Shortcut &shortcut, const Name &except)
{
    const Registry &r = registry();
    for (const Name &name : r.actionNames) {
        if (name != except && !isSuspended(name) && storedShortcut(name) == shortcut)
            return true;
    }
    return !r.shortcutKeyDownActions.value(shortcut).isEmpty() || !r.shortcutKeyUpActions.value(shortcut).isEmpty();
}

} // namespace GlobalShortcuts
