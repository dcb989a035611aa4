#include "GlobalShortcuts/FakeHotKeyBackend.h"

namespace GlobalShortcuts {

bool FakeHotKeyBackend::installEventHandler(EventHandler handler)
{
    m_handler = std::move(handler);
    return true;
}

bool FakeHotKeyBackend::registerHotKey(quint32 id, const Shortcut &shortcut)
{
    if (!m_available || m_takenElsewhere.contains(shortcut))
        return false;
    m_registered.insert(id, shortcut);
    return true;
}

void FakeHotKeyBackend::unregisterHotKey(quint32 id)
{
    m_registered.remove(id);
}

bool FakeHotKeyBackend::isTakenByAnotherApplication(const Shortcut &shortcut)
{
    return m_takenElsewhere.contains(shortcut) && !isRegistered(shortcut);
}

void FakeHotKeyBackend::refuseLater(const Shortcut &shortcut)
{
    for (const quint32 id : m_registered.keys(shortcut)) {
        m_registered.remove(id);
        if (m_lossHandler)
            m_lossHandler(id);
    }
}

bool FakeHotKeyBackend::isRegistered(const Shortcut &shortcut) const
{
    for (const Shortcut &registered : m_registered) {
        if (registered == shortcut)
            return true;
    }
    return false;
}

bool FakeHotKeyBackend::press(const Shortcut &shortcut)
{
    return deliver(shortcut, true);
}

bool FakeHotKeyBackend::release(const Shortcut &shortcut)
{
    return deliver(shortcut, false);
}

bool FakeHotKeyBackend::deliver(const Shortcut &shortcut, bool pressed)
{
    for (auto it = m_registered.cbegin(); it != m_registered.cend(); ++it) {
        if (it.value() == shortcut)
            return m_handler && m_handler(it.key(), pressed);
    }
    return false;
}

} // namespace GlobalShortcuts
