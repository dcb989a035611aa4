#include "GlobalShortcuts/HotKeyCenter.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>

namespace GlobalShortcuts {

HotKeyCenter &HotKeyCenter::shared()
{
    static HotKeyCenter *center = new HotKeyCenter;
    return *center;
}

HotKeyCenter::HotKeyCenter() : m_backend(makePlatformHotKeyBackend())
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

void HotKeyBackend::deliver(Shortcut shortcut, bool pressed)
{
    const HotKeyCenter &center = HotKeyCenter::shared();
    if (!center.m_isMenuOpen && center.isRegistered(shortcut))
        detail::dispatch(shortcut, pressed);
}

void HotKeyBackend::lose(Shortcut shortcut)
{
    if (HotKeyCenter::shared().m_hotKeys.remove(shortcut.toCombined()))
        detail::hotKeyLost(shortcut);
}

bool HotKeyCenter::registerHotKey(Shortcut shortcut)
{
    if (!m_backend->registerHotKey(shortcut))
        return false;
    m_hotKeys.insert(shortcut.toCombined());
    // Known to be free, but the menu holds the keyboard until it closes.
    if (m_isMenuOpen)
        m_backend->unregisterHotKey(shortcut);
    return true;
}

void HotKeyCenter::unregisterHotKey(Shortcut shortcut)
{
    if (m_hotKeys.remove(shortcut.toCombined()) && !m_isMenuOpen)
        m_backend->unregisterHotKey(shortcut);
}

void HotKeyCenter::unregisterAll()
{
    for (const int combined : QSet<int>(m_hotKeys))
        unregisterHotKey(Shortcut::fromCombined(combined));
}

void HotKeyCenter::setMenuOpen(bool open)
{
    if (m_isMenuOpen == open)
        return;
    m_isMenuOpen = open;
    // Given up while the menu holds the keyboard, and taken back after: the ones the desktop refuses now are lost.
    for (const int combined : QSet<int>(m_hotKeys)) {
        const Shortcut shortcut = Shortcut::fromCombined(combined);
        if (open)
            m_backend->unregisterHotKey(shortcut);
        else if (!m_backend->registerHotKey(shortcut))
            HotKeyBackend::lose(shortcut);
    }
}

void HotKeyCenter::setBackend(std::unique_ptr<HotKeyBackend> backend)
{
    const bool menuOpen = m_isMenuOpen;
    setMenuOpen(true);
    m_backend = std::move(backend);
    setMenuOpen(menuOpen);
}

bool HotKeyCenter::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (auto *menu = qobject_cast<QMenu *>(watched); menu && (type == QEvent::Show || type == QEvent::Hide)) {
        // Any menu shown or hidden anywhere in the application.
        m_openMenus.removeAll(nullptr);
        m_openMenus.removeAll(menu);
        if (type == QEvent::Show)
            m_openMenus.append(menu);
        setMenuOpen(!m_openMenus.isEmpty());
    }
    const bool key = type == QEvent::KeyPress || type == QEvent::KeyRelease || type == QEvent::ShortcutOverride;
    return key && m_isMenuOpen && handleRawKeyEvent(static_cast<QKeyEvent *>(event));
}

bool HotKeyCenter::handleRawKeyEvent(QKeyEvent *event)
{
    // Auto-repeats pass on untouched: a held key acts once.
    if (event->isAutoRepeat())
        return false;
    const quint32 physicalKey = event->nativeScanCode() ? event->nativeScanCode() : quint32(event->key());
    if (event->type() == QEvent::KeyRelease && m_rawKeysDown.contains(physicalKey)) {
        const Shortcut shortcut = Shortcut::fromCombined(m_rawKeysDown.take(physicalKey));
        if (isRegistered(shortcut))
            detail::dispatch(shortcut, false);
        return true;
    }
    // A shortcut override announces the coming press; it is read like one.
    const QKeyEvent press(QEvent::KeyPress, event->key(), event->modifiers());
    const std::optional<Shortcut> shortcut = shortcutFromKeyEvent(press);
    if (!shortcut || !isRegistered(*shortcut))
        return false;
    if (event->type() == QEvent::ShortcutOverride) {
        // Claim the key so that no in-app shortcut fires; the press itself follows and is consumed here.
        event->accept();
        return true;
    }
    if (event->type() == QEvent::KeyPress)
        m_rawKeysDown.insert(physicalKey, shortcut->toCombined());
    detail::dispatch(*shortcut, event->type() == QEvent::KeyPress);
    return true;
}

} // namespace GlobalShortcuts
