#pragma once

#include "GlobalShortcuts/HotKeyBackend.h"

#include <QSet>

// A desktop in memory: it keeps the registered combinations, lets a test press and release them, and can pretend
// that other applications hold some combinations, that hot keys are unavailable, or that the desktop decides.
class FakeHotKeyBackend final : public GlobalShortcuts::HotKeyBackend
{
public:
    using Shortcut = GlobalShortcuts::Shortcut;

    bool isAvailable() const override { return m_available; }
    bool registerHotKey(Shortcut shortcut) override
    {
        if (!m_available || m_takenElsewhere.contains(shortcut.toCombined()))
            return false;
        m_registered.insert(shortcut.toCombined());
        return true;
    }
    void unregisterHotKey(Shortcut shortcut) override { m_registered.remove(shortcut.toCombined()); }
    bool isTakenByAnotherApplication(Shortcut shortcut) override
    {
        return m_takenElsewhere.contains(shortcut.toCombined()) && !isRegistered(shortcut);
    }
    bool desktopDecides() const override { return m_desktopDecides; }

    void setAvailable(bool available) { m_available = available; }
    // Combinations another application holds: registering them fails.
    void takeByAnotherApplication(Shortcut shortcut) { m_takenElsewhere.insert(shortcut.toCombined()); }
    void releaseByAnotherApplication(Shortcut shortcut) { m_takenElsewhere.remove(shortcut.toCombined()); }
    // A desktop that decides itself (the portal): it accepts a registration, then may refuse it later.
    void setDesktopDecides(bool decides) { m_desktopDecides = decides; }
    void refuseLater(Shortcut shortcut)
    {
        if (m_registered.remove(shortcut.toCombined()))
            lose(shortcut);
    }

    bool isRegistered(Shortcut shortcut) const { return m_registered.contains(shortcut.toCombined()); }
    int registeredCount() const { return int(m_registered.size()); }

    // The user presses or releases a combination; returns whether it was registered.
    bool press(Shortcut shortcut) { return deliverIfRegistered(shortcut, true); }
    bool release(Shortcut shortcut) { return deliverIfRegistered(shortcut, false); }

private:
    bool deliverIfRegistered(Shortcut shortcut, bool pressed)
    {
        if (!isRegistered(shortcut))
            return false;
        deliver(shortcut, pressed);
        return true;
    }

    bool m_available = true;
    bool m_desktopDecides = false;
    QSet<int> m_registered;
    QSet<int> m_takenElsewhere;
};
