#include "GlobalShortcuts/ActionShortcut.h"

#include <QAction>
#include <QVariant>

namespace GlobalShortcuts {

namespace {

constexpr char kFollowedNameProperty[] = "globalShortcutName";

void showStoredShortcut(QAction *action, const Name &name)
{
    if (!storage())
        return;
    const std::optional<Shortcut> stored = storedShortcut(name);
    action->setShortcut(stored ? QKeySequence(*stored) : QKeySequence());
}

} // namespace

void followShortcut(QAction *action, const Name &name)
{
    action->setProperty(kFollowedNameProperty, name.storedForm());
    showStoredShortcut(action, name);
    QObject::connect(&notifier(), &Notifier::shortcutByNameDidChange, action, [action, name](const Name &changed) {
        if (changed == name)
            showStoredShortcut(action, name);
    });
}

QString followedName(const QAction &action)
{
    return action.property(kFollowedNameProperty).toString();
}

} // namespace GlobalShortcuts
