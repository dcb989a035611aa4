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
    void installLossHandler(LossHandler handler) override { m_lossHandler = std::move(handler); }
    bool desktopDecides() const override { return m_desktopDecides; }

    void setAvailable(bool available) { m_available = available; }
    // Combinations another application holds: registering them fails.
    void takeByAnotherApplication(const Shortcut &shortcut) { m_takenElsewhere.insert(shortcut); }
    void releaseByAnotherApplication(const Shortcut &shortcut) { m_takenElsewhere.remove(shortcut); }
    // A desktop that decides itself (the portal): it accepts a registration, then may refuse it later.
    void setDesktopDecides(bool decides) { m_desktopDecides = decides; }
    // The desktop takes back or refuses a registered combination, as the portal answers some time after asking.
    void refuseLater(const Shortcut &shortcut);

    bool isRegistered(const Shortcut &shortcut) const;
    int registeredCount() const { return int(m_registered.size()); }

    // The user presses or releases a combination; returns whether a registered hot key handled it.
    bool press(const Shortcut &shortcut);
    bool release(const Shortcut &shortcut);

private:
    bool deliver(const Shortcut &shortcut, bool pressed);

    bool m_available = true;
    bool m_desktopDecides = false;
    EventHandler m_handler;
    LossHandler m_lossHandler;
    QHash<quint32, Shortcut> m_registered;
    QSet<Shortcut> m_takenElsewhere;
};

} // namespace GlobalShortcuts
