#pragma once

#include "GlobalShortcuts/HotKeyBackend.h"
#include "GlobalShortcuts/Shortcut.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>

class QKeyEvent;
class QMenu;

namespace GlobalShortcuts {

// One desktop-wide key combination. It lives as long as its owner keeps it; when it goes, it gives up its
// registration with the desktop and leaves the centre.
class HotKey
{
public:
    using Callback = std::function<void()>;

    HotKey(const Shortcut &shortcut, Callback onKeyDown, Callback onKeyUp);
    ~HotKey();
    HotKey(const HotKey &) = delete;
    HotKey &operator=(const HotKey &) = delete;

    const Shortcut &shortcut() const { return m_shortcut; }
    quint32 id() const { return m_id; }
    // Whether the desktop currently delivers the combination to us (only in the centre's normal mode).
    bool isRegisteredWithSystem() const { return m_registeredWithSystem; }

    Callback onKeyDown;
    Callback onKeyUp;
    // Run when a later re-registration (after a menu closed or hot keys were enabled again) fails, or when the
    // desktop refuses the combination after first saying it would ask.
    Callback onRegistrationFailed;

private:
    friend class HotKeyCenter;

    Shortcut m_shortcut;
    quint32 m_id = 0;
    bool m_registeredWithSystem = false;
};

// The one place that talks to the desktop's hot-key service. While a menu of this application is open the
// desktop's grabs are given up (menus hold the keyboard) and the keys are matched from the application's own
// key events instead; while hot keys are disabled nothing is registered.
class HotKeyCenter : public QObject
{
    Q_OBJECT

public:
    enum class Mode { disabled, normal, menuOpen };

    static HotKeyCenter &shared();
    // Whether the shared centre has been made already.
    static bool exists();

    // Registers a new hot key: false when the desktop refuses it, and nothing is kept then.
    bool registerHotKey(const std::shared_ptr<HotKey> &hotKey);

    Mode mode() const;
    bool isEnabled() const { return m_isEnabled; }
    void setEnabled(bool enabled);
    bool isMenuOpen() const { return m_isMenuOpen; }
    void setMenuOpen(bool open);

    HotKeyBackend &backend() { return *m_backend; }
    // Replaces the desktop service; hot keys registered so far move to the new one.
    void setBackend(std::unique_ptr<HotKeyBackend> backend);

    bool isTakenByAnotherApplication(const Shortcut &shortcut);
    QList<std::shared_ptr<HotKey>> hotKeys() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class HotKey;

    HotKeyCenter();
    quint32 nextId() { return ++m_lastHotKeyId; }
    void forget(HotKey &hotKey);
    void updateMode(Mode previous);
    void applyMode();
    bool installEventHandler();
    void watchLosses();
    void handleRegistrationLost(quint32 id);
    bool handleHotKeyEvent(quint32 id, bool pressed);
    bool handleRawKeyEvent(QKeyEvent *event);
    std::shared_ptr<HotKey> matchingHotKey(const QKeyEvent &event) const;
    void trackMenu(QObject *watched, QEvent *event);

    quint32 m_lastHotKeyId = 0;
    std::map<quint32, std::weak_ptr<HotKey>> m_hotKeys;
    std::unique_ptr<HotKeyBackend> m_backend;
    bool m_hasEventHandler = false;
    bool m_isEnabled = true;
    bool m_isMenuOpen = false;
    bool m_isHotKeyEventHandlingEnabled = false;
    bool m_isRawKeyEventHandlingEnabled = false;
    QList<QPointer<QMenu>> m_openMenus;
    // Keys whose press acted on the raw-key path (scan code, or Qt key without one) → the hot key's id. Their
    // release acts whatever modifiers are still held then: people let go of the modifiers first.
    QHash<quint32, quint32> m_rawKeysDown;
};

} // namespace GlobalShortcuts
