#pragma once

#include "GlobalShortcuts/HotKeyBackend.h"

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QSet>
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
// keys; this backend asks it, in a session of its own, to bind each combination under an id, and hears the
// presses and releases as the portal's Activated and Deactivated signals.
//
// The portal answers later (its Request objects reply with a Response signal), and it binds the shortcuts of a
// session only once. So registerHotKey says yes at once, and a refusal comes back through the loss handler; a
// combination not bound yet opens a new session that binds every wanted combination together.
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

    // Until the portal has answered whether it offers the interface, hot keys count as available; registrations
    // made meanwhile wait for the answer and are reported lost when the portal is not there.
    bool isAvailable() const override { return m_availability != Availability::unavailable; }
    bool hasAnswered() const { return m_availability != Availability::unknown; }
    bool registerHotKey(Shortcut shortcut) override;
    void unregisterHotKey(Shortcut shortcut) override;
    // The desktop settles clashes in its own dialog; nothing tells us beforehand.
    bool isTakenByAnotherApplication(Shortcut) override { return false; }
    bool desktopDecides() const override { return true; }

    // The trigger a combination is offered with ("CTRL+SHIFT+d"); empty for a key the keyboard description has no
    // name for. The portal's id of a combination is its portable text, the same in every run, so that the desktop
    // remembers what the user chose for it.
    static QString preferredTrigger(Shortcut shortcut);

private slots:
    // Slots by name: QDBusConnection delivers D-Bus signals only to those.
    void handleResponse(const QDBusMessage &message);
    void handleActivated(const QDBusMessage &message);
    void handleDeactivated(const QDBusMessage &message);

private:
    enum class Stage { none, creatingSession, binding };
    enum class Availability { unknown, available, unavailable };

    void finishProbe(bool offered);
    void scheduleBind();
    void createSession();
    void bindShortcuts();
    // Sends a portal call whose answer comes as a Response on a Request object; false when it could not be sent.
    bool request(Stage stage, const QString &method, const QVariantList &arguments, const QString &token);
    void watchRequest(const QString &path);
    void unwatchRequest();
    void finishBinding(uint response, const QVariantMap &results);
    void closeSession();
    void failPending();
    void fail(const QList<int> &shortcuts);
    QString newToken() const;
    // The wanted combination a bound portal id stands for.
    std::optional<Shortcut> boundShortcut(const QVariant &portalId) const;

    QDBusConnection m_bus;
    Availability m_availability = Availability::unknown;
    // Combinations by QKeyCombination::toCombined.
    QSet<int> m_wanted;
    QSet<QString> m_bound; // portal ids bound in the current session
    QSet<int> m_pending;   // wanted, waiting for the desktop's answer
    QSet<int> m_sent;      // in the BindShortcuts on its way
    QSet<int> m_down;      // keys held
    QString m_session;
    QString m_requestPath;
    Stage m_stage = Stage::none;
    bool m_bindScheduled = false;
};

} // namespace GlobalShortcuts

Q_DECLARE_METATYPE(GlobalShortcuts::PortalShortcut)
