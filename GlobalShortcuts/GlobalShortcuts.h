#pragma once

// Global shortcuts: named, user-changeable key combinations that run actions while other applications are active.
//
// For the host application (after the QApplication exists):
//
//   GlobalShortcuts::setStorage(&defaults);                      // the app's QSettings; keys "GlobalShortcuts_" + name
//   const GlobalShortcuts::Name toggle(QStringLiteral("toggleWindow"),
//       GlobalShortcuts::Shortcut(GlobalShortcuts::Key::d, Qt::ControlModifier | Qt::ShiftModifier));
//   GlobalShortcuts::onKeyUp(toggle, [] { toggleWindow(); });   // runs when the keys are released
//   auto *recorder = new GlobalShortcuts::Recorder(toggle);      // the control that records a new combination
//   recorder->setObjectName(QStringLiteral("settings.shortcut"));
//
// - Storage: a name made with an initial shortcut writes it (as JSON text) when the defaults hold nothing under
//   its key; a user who cleared the shortcut keeps it cleared (the key holds the boolean false); removing the key
//   brings the initial shortcut back at the next start. The defaults need a format that keeps booleans typed.
// - Actions run on the main thread inside the handling of the key event. A key-up action runs once when the key
//   is released, also after the key was held down. While a recorder records, no action runs.
// - Desktops: X11 key grabs; in a Wayland session the desktop portal's GlobalShortcuts interface, which asks the
//   user in a dialog of its own and answers later.
// - Availability: hotKeysAvailable() is false when the desktop gives this process no global hot keys (a Wayland
//   session whose portal lacks the interface, the offscreen platform). isRegistered() tells whether a name's
//   combination is active or being asked for, and notifier().registrationFailed is emitted whenever the desktop
//   refuses one (another application holds it, the user declined it), on Wayland some time after registering.
//   refusal() tells which; a settings page can then tell the user to bind `vellora toggle` in the desktop's own
//   shortcut settings.
// - Recorder (Recorder.h, RecorderField.h): shows the shortcut in the platform's own text, records on click or Tab,
//   refuses combinations of the menu bar of its window (or of the menus given with setMenus, e.g. a tray menu),
//   warns about combinations another application grabbed (with "Use Anyway"), and asks the host's validator.
//   Alerts are window-modal message boxes; RecorderField::setAlertPresenter replaces them (tests answer there).
// - An action that toggles a window on X11 should decide "in front" by QGuiApplication::focusWindow(): when a
//   window is shown again within a moment of being hidden, Qt 6.4 can leave QApplication::activeWindow() unset
//   although the window has the focus.
// - Tests replace the desktop with FakeHotKeyBackend through HotKeyCenter::shared().setBackend().

#include "GlobalShortcuts/Shortcut.h"

#include <QMetaType>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QSettings;

namespace GlobalShortcuts {

// The module's notification names, for hosts that forward them by name.
inline constexpr char kShortcutByNameDidChange[] = "GlobalShortcuts_shortcutByNameDidChange";
inline constexpr char kRecorderActiveStatusDidChange[] = "GlobalShortcuts_recorderActiveStatusDidChange";
inline constexpr char kStorageKeyPrefix[] = "GlobalShortcuts_";

// A shortcut's name and the shortcut a first run starts with. Equal by name only.
class Name
{
public:
    Name() = default;
    // Writes the initial shortcut to the defaults when they hold nothing under the name's key.
    explicit Name(const QString &rawValue, std::optional<Shortcut> initialShortcut = std::nullopt);

    const QString &rawValue() const { return m_rawValue; }
    const std::optional<Shortcut> &initialShortcut() const { return m_initialShortcut; }
    // "GlobalShortcuts_" + name.
    QString storageKey() const;

    bool operator==(const Name &other) const { return m_rawValue == other.m_rawValue; }

private:
    QString m_rawValue;
    std::optional<Shortcut> m_initialShortcut;
};

inline size_t qHash(const Name &name, size_t seed = 0)
{
    return qHash(name.rawValue(), seed);
}

using Action = std::function<void()>;

// The module's signals.
class Notifier : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    // After every storeShortcut that changed or re-wrote the stored value of the name.
    void shortcutByNameDidChange(const GlobalShortcuts::Name &name);
    // When a recorder starts (true) and stops (false) recording.
    void recorderActiveStatusDidChange(bool isActive);
    // When the desktop refused the name's combination (at registration or when taking it again later).
    void registrationFailed(const GlobalShortcuts::Name &name);
    // After setStorage: every name may read differently now.
    void storageDidChange();
};

Notifier &notifier();

// The defaults the shortcuts live in. The module does not own them; without storage nothing is stored. Names
// made before get their initial shortcuts now, and registrations follow the stored values.
void setStorage(QSettings *settings);
QSettings *storage();

// The stored shortcut of the name; none when it is cleared, not set, or holds anything that is not a shortcut.
std::optional<Shortcut> storedShortcut(const Name &name);
// Stores a shortcut (or clears it: false when the name has an initial shortcut, else the key is removed),
// moves the name's hot key to it and emits shortcutByNameDidChange.
void storeShortcut(const std::optional<Shortcut> &shortcut, const Name &name);
// Stores the initial shortcut again (or clears the name when it has none).
void reset(const Name &name);

// Actions of a name: they follow whatever shortcut is stored for it.
void addKeyDownAction(const Name &name, Action action);
void addKeyUpAction(const Name &name, Action action);
inline void onKeyDown(const Name &name, Action action)
{
    addKeyDownAction(name, std::move(action));
}
inline void onKeyUp(const Name &name, Action action)
{
    addKeyUpAction(name, std::move(action));
}
// Actions bound to one combination, whatever the names store.
void onKeyDown(const Shortcut &shortcut, Action action);
void onKeyUp(const Shortcut &shortcut, Action action);
void removeActions(const Name &name);
void removeAllActions();

// A suspended name keeps its actions but its shortcut is not registered and its actions do not run.
void suspend(const Name &name);
void resume(const Name &name);
bool isSuspended(const Name &name);

// All hot keys on or off.
void setEnabled(bool enabled);
bool isEnabled();

// Set by the recorder while it records: no action runs.
void setRecorderActive(bool active);
bool isRecorderActive();

bool hotKeysAvailable();
bool isRegistered(const Name &name);

// Why a name's stored combination is not active, in the words a host can tell the user: the desktop gives no hot
// keys at all, another application grabbed the combination first (X11), or the desktop declined it (the portal, by
// its settings or the user's answer in its dialog). None while it is active or being asked for, or when cleared.
enum class Refusal { none, noHotKeys, takenByAnotherApplication, declinedByDesktop };
Refusal refusal(const Name &name);

// Whether another active name, or an action bound to the combination, uses the shortcut.
bool isShortcutInUse(const Shortcut &shortcut, const Name &except);

} // namespace GlobalShortcuts

Q_DECLARE_METATYPE(GlobalShortcuts::Name)
