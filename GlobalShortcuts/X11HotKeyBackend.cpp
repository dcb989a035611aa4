#include "GlobalShortcuts/X11HotKeyBackend.h"

#include <QChar>
#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
// The XKB header has a member named "explicit".
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <cstdlib>
#include <utility>

namespace GlobalShortcuts {

namespace {

// clang-format off
constexpr auto kSpecialKeys = std::to_array<std::pair<int, quint32>>({
    {Qt::Key_Escape, XKB_KEY_Escape},       {Qt::Key_Tab, XKB_KEY_Tab},
    {Qt::Key_Backtab, XKB_KEY_ISO_Left_Tab}, {Qt::Key_Backspace, XKB_KEY_BackSpace},
    {Qt::Key_Return, XKB_KEY_Return},       {Qt::Key_Enter, XKB_KEY_KP_Enter},
    {Qt::Key_Insert, XKB_KEY_Insert},       {Qt::Key_Delete, XKB_KEY_Delete},
    {Qt::Key_Pause, XKB_KEY_Pause},         {Qt::Key_Print, XKB_KEY_Print},
    {Qt::Key_Home, XKB_KEY_Home},           {Qt::Key_End, XKB_KEY_End},
    {Qt::Key_Left, XKB_KEY_Left},           {Qt::Key_Up, XKB_KEY_Up},
    {Qt::Key_Right, XKB_KEY_Right},         {Qt::Key_Down, XKB_KEY_Down},
    {Qt::Key_PageUp, XKB_KEY_Prior},        {Qt::Key_PageDown, XKB_KEY_Next},
    {Qt::Key_Menu, XKB_KEY_Menu},           {Qt::Key_Help, XKB_KEY_Help},
    {Qt::Key_Clear, XKB_KEY_Clear},         {Qt::Key_VolumeUp, XKB_KEY_XF86AudioRaiseVolume},
    {Qt::Key_VolumeDown, XKB_KEY_XF86AudioLowerVolume}, {Qt::Key_VolumeMute, XKB_KEY_XF86AudioMute},
});
// clang-format on

// The keypad's own keysyms: its digits, operators, Enter and equals sign.
quint32 keypadKeysym(int key)
{
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return XKB_KEY_KP_0 + quint32(key - Qt::Key_0);
    if (key >= Qt::Key_Asterisk && key <= Qt::Key_Slash) // * + , - . / in the order of their keysyms
        return XKB_KEY_KP_Multiply + quint32(key - Qt::Key_Asterisk);
    if (key == Qt::Key_Equal)
        return XKB_KEY_KP_Equal;
    return key == Qt::Key_Enter ? XKB_KEY_KP_Enter : 0;
}

constexpr uint8_t kBadAccess = 10;
constexpr uint16_t kNumLock = XCB_MOD_MASK_2;
constexpr uint16_t kCapsLock = XCB_MOD_MASK_LOCK;
// A grab holds for one exact modifier state, so the lock keys get a grab of their own in every combination.
constexpr std::array<uint16_t, 4> kLockVariants = {0, kNumLock, kCapsLock, kNumLock | kCapsLock};
// The modifiers a hot key can hold: Shift, Ctrl, Alt, Super.
constexpr uint16_t kRelevantModifiers = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

uint16_t xModifiers(Qt::KeyboardModifiers modifiers)
{
    return (modifiers & Qt::ShiftModifier ? XCB_MOD_MASK_SHIFT : 0) |
           (modifiers & Qt::ControlModifier ? XCB_MOD_MASK_CONTROL : 0) |
           (modifiers & Qt::AltModifier ? XCB_MOD_MASK_1 : 0) | (modifiers & Qt::MetaModifier ? XCB_MOD_MASK_4 : 0);
}

xcb_connection_t *qtConnection()
{
    auto *app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return app ? app->connection() : nullptr;
}

} // namespace

quint32 keysym(Shortcut shortcut)
{
    const int key = shortcut.key();
    if (shortcut.keyboardModifiers().testFlag(Qt::KeypadModifier))
        return keypadKeysym(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return XKB_KEY_F1 + quint32(key - Qt::Key_F1);
    for (const auto &[qtKey, sym] : kSpecialKeys) {
        if (qtKey == key)
            return sym;
    }
    // Qt names a typed key by its character in upper case; the keysym of the unshifted letter finds the same key.
    if (key > 0 && key < Qt::Key_Escape)
        return xkb_utf32_to_keysym(QChar::toLower(char32_t(key)));
    return 0;
}

X11HotKeyBackend::X11HotKeyBackend() : m_connection(qtConnection())
{
    if (!m_connection)
        return;
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    m_keySymbols = xcb_key_symbols_alloc(m_connection);
    enableDetectableAutoRepeat();
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11HotKeyBackend::~X11HotKeyBackend()
{
    if (!m_connection)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    for (const Grab &taken : std::as_const(m_grabs))
        ungrab(taken);
    xcb_flush(m_connection);
    xcb_key_symbols_free(m_keySymbols);
}

void X11HotKeyBackend::enableDetectableAutoRepeat()
{
    // Without it a held key sends release and press pairs, and a key-up action would run on every repeat.
    auto *use = xcb_xkb_use_extension_reply(m_connection, xcb_xkb_use_extension(m_connection, 1, 0), nullptr);
    if (use && use->supported) {
        const uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
        std::free(xcb_xkb_per_client_flags_reply(
            m_connection, xcb_xkb_per_client_flags(m_connection, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0),
            nullptr));
    }
    std::free(use);
}

std::optional<X11HotKeyBackend::Grab> X11HotKeyBackend::grabFor(Shortcut shortcut) const
{
    const quint32 sym = keysym(shortcut);
    // The first key that carries the symbol, at any shift level: '!' is Shift and the key of '1'.
    xcb_keycode_t *keycodes = m_connection && sym ? xcb_key_symbols_get_keycode(m_keySymbols, sym) : nullptr;
    const uint8_t keycode = keycodes ? keycodes[0] : XCB_NO_SYMBOL;
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
    for (const xcb_void_cookie_t cookie : cookies) {
        if (xcb_generic_error_t *error = xcb_request_check(m_connection, cookie)) {
            failure = error->error_code;
            std::free(error);
        }
    }
    // Ungrabbing gives back only this client's grabs: the variants another client holds stay with it.
    if (failure) {
        ungrab(grab);
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
    auto *event = static_cast<xcb_generic_event_t *>(message);
    const uint8_t type = eventType == "xcb_generic_event_t" ? event->response_type & ~0x80 : 0;
    // A release has the layout of a press.
    if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
        const auto *key = reinterpret_cast<xcb_key_press_event_t *>(event);
        if (type == XCB_KEY_RELEASE || key->event == m_root)
            handleKey(key->detail, key->state, type == XCB_KEY_PRESS);
    } else if (type == XCB_MAPPING_NOTIFY) {
        xcb_refresh_keyboard_mapping(m_keySymbols, reinterpret_cast<xcb_mapping_notify_event_t *>(event));
    }
    // Qt still sees the event: it keeps its idea of the server time from it, which it needs to take the
    // focus when an action shows a window. Qt has no window for the root, so nothing else happens.
    return false;
}

void X11HotKeyBackend::handleKey(uint8_t keycode, uint16_t state, bool pressed)
{
    // The release carries the modifiers still held then (often none), so it is matched by key code.
    if (!pressed) {
        if (const int combined = m_keysDown.take(keycode))
            deliver(Shortcut::fromCombined(combined), false);
        return;
    }
    if (m_keysDown.contains(keycode)) {
        ++m_ignoredRepeats;
        return;
    }
    const Grab pressedKeys{keycode, uint16_t(state & kRelevantModifiers)};
    for (auto it = m_grabs.cbegin(); it != m_grabs.cend(); ++it) {
        if (*it == pressedKeys) {
            m_keysDown.insert(keycode, it.key());
            return deliver(Shortcut::fromCombined(it.key()), true);
        }
    }
}

} // namespace GlobalShortcuts
