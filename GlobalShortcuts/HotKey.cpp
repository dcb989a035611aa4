#include "GlobalShortcuts/HotKey.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>

namespace GlobalShortcuts {

namespace {

HotKeyCenter *g_center = nullptr;

} // namespace

HotKey::HotKey(const Shortcut &shortcut, Callback onKeyDown, Callback onKeyUp)
    : onKeyDown(std::move(onKeyDown)), onKeyUp(std::move(onKeyUp)), m_shortcut(shortcut),
      m_id(HotKeyCenter::shared().nextId())
{
}

HotKey::~HotKey()
{
    if (g_center)
        g_center->forget(*this);
}

HotKeyCenter &HotKeyCenter::shared()
{
    // Made once and kept to the end of the run, like the registrations it holds.
    if (!g_center)
        g_center = new HotKeyCenter;
    return *g_center;
}

bool HotKeyCenter::exists()
{
    return g_center != nullptr;
}

HotKeyCenter::HotKeyCenter() : m_backend(makePlatformHotKeyBackend())
{
    watchLosses();
    // Menu tracking: any menu shown or hidden anywhere in the application.
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

bool HotKeyCenter::registerHotKey(const std::shared_ptr<HotKey> &hotKey)
{
    if (!m_backend->registerHotKey(hotKey->id(), hotKey->shortcut()))
        return false;
    hotKey->m_registeredWithSystem = true;
    m_hotKeys[hotKey->id()] = hotKey;
    if (!m_hasEventHandler && !installEventHandler())
        return true;
    applyMode();
    return true;
}

void HotKeyCenter::forget(HotKey &hotKey)
{
    if (hotKey.m_registeredWithSystem) {
        m_backend->unregisterHotKey(hotKey.id());
        hotKey.m_registeredWithSystem = false;
    }
    m_hotKeys.erase(hotKey.id());
}

HotKeyCenter::Mode HotKeyCenter::mode() const
{
    if (!m_isEnabled)
        return Mode::disabled;
    return m_isMenuOpen ? Mode::menuOpen : Mode::normal;
}

void HotKeyCenter::setEnabled(bool enabled)
{
    if (m_isEnabled == enabled)
        return;
    const Mode previous = mode();
    m_isEnabled = enabled;
    updateMode(previous);
}

void HotKeyCenter::setMenuOpen(bool open)
{
    if (m_isMenuOpen == open)
        return;
    const Mode previous = mode();
    m_isMenuOpen = open;
    updateMode(previous);
}

void HotKeyCenter::updateMode(Mode previous)
{
    if (mode() != previous && m_hasEventHandler)
        applyMode();
}

void HotKeyCenter::applyMode()
{
    const bool normal = mode() == Mode::normal;
    for (const std::shared_ptr<HotKey> &hotKey : hotKeys()) {
        if (normal && !hotKey->m_registeredWithSystem) {
            if (m_backend->registerHotKey(hotKey->id(), hotKey->shortcut())) {
                hotKey->m_registeredWithSystem = true;
            } else {
                m_hotKeys.erase(hotKey->id());
                if (hotKey->onRegistrationFailed)
                    hotKey->onRegistrationFailed();
            }
        } else if (!normal && hotKey->m_registeredWithSystem) {
            m_backend->unregisterHotKey(hotKey->id());
            hotKey->m_registeredWithSystem = false;
        }
    }
    m_isHotKeyEventHandlingEnabled = normal;
    m_isRawKeyEventHandlingEnabled = mode() == Mode::menuOpen;
}

bool HotKeyCenter::installEventHandler()
{
    m_hasEventHandler =
        m_backend->installEventHandler([this](quint32 id, bool pressed) { return handleHotKeyEvent(id, pressed); });
    return m_hasEventHandler;
}

void HotKeyCenter::setBackend(std::unique_ptr<HotKeyBackend> backend)
{
    const QList<std::shared_ptr<HotKey>> live = hotKeys();
    for (const std::shared_ptr<HotKey> &hotKey : live) {
        if (hotKey->m_registeredWithSystem)
            m_backend->unregisterHotKey(hotKey->id());
        hotKey->m_registeredWithSystem = false;
    }
    m_backend = std::move(backend);
    watchLosses();
    m_hasEventHandler = false;
    m_isHotKeyEventHandlingEnabled = false;
    m_isRawKeyEventHandlingEnabled = false;
    if (!live.isEmpty() && installEventHandler())
        applyMode();
}

void HotKeyCenter::watchLosses()
{
    m_backend->installLossHandler([this](quint32 id) { handleRegistrationLost(id); });
}

void HotKeyCenter::handleRegistrationLost(quint32 id)
{
    const auto it = m_hotKeys.find(id);
    if (it == m_hotKeys.end())
        return;
    // Held for the call: its owner lets it go in onRegistrationFailed.
    const std::shared_ptr<HotKey> hotKey = it->second.lock();
    m_hotKeys.erase(it);
    if (!hotKey)
        return;
    hotKey->m_registeredWithSystem = false;
    if (hotKey->onRegistrationFailed)
        hotKey->onRegistrationFailed();
}

bool HotKeyCenter::isTakenByAnotherApplication(const Shortcut &shortcut)
{
    return m_backend->isTakenByAnotherApplication(shortcut);
}

QList<std::shared_ptr<HotKey>> HotKeyCenter::hotKeys() const
{
    QList<std::shared_ptr<HotKey>> live;
    for (const auto &[id, weak] : m_hotKeys) {
        if (std::shared_ptr<HotKey> hotKey = weak.lock())
            live.append(hotKey);
    }
    return live;
}

bool HotKeyCenter::handleHotKeyEvent(quint32 id, bool pressed)
{
    if (!m_isHotKeyEventHandlingEnabled)
        return false;
    const auto it = m_hotKeys.find(id);
    if (it == m_hotKeys.end())
        return false;
    // Held for the call: an action may store another shortcut and so drop this hot key.
    const std::shared_ptr<HotKey> hotKey = it->second.lock();
    if (!hotKey)
        return false;
    const HotKey::Callback &callback = pressed ? hotKey->onKeyDown : hotKey->onKeyUp;
    if (callback)
        callback();
    return true;
}

bool HotKeyCenter::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Hide:
        trackMenu(watched, event);
        break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
        if (m_isRawKeyEventHandlingEnabled)
            return handleRawKeyEvent(static_cast<QKeyEvent *>(event));
        break;
    default:
        break;
    }
    return false;
}

