#pragma once

#include "GlobalShortcuts/HotKeyBackend.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <memory>

class QKeyEvent;
class QMenu;

namespace GlobalShortcuts {

// The one place that talks to the desktop's hot-key service. While a menu of this application is open the
// desktop's grabs are given up (menus hold the keyboard) and the keys are matched from the application's own
// key events instead. Presses, releases and losses go to the module's registry (GlobalShortcuts.cpp).
class HotKeyCenter : public QObject
{
    Q_OBJECT

public:
    // Made once and kept to the end of the run: hot keys must not be given back to a closed display connection.
    static HotKeyCenter &shared();

    // False when the desktop refuses the combination; nothing is kept then.
    bool registerHotKey(Shortcut shortcut);
    void unregisterHotKey(Shortcut shortcut);
    void unregisterAll();
    bool isRegistered(Shortcut shortcut) const { return m_hotKeys.contains(shortcut.toCombined()); }

    bool isMenuOpen() const { return m_isMenuOpen; }
    void setMenuOpen(bool open);

    HotKeyBackend &backend() { return *m_backend; }
    // Replaces the desktop service; the hot keys registered so far move to the new one.
    void setBackend(std::unique_ptr<HotKeyBackend> backend);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class HotKeyBackend;

    HotKeyCenter();
    bool handleRawKeyEvent(QKeyEvent *event);

    std::unique_ptr<HotKeyBackend> m_backend;
    QSet<int> m_hotKeys; // by QKeyCombination::toCombined
    bool m_isMenuOpen = false;
    QList<QPointer<QMenu>> m_openMenus;
    // Keys whose press acted on the raw-key path (scan code, or Qt key without one) → the hot key. Their release
    // acts whatever modifiers are still held then: people let go of the modifiers first.
    QHash<quint32, int> m_rawKeysDown;
};

namespace detail {
// The registry's side (GlobalShortcuts.cpp): run the actions of a combination, and tell of one the desktop refused.
void dispatch(Shortcut shortcut, bool keyDown);
void hotKeyLost(Shortcut shortcut);
} // namespace detail

} // namespace GlobalShortcuts
