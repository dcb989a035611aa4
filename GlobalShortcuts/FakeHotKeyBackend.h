#pragma once

#include "GlobalShortcuts/HotKeyBackend.h"

#include <QHash>
#include <QSet>

namespace GlobalShortcuts {

// A desktop in memory: it keeps the registered combinations, lets a test press and release them, and can
// pretend that other applications hold some combinations or that hot keys are unavailable.
class FakeHotKeyBackend final : public HotKeyBackend
{
public:
    bool isAvailable() const override { return m_available; }
    bool installEventHandler(EventHandler handler) override;
    bool registerHotKey(quint32 id, const Shortcut &shortcut) override;
    void unregisterHotKey(quint32 id) override;
    bool isTakenByAnotherApplication(const Shortcut &shortcut) override;

    void setAvailable(bool available) { m_available = available; }
    // Combinations another application holds: registering them fails.
    void takeByAnotherApplication(const Shortcut &shortcut) { m_takenElsewhere.insert(shortcut); }
    void releaseByAnotherApplication(const Shortcut &shortcut) { m_takenElsewhere.remove(shortcut); }

    bool isRegistered(const Shortcut &shortcut) const;
    int registeredCount() const { return int(m_registered.size()); }

    // The user presses or releases a combination; returns whether a registered hot key handled it.
    bool press(const Shortcut &shortcut);
    bool release(const Shortcut &shortcut);

private:
    bool deliver(const Shortcut &shortcut, bool pressed);

    bool m_available = true;
    EventHandler m_handler;
    QHash<quint32, Shortcut> m_registered;
    QSet<Shortcut> m_takenElsewhere;
};

} // namespace GlobalShortcuts
