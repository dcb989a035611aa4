#pragma once

#include "GlobalShortcuts/Shortcut.h"

#include <functional>
#include <memory>

namespace GlobalShortcuts {

// The desktop's global hot-key service as the hot-key centre sees it. One implementation per platform, chosen at
// build time and, where a platform has several, at run time (makePlatformHotKeyBackend); tests use
// FakeHotKeyBackend.
class HotKeyBackend
{
public:
    // A registered hot key was pressed (true) or released (false); returns whether the centre handled it.
    using EventHandler = std::function<bool(quint32 id, bool pressed)>;
    // The desktop took back or refused, after registerHotKey returned, the combination of a registered id.
    using LossHandler = std::function<void(quint32 id)>;

    virtual ~HotKeyBackend() = default;

    // Whether global hot keys can work at all in this session (false on Wayland or the offscreen platform).
    virtual bool isAvailable() const = 0;
    // Starts delivering hot-key events to the handler; false when events cannot be received.
    virtual bool installEventHandler(EventHandler handler) = 0;
    // For services that answer later: they report a refusal through this handler after registerHotKey said yes.
    virtual void installLossHandler(LossHandler) {}
    // Takes the key combination for the whole desktop; false when it cannot, nothing is kept then. A service
    // that asks the desktop first (the portal) says yes while it waits, and reports a refusal as a loss.
    virtual bool registerHotKey(quint32 id, const Shortcut &shortcut) = 0;
    virtual void unregisterHotKey(quint32 id) = 0;
    // Whether another application holds the combination already. A combination this backend holds is not.
    virtual bool isTakenByAnotherApplication(const Shortcut &shortcut) = 0;
    // Whether the desktop decides which combinations an application gets (the portal asks the user, or follows
    // its own settings), so that a refusal is the desktop's decision rather than another application's grab.
    virtual bool desktopDecides() const { return false; }
    // Sends what the toolkit has queued for the desktop (a released keyboard grab), so that the very next key
    // press already finds the desktop in the new state.
    virtual void flush() {}
};

// The backend of the platform this build runs on.
std::unique_ptr<HotKeyBackend> makePlatformHotKeyBackend();

} // namespace GlobalShortcuts
