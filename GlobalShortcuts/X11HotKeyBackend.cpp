#include "GlobalShortcuts/X11HotKeyBackend.h"

#include "GlobalShortcuts/Keysym.h"

#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
// The XKB header has a member named "explicit".
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <array>
#include <cstdlib>

namespace GlobalShortcuts {

namespace {

constexpr uint8_t kBadAccess = 10;
constexpr uint16_t kNumLock = XCB_MOD_MASK_2;
constexpr uint16_t kCapsLock = XCB_MOD_MASK_LOCK;
// A grab holds for one exact modifier state, so the lock keys get a grab of their own in every combination.
constexpr std::array<uint16_t, 4> kLockVariants = {0, kNumLock, kCapsLock, kNumLock | kCapsLock};
// The modifiers a hot key can hold: Shift, Ctrl, Alt, Super.
constexpr uint16_t kRelevantModifiers = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

uint16_t xModifiers(Qt::KeyboardModifiers modifiers)
{
    uint16_t x = 0;
    if (modifiers & Qt::ShiftModifier)
        x |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        x |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Qt::AltModifier)
        x |= XCB_MOD_MASK_1;
    if (modifiers & Qt::MetaModifier)
        x |= XCB_MOD_MASK_4;
    return x;
}

xcb_connection_t *qtConnection()
{
    auto *app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return app ? app->connection() : nullptr;
}

} // namespace

