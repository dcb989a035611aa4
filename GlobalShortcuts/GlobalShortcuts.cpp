#include "GlobalShortcuts/GlobalShortcuts.h"

#include "GlobalShortcuts/HotKeyCenter.h"

#include <QPointer>
#include <QSettings>

namespace GlobalShortcuts {

namespace {

struct NameActions
{
    Name name;
    QList<Action> down;
    QList<Action> up;
};

// Everything the module keeps for the run, made on first use and never torn down.
struct Registry
{
    QPointer<QSettings> storage;
    QList<Name> madeNames;          // every name made in this run, for setStorage
    QList<NameActions> withActions; // in the order their first action came
    bool isRecorderActive = false;
};

Registry &registry()
{
    static Registry *instance = new Registry;
    return *instance;
}

NameActions *actionsOf(const Name &name)
{
    for (NameActions &entry : registry().withActions) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

QList<Name> namesUsing(Shortcut shortcut, const Name &except = {})
{
    QList<Name> names;
    for (const NameActions &entry : std::as_const(registry().withActions)) {
        if (entry.name != except && storedShortcut(entry.name) == shortcut)
            names.append(entry.name);
    }
    return names;
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
    const QVariant object = storedObject(name);
    const std::optional<Shortcut> old = fromOldStoredForm(object.toString());
    if (registry().storage && !object.isValid() && name.initialShortcut())
        write(name, portableText(*name.initialShortcut()));
    else if (old)
        write(name, portableText(*old));
}

void registerName(const Name &name)
{
    const std::optional<Shortcut> shortcut = actionsOf(name) ? storedShortcut(name) : std::nullopt;
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

void addAction(const Name &name, bool keyDown, Action action)
{
    if (!actionsOf(name))
        registry().withActions.append({name, {}, {}});
    (keyDown ? actionsOf(name)->down : actionsOf(name)->up).append(std::move(action));
    registerName(name);
}

} // namespace

namespace detail {

void dispatch(Shortcut shortcut, bool keyDown)
{
    if (registry().isRecorderActive)
        return;
    // A copy: an action may change the registry (store another shortcut, add an action).
    const QList<NameActions> entries = registry().withActions;
    for (const NameActions &entry : entries) {
        if (storedShortcut(entry.name) != shortcut)
            continue;
        for (const Action &action : keyDown ? entry.down : entry.up)
            action();
    }
}

void hotKeyLost(Shortcut shortcut)
{
    for (const Name &name : namesUsing(shortcut))
        emit notifier().registrationFailed(name);
}

} // namespace detail

Name::Name(const QString &storedForm, std::optional<Shortcut> initialShortcut)
    : m_storedForm(storedForm), m_initialShortcut(initialShortcut)
{
    // The latest made name of a text counts: its initial shortcut is the one setStorage applies.
    registry().madeNames.removeAll(*this);
    registry().madeNames.append(*this);
    prepareStoredValue(*this);
}

QString Name::storageKey() const
{
    return QLatin1String(kStorageKeyPrefix) + m_storedForm;
}

Notifier &notifier()
{
    static Notifier *instance = new Notifier;
    return *instance;
}

void setStorage(QSettings *settings)
{
    Registry &r = registry();
    r.storage = settings;
    for (const Name &name : std::as_const(r.madeNames))
        prepareStoredValue(name);
    // The stored values may differ from the ones registered so far.
    HotKeyCenter::shared().unregisterAll();
    for (const NameActions &entry : std::as_const(r.withActions))
        registerName(entry.name);
    for (const Name &name : std::as_const(r.madeNames))
        emit notifier().shortcutByNameDidChange(name);
}

QSettings *storage()
{
    return registry().storage;
}

std::optional<Shortcut> storedShortcut(const Name &name)
{
    const QVariant object = storedObject(name);
    return object.typeId() == QMetaType::QString ? fromPortableText(object.toString()) : std::nullopt;
}

void storeShortcut(const std::optional<Shortcut> &shortcut, const Name &name)
{
    const QVariant current = storedObject(name);
    const bool disabled = current.typeId() == QMetaType::Bool && !current.toBool();
    // Nothing changes without storage, for a shortcut that would not read back, or when clearing what is clear.
    if (!registry().storage || (shortcut && fromPortableText(portableText(*shortcut)) != shortcut) ||
        (!shortcut && (name.initialShortcut() ? disabled : !current.isValid())))
        return;
    unregisterStoredShortcut(name);
    // A cleared name with an initial shortcut keeps false, so the initial one is not applied again.
    write(name, shortcut ? QVariant(portableText(*shortcut)) : name.initialShortcut() ? QVariant(false) : QVariant());
    registerName(name);
    emit notifier().shortcutByNameDidChange(name);
}

void onKeyDown(const Name &name, Action action)
{
    addAction(name, true, std::move(action));
}

void onKeyUp(const Name &name, Action action)
{
    addAction(name, false, std::move(action));
}

void removeActions(const Name &name)
{
    if (!actionsOf(name))
        return;
    unregisterStoredShortcut(name);
    registry().withActions.removeIf([&](const NameActions &entry) { return entry.name == name; });
}

void removeAllActions()
{
    registry().withActions.clear();
    HotKeyCenter::shared().unregisterAll();
}

void setRecorderActive(bool active)
{
    registry().isRecorderActive = active;
}

bool isRecorderActive()
{
    return registry().isRecorderActive;
}

bool isRegistered(const Name &name)
{
    const std::optional<Shortcut> shortcut = actionsOf(name) ? storedShortcut(name) : std::nullopt;
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
