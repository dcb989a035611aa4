#include "GlobalShortcuts/GlobalShortcuts.h"

#include "GlobalShortcuts/HotKeyCenter.h"

#include <QCoreApplication>
#include <QHash>
#include <QPointer>
#include <QSettings>
#include <QTimer>

namespace GlobalShortcuts {

namespace {

// Everything the module keeps for the run, made on first use and never torn down.
struct Registry
{
    QPointer<QSettings> storage;
    QList<Name> madeNames;   // every name made in this run, for setStorage
    QList<Name> actionNames; // names with actions, in the order their first action came
    QHash<QString, QList<Action>> keyDownActions;
    QHash<QString, QList<Action>> keyUpActions;
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
    return settings ? settings->value(name.storageKey()) : QVariant();
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

// Gives the name its initial shortcut when nothing is stored, and rewrites a value of the earlier form as text.
void prepareStoredValue(const Name &name)
{
    QSettings *settings = registry().storage;
    if (!settings)
        return;
    const QVariant object = storedObject(name);
    if (!object.isValid() && name.initialShortcut()) {
        write(name, portableText(*name.initialShortcut()));
    } else if (object.typeId() == QMetaType::QString && object.toString().startsWith(QLatin1Char('{'))) {
        if (const std::optional<Shortcut> old = fromOldStoredForm(object.toString()))
            write(name, portableText(*old));
    }
}

void scheduleCenterCreation()
{
    Registry &r = registry();
    if (r.centerScheduled || !QCoreApplication::instance())
        return;
    r.centerScheduled = true;
    QTimer::singleShot(0, QCoreApplication::instance(), [] { HotKeyCenter::shared(); });
}

bool hasActions(const Name &name)
{
    const Registry &r = registry();
    return r.keyDownActions.contains(name.rawValue()) || r.keyUpActions.contains(name.rawValue());
}

QList<Name> namesUsing(Shortcut shortcut, const Name &except = {})
{
    QList<Name> names;
    for (const Name &name : registry().actionNames) {
        if (name != except && storedShortcut(name) == shortcut)
            names.append(name);
    }
    return names;
}

void registerName(const Name &name)
{
    const std::optional<Shortcut> shortcut = hasActions(name) ? storedShortcut(name) : std::nullopt;
    HotKeyCenter &center = HotKeyCenter::shared();
    if (shortcut && !center.isRegistered(*shortcut) && !center.registerHotKey(*shortcut))
        emit notifier().registrationFailed(name);
}

// Gives up the name's current hot key unless another name still needs it.
void unregisterStoredShortcut(const Name &name)
{
    const std::optional<Shortcut> current = storedShortcut(name);
    if (current && namesUsing(*current, name).isEmpty())
        HotKeyCenter::shared().unregisterHotKey(*current);
}

void addAction(QHash<QString, QList<Action>> &actions, const Name &name, Action action)
{
    actions[name.rawValue()].append(std::move(action));
    if (!registry().actionNames.contains(name))
        registry().actionNames.append(name);
    registerName(name);
}

} // namespace

namespace detail {

void dispatch(Shortcut shortcut, bool keyDown)
{
    Registry &r = registry();
    if (r.isRecorderActive)
        return;
    // A copy: an action may change the registry (store another shortcut, add an action).
    const QHash<QString, QList<Action>> actions = keyDown ? r.keyDownActions : r.keyUpActions;
    for (const Name &name : namesUsing(shortcut)) {
        for (const Action &action : actions.value(name.rawValue()))
            action();
    }
}

void hotKeyLost(Shortcut shortcut)
{
    for (const Name &name : namesUsing(shortcut))
        emit notifier().registrationFailed(name);
}

} // namespace detail

Name::Name(const QString &rawValue, std::optional<Shortcut> initialShortcut)
    : m_rawValue(rawValue), m_initialShortcut(initialShortcut)
{
    // The latest made name of a text counts: its initial shortcut is the one setStorage applies.
    Registry &r = registry();
    r.madeNames.removeAll(*this);
    r.madeNames.append(*this);
    prepareStoredValue(*this);
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
    for (const Name &name : std::as_const(r.madeNames))
        prepareStoredValue(name);
    // The stored values may differ from the ones registered so far.
    HotKeyCenter::shared().unregisterAll();
    for (const Name &name : std::as_const(r.actionNames))
        registerName(name);
    emit notifier().storageDidChange();
}

QSettings *storage()
{
    return registry().storage;
}

std::optional<Shortcut> storedShortcut(const Name &name)
{
    const QVariant object = storedObject(name);
    if (object.typeId() != QMetaType::QString)
        return std::nullopt;
    return fromPortableText(object.toString());
}

void storeShortcut(const std::optional<Shortcut> &shortcut, const Name &name)
{
    if (!registry().storage)
        return;
    if (shortcut) {
        const QString text = portableText(*shortcut);
        if (fromPortableText(text) != shortcut)
            return;
        unregisterStoredShortcut(name);
        write(name, text);
    } else {
        const QVariant current = storedObject(name);
        const bool disabled = current.typeId() == QMetaType::Bool && !current.toBool();
        if (name.initialShortcut() ? disabled : !current.isValid())
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

void onKeyDown(const Name &name, Action action)
{
    addAction(registry().keyDownActions, name, std::move(action));
}

void onKeyUp(const Name &name, Action action)
{
    addAction(registry().keyUpActions, name, std::move(action));
}

void removeActions(const Name &name)
{
    Registry &r = registry();
    if (!hasActions(name))
        return;
    unregisterStoredShortcut(name);
    r.keyDownActions.remove(name.rawValue());
    r.keyUpActions.remove(name.rawValue());
    r.actionNames.removeAll(name);
}

void removeAllActions()
{
    Registry &r = registry();
    r.keyDownActions.clear();
    r.keyUpActions.clear();
    r.actionNames.clear();
    HotKeyCenter::shared().unregisterAll();
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
    const std::optional<Shortcut> shortcut = hasActions(name) ? storedShortcut(name) : std::nullopt;
    return shortcut && HotKeyCenter::shared().isRegistered(*shortcut);
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

} // namespace GlobalShortcuts