X11HotKeyBackend::X11HotKeyBackend() : m_connection(qtConnection())
{
    if (!m_connection)
        return;
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    m_root = xcb_setup_roots_iterator(setup).data->root;
    m_keySymbols = xcb_key_symbols_alloc(m_connection);
    m_detectableAutoRepeat = enableDetectableAutoRepeat();
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11HotKeyBackend::~X11HotKeyBackend()
{
    if (m_connection && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    if (m_connection) {
        for (const Grab &taken : std::as_const(m_grabs))
            ungrab(taken);
        xcb_flush(m_connection);
    }
    if (m_keySymbols)
        xcb_key_symbols_free(m_keySymbols);
}

bool X11HotKeyBackend::enableDetectableAutoRepeat()
{
    // Without it a held key sends release and press pairs, and a key-up action would run on every repeat.
    auto *use = xcb_xkb_use_extension_reply(m_connection, xcb_xkb_use_extension(m_connection, 1, 0), nullptr);
    const bool supported = use && use->supported;
    std::free(use);
    if (!supported)
        return false;
    const uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    auto *reply = xcb_xkb_per_client_flags_reply(
        m_connection, xcb_xkb_per_client_flags(m_connection, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0), nullptr);
    const bool enabled = reply && (reply->value & flag);
    std::free(reply);
    return enabled;
}

std::optional<X11HotKeyBackend::Grab> X11HotKeyBackend::grabFor(Shortcut shortcut) const
{
    const quint32 sym = keysym(shortcut);
    if (!m_connection || sym == 0)
        return std::nullopt;
    // The first key that carries the symbol, at any shift level: '!' is Shift and the key of '1'.
    xcb_keycode_t *keycodes = xcb_key_symbols_get_keycode(m_keySymbols, sym);
    if (!keycodes)
        return std::nullopt;
    const uint8_t keycode = keycodes[0];
    std::free(keycodes);
    if (keycode == XCB_NO_SYMBOL)
        return std::nullopt;
    return Grab{keycode, xModifiers(shortcut.keyboardModifiers())};
}

uint8_t X11HotKeyBackend::grab(const Grab &grab)
{
    std::array<xcb_void_cookie_t, kLockVariants.size()> cookies;
    for (size_t i = 0; i < kLockVariants.size(); ++i) {
        // Events go to the root window whoever has the focus, so they are told apart from our own windows' keys.
        cookies[i] = xcb_grab_key_checked(m_connection, 0, m_root, grab.modifiers | kLockVariants[i], grab.keycode,
                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    }
    uint8_t failure = 0;
    std::array<bool, kLockVariants.size()> taken{};
    for (size_t i = 0; i < cookies.size(); ++i) {
        if (xcb_generic_error_t *error = xcb_request_check(m_connection, cookies[i])) {
            failure = error->error_code;
            std::free(error);
        } else {
            taken[i] = true;
        }
    }
    if (failure) {
        for (size_t i = 0; i < taken.size(); ++i) {
            if (taken[i])
                xcb_ungrab_key(m_connection, grab.keycode, m_root, grab.modifiers | kLockVariants[i]);
        }
        xcb_flush(m_connection);
    }
    return failure;
}

void X11HotKeyBackend::ungrab(const Grab &grab)
{
    for (uint16_t variant : kLockVariants)
        xcb_ungrab_key(m_connection, grab.keycode, m_root, grab.modifiers | variant);
}

bool X11HotKeyBackend::registerHotKey(Shortcut shortcut)
{
    const std::optional<Grab> wanted = grabFor(shortcut);
    // Two combinations can share X keys ("Ctrl+!" and "Ctrl+Shift+1"): the keys are grabbed once.
    if (!wanted || (!m_grabs.values().contains(*wanted) && grab(*wanted) != 0))
        return false;
    m_grabs.insert(shortcut.toCombined(), *wanted);
    return true;
}

void X11HotKeyBackend::unregisterHotKey(Shortcut shortcut)
{
    const auto it = m_grabs.constFind(shortcut.toCombined());
    if (it == m_grabs.cend())
        return;
    const Grab taken = *it;
    m_grabs.erase(it);
    if (m_grabs.values().contains(taken))
        return;
    ungrab(taken);
    xcb_flush(m_connection);
}

bool X11HotKeyBackend::isTakenByAnotherApplication(Shortcut shortcut)
{
    const std::optional<Grab> wanted = grabFor(shortcut);
    // A probe of keys we hold ourselves succeeds and its ungrab would drop our own hot key.
    if (!wanted || m_grabs.values().contains(*wanted))
        return false;
    const uint8_t failure = grab(*wanted);
    if (failure == 0) {
        ungrab(*wanted);
        xcb_flush(m_connection);
    }
    return failure == kBadAccess;
}

void X11HotKeyBackend::flush()
{
    if (m_connection)
        xcb_flush(m_connection);
}

bool X11HotKeyBackend::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    switch (event->response_type & ~0x80) {
    case XCB_KEY_PRESS: {
        auto *key = reinterpret_cast<xcb_key_press_event_t *>(event);
        if (key->event == m_root)
            handleKey(key->detail, key->state, true);
        break;
    }
    case XCB_KEY_RELEASE: {
        auto *key = reinterpret_cast<xcb_key_release_event_t *>(event);
        handleKey(key->detail, key->state, false);
        break;
    }
    case XCB_MAPPING_NOTIFY:
        xcb_refresh_keyboard_mapping(m_keySymbols, reinterpret_cast<xcb_mapping_notify_event_t *>(event));
        break;
    default:
        break;
    }
    // Qt still sees the event: it keeps its idea of the server time from it, which it needs to take the
    // focus when an action shows a window. Qt has no window for the root, so nothing else happens.
    return false;
}

void X11HotKeyBackend::handleKey(uint8_t keycode, uint16_t state, bool pressed)
{
    if (!pressed) {
        // The release carries the modifiers still held then (often none), so it is matched by key code.
        const auto down = m_keysDown.constFind(keycode);
        if (down == m_keysDown.cend())
            return;
        const int combined = *down;
        m_keysDown.erase(down);
        deliver(Shortcut::fromCombined(combined), false);
        return;
    }
    if (m_keysDown.contains(keycode)) {
        ++m_ignoredRepeats;
        return;
    }
    const uint16_t modifiers = state & kRelevantModifiers;
    for (auto it = m_grabs.cbegin(); it != m_grabs.cend(); ++it) {
        if (it->keycode == keycode && it->modifiers == modifiers) {
            m_keysDown.insert(keycode, it.key());
            deliver(Shortcut::fromCombined(it.key()), true);
            return;
        }
    }
}

} // namespace GlobalShortcuts
