#pragma once

#include "GlobalShortcuts/HotKeyBackend.h"

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QVariantMap>

class QDBusArgument;
class QDBusMessage;

namespace GlobalShortcuts {

// One shortcut as BindShortcuts takes it and its response returns it: an id and properties (description,
// preferred_trigger; trigger_description in the answer).
struct PortalShortcut
{
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut);
const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut);

// Hot keys of a Wayland desktop: the desktop portal's GlobalShortcuts interface over D-Bus. The desktop owns the
// keys; this backend asks it, in a session of its own, to bind each combination under an id (its portable text, the
// same in every run, so that the desktop remembers what the user chose), and hears the presses and releases as the
// portal's Activated and Deactivated signals.
//
// The portal answers later (its Request objects reply with a Response signal), and it binds the shortcuts of a
// session only once. So registerHotKey says yes at once, and a refusal comes back as a loss; a combination not
// bound yet opens a new session that binds every wanted combination together. A portal that cannot make a session
// (none on the bus, or one without the interface) leaves no hot keys at all.
class PortalHotKeyBackend final : public QObject, public HotKeyBackend
{
    Q_OBJECT

public:
    using PortalShortcuts = QList<PortalShortcut>;

    static constexpr char kService[] = "org.freedesktop.portal.Desktop";
    static constexpr char kPath[] = "/org/freedesktop/portal/desktop";
    static constexpr char kInterface[] = "org.freedesktop.portal.GlobalShortcuts";

    explicit PortalHotKeyBackend(const QDBusConnection &bus);
    ~PortalHotKeyBackend() override;

    bool isAvailable() const override { return m_available; }
    bool registerHotKey(Shortcut shortcut) override;
    void unregisterHotKey(Shortcut shortcut) override;
    // The desktop settles clashes in its own dialog; nothing tells us beforehand.
    bool isTakenByAnotherApplication(Shortcut) override { return false; }
    bool desktopDecides() const override { return true; }

    // The trigger a combination is offered with ("CTRL+SHIFT+d"); empty for a key the keyboard description has no
    // name for.
    static QString preferredTrigger(Shortcut shortcut);

private slots:
    // Slots by name: QDBusConnection delivers D-Bus signals only to those.
    void handleResponse(const QDBusMessage &message);
    // Activated and Deactivated: the key of a bound combination went down or up.
    void handleKeySignal(const QDBusMessage &message);

private:
    // Binds in a new session what the current one does not hold.
    void bindAnew();
    void bindShortcuts();
    // A portal call whose answer comes as a Response on a Request object; the options go last.
    void request(const QString &method, QVariantList arguments, QVariantMap options);
    void endRequest();
    void close(const QString &path, const char *interface);
    void closeSession();
    // The combinations of the last request that the desktop did not bind are lost.
    void refuseUnbound();

    QDBusConnection m_bus;
    bool m_available = true;
    // Combinations by QKeyCombination::toCombined.
    QSet<int> m_wanted;
    QSet<int> m_sent;      // in the session being made and bound
    QSet<int> m_down;      // keys held
    QSet<QString> m_bound; // portal ids bound in the current session
    QString m_session;
    QString m_requestPath;
    // Registrations of one turn of the event loop go to the desktop together.
    QTimer m_bindTimer;
};

} // namespace GlobalShortcuts

Q_DECLARE_METATYPE(GlobalShortcuts::PortalShortcut)
