#pragma once

// Global shortcuts: named, user-changeable key combinations that run actions while other applications are active.
//
// For the host application (after the QApplication exists):
//
//   GlobalShortcuts::setStorage(&defaults);                      // the app's QSettings; keys "GlobalShortcuts_" + name
//   const GlobalShortcuts::Name toggle(QStringLiteral("toggleWindow"),
//       QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_D));
//   GlobalShortcuts::onKeyUp(toggle, [] { toggleWindow(); });   // runs when the keys are released
//   auto *recorder = new GlobalShortcuts::Recorder(toggle);      // the control that records a new combination
//
// - Storage: a shortcut is stored as Qt's portable text ("Ctrl+Shift+D"). A name made with an initial shortcut
//   writes it when the defaults hold nothing under its key; a user who cleared the shortcut keeps it cleared (the
//   key holds the boolean false); removing the key brings the initial shortcut back at the next start. A value in
//   the form of earlier versions is rewritten in the text form when its name is made or the storage is set. The
//   defaults need a format that keeps booleans typed.
// - Actions run on the main thread inside the handling of the key event. A key-up action runs once when the key
//   is released, also after the key was held down. While a recorder records, no action runs.
// - Desktops: X11 key grabs; in a Wayland session the desktop portal's GlobalShortcuts interface, which asks the
//   user in a dialog of its own and answers later.
// - Availability: isRegistered() tells whether a name's combination is active or being asked for, and
//   notifier().registrationFailed is emitted whenever the desktop refuses one; refusal() tells why (also when the
//   desktop gives this process no global hot keys at all).
// - An action that toggles a window on X11 should decide "in front" by QGuiApplication::focusWindow(): when a
//   window is shown again within a moment of being hidden, Qt 6.4 can leave QApplication::activeWindow() unset
//   although the window has the focus.
// - Tests replace the desktop through HotKeyCenter::shared().setBackend().

#include "GlobalShortcuts/Shortcut.h"

#include <QMetaType>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QSettings;

namespace GlobalShortcuts {

inline constexpr char kStorageKeyPrefix[] = "GlobalShortcuts_";

// A shortcut's name and the shortcut a first run starts with. Equal by name only.
class Name
{
public:
    Name() = default;
    // Writes the initial shortcut to the defaults when they hold nothing under the name's key.
    explicit Name(const QString &storedForm, std::optional<Shortcut> initialShortcut = std::nullopt);

    const QString &storedForm() const { return m_storedForm; }
    const std::optional<Shortcut> &initialShortcut() const { return m_initialShortcut; }
    // "GlobalShortcuts_" + name.
    QString storageKey() const;

    bool operator==(const Name &other) const { return m_storedForm == other.m_storedForm; }

private:
    QString m_storedForm;
    std::optional<Shortcut> m_initialShortcut;
};

using Action = std::function<void()>;

// The module's signals.
class Notifier : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    // After every storeShortcut that changed or re-wrote the stored value of the name, and for every name after
    // setStorage.
    void shortcutByNameDidChange(const GlobalShortcuts::Name &name);
    // When the desktop refused the name's combination (at registration or when taking it again later).
    void registrationFailed(const GlobalShortcuts::Name &name);
};

Notifier &notifier();

// The defaults the shortcuts live in. The module does not own them; without storage nothing is stored. Names
// made before get their initial shortcuts now, and registrations follow the stored values.
void setStorage(QSettings *settings);
QSettings *storage();

// The stored shortcut of the name; none when it is cleared, not set, or holds anything that is not a shortcut.
std::optional<Shortcut> storedShortcut(const Name &name);
// Stores a shortcut (or clears it: false when the name has an initial shortcut, else the key is removed),
// moves the name's hot key to it and emits shortcutByNameDidChange. A shortcut that would not read back the same
// (no Ctrl, Alt or Super and not an F-key) is not stored.
void storeShortcut(const std::optional<Shortcut> &shortcut, const Name &name);

// Actions of a name: they follow whatever shortcut is stored for it.
void onKeyDown(const Name &name, Action action);
void onKeyUp(const Name &name, Action action);
void removeActions(const Name &name);
void removeAllActions();

// Set by the recorder while it records: no action runs.
void setRecorderActive(bool active);
bool isRecorderActive();

bool isRegistered(const Name &name);

// Why a name's stored combination is not active, in the words a host can tell the user: the desktop gives no hot
// keys at all, another application grabbed the combination first (X11), or the desktop declined it (the portal, by
// its settings or the user's answer in its dialog). None while it is active or being asked for, or when cleared.
enum class Refusal { none, noHotKeys, takenByAnotherApplication, declinedByDesktop };
Refusal refusal(const Name &name);

} // namespace GlobalShortcuts

Q_DECLARE_METATYPE(GlobalShortcuts::Name)