void HotKeyCenter::trackMenu(QObject *watched, QEvent *event)
{
    auto *menu = qobject_cast<QMenu *>(watched);
    if (!menu)
        return;
    m_openMenus.removeAll(nullptr);
    m_openMenus.removeAll(menu);
    if (event->type() == QEvent::Show)
        m_openMenus.append(menu);
    setMenuOpen(!m_openMenus.isEmpty());
}

bool HotKeyCenter::handleRawKeyEvent(QKeyEvent *event)
{
    // Auto-repeats pass on untouched: a held key acts once.
    if (event->isAutoRepeat())
        return false;
    const quint32 physicalKey = event->nativeScanCode() ? event->nativeScanCode() : quint32(event->key());
    if (event->type() == QEvent::KeyRelease) {
        if (const auto down = m_rawKeysDown.constFind(physicalKey); down != m_rawKeysDown.cend()) {
            const quint32 id = *down;
            m_rawKeysDown.erase(down);
            const auto it = m_hotKeys.find(id);
            const std::shared_ptr<HotKey> hotKey = it == m_hotKeys.end() ? nullptr : it->second.lock();
            if (hotKey && hotKey->onKeyUp)
                hotKey->onKeyUp();
            return true;
        }
    }
    const std::shared_ptr<HotKey> hotKey = matchingHotKey(*event);
    if (!hotKey)
        return false;
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Claim the key so that no in-app shortcut fires; the press itself follows and is consumed here.
        event->accept();
        break;
    case QEvent::KeyPress:
        m_rawKeysDown.insert(physicalKey, hotKey->id());
        if (hotKey->onKeyDown)
            hotKey->onKeyDown();
        break;
    default:
        if (hotKey->onKeyUp)
            hotKey->onKeyUp();
        break;
    }
    return true;
}

std::shared_ptr<HotKey> HotKeyCenter::matchingHotKey(const QKeyEvent &event) const
{
    // A shortcut override announces the coming press; it is read like one.
    const QKeyEvent press(QEvent::KeyPress, event.key(), event.modifiers());
    std::optional<Shortcut> shortcut = Shortcut::fromKeyEvent(press);
    if (!shortcut)
        return nullptr;
    if (dropsFunctionModifier(shortcut->carbonKeyCode))
        shortcut->carbonModifiers &= ~CarbonModifier::kFunction;
    for (const std::shared_ptr<HotKey> &hotKey : hotKeys()) {
        if (hotKey->shortcut() == *shortcut)
            return hotKey;
    }
    return nullptr;
}

} // namespace GlobalShortcuts
