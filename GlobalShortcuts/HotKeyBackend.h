#pragma once

#include "GlobalShortcuts/Shortcut.h"

#include <memory>

namespace GlobalShortcuts {

// The desktop's global hot-key service as the hot-key centre sees it. One implementation per platform, chosen at
// build time and, where a platform has several, at run time (makePlatformHotKeyBackend); tests use a fake. This base
// is the service of a platform that has none: every registration fails, which the host can report.
class HotKeyBackend
{
public:
    virtual ~HotKeyBackend() = default;

    // Whether global hot keys can work at all in this session (false on Wayland without the portal, offscreen).
    virtual bool isAvailable() const { return false; }
    // Takes the combination for the whole desktop; false when it cannot, nothing is kept then. A service that asks
    // the desktop first (the portal) says yes while it waits, and reports a refusal as a loss.
    virtual bool registerHotKey(Shortcut) { return false; }
    virtual void unregisterHotKey(Shortcut) {}
    // Whether another application holds the combination already. A combination this backend holds is not.
    virtual bool isTakenByAnotherApplication(Shortcut) { return false; }
    // Whether the desktop decides which combinations an application gets (the portal asks the user, or follows
    // its own settings), so that a refusal is the desktop's decision rather than another application's grab.
    virtual bool desktopDecides() const { return false; }
    // Sends what the toolkit has queued for the desktop (a released keyboard grab), so that the very next key
    // press already finds the desktop in the new state.
    virtual void flush() {}

    // What a backend tells the hot-key centre: a registered combination was pressed (true) or released (false);
    // the desktop took back or refused, after registerHotKey returned, a registered combination.
    static void deliver(Shortcut shortcut, bool pressed);
    static void lose(Shortcut shortcut);
};

// The backend of the platform this build runs on.
std::unique_ptr<HotKeyBackend> makePlatformHotKeyBackend();

} // namespace GlobalShortcuts
