#pragma once

#include "GlobalShortcuts/HotKeyBackend.h"

#include <QAbstractNativeEventFilter>
#include <QHash>

#include <cstdint>

struct xcb_connection_t;
struct _XCBKeySymbols;

namespace GlobalShortcuts {

// The X keysym of the shortcut's key ('d' for Ctrl+Shift+D, KP_1 for a keypad 1); 0 when there is none. Both the
// X11 grabs and the portal's trigger text start from it.
quint32 keysym(Shortcut shortcut);

// Hot keys of an X11 desktop: passive key grabs on the root window. Qt's own display connection is used, so
// the key events arrive through Qt's native event filter on the main thread.
class X11HotKeyBackend final : public HotKeyBackend, public QAbstractNativeEventFilter
{
public:
    X11HotKeyBackend();
    ~X11HotKeyBackend() override;

    bool isAvailable() const override { return m_connection != nullptr; }
    bool registerHotKey(Shortcut shortcut) override;
    void unregisterHotKey(Shortcut shortcut) override;
    bool isTakenByAnotherApplication(Shortcut shortcut) override;
    void flush() override;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    // Presses of a held key that were ignored (the keyboard's auto-repeat, told apart from a new press by XKB's
    // detectable auto-repeat); a test shows a held key acts once.
    int ignoredRepeatCount() const { return m_ignoredRepeats; }

private:
    struct Grab
    {
        uint8_t keycode = 0;
        uint16_t modifiers = 0;
        bool operator==(const Grab &) const = default;
    };

    std::optional<Grab> grabFor(Shortcut shortcut) const;
    // Grabs every lock-key variant; on any failure the ones taken are given back. Returns the X error code.
    uint8_t grab(const Grab &grab);
    void ungrab(const Grab &grab);
    void enableDetectableAutoRepeat();
    void handleKey(uint8_t keycode, uint16_t state, bool pressed);

    xcb_connection_t *m_connection = nullptr;
    uint32_t m_root = 0;
    _XCBKeySymbols *m_keySymbols = nullptr;
    QHash<int, Grab> m_grabs;       // by QKeyCombination::toCombined
    QHash<uint8_t, int> m_keysDown; // key code of a pressed hot key → its combination, until released
    int m_ignoredRepeats = 0;
};

} // namespace GlobalShortcuts
