#include "GlobalShortcuts/PortalHotKeyBackend.h"

#include "GlobalShortcuts/Keysym.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTimer>

#include <xkbcommon/xkbcommon.h>

namespace GlobalShortcuts {

namespace {

constexpr char kRequestInterface[] = "org.freedesktop.portal.Request";
constexpr char kSessionInterface[] = "org.freedesktop.portal.Session";
constexpr uint kResponseSuccess = 0;

QString objectPathText(const QVariant &value)
{
    if (value.canConvert<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    // Some portals give the session handle as a plain string.
    return value.toString();
}

} // namespace

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

PortalHotKeyBackend::PortalHotKeyBackend(const QDBusConnection &bus) : m_bus(bus)
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<PortalShortcuts>();
    // Asked without waiting: the portal may first have to be started by the bus, and the window should not wait.
    QDBusMessage get =
        QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QLatin1String(kInterface) << QStringLiteral("version");
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *watcher;
        finishProbe(reply.isValid() && reply.value().variant().toUInt() >= 1);
    });
    if (!m_bus.isConnected())
        finishProbe(false);
}

void PortalHotKeyBackend::finishProbe(bool offered)
{
    if (m_availability != Availability::unknown)
        return;
    if (offered) {
        offered = m_bus.connect(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface),
                                QStringLiteral("Activated"), this, SLOT(handleActivated(QDBusMessage))) &&
                  m_bus.connect(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface),
                                QStringLiteral("Deactivated"), this, SLOT(handleDeactivated(QDBusMessage)));
    }
    m_availability = offered ? Availability::available : Availability::unavailable;
    if (!offered)
        failPending();
    else if (!m_pending.isEmpty())
        scheduleBind();
}

PortalHotKeyBackend::~PortalHotKeyBackend()
{
    if (!m_requestPath.isEmpty()) {
        m_bus.call(QDBusMessage::createMethodCall(QLatin1String(kService), m_requestPath,
                                                  QLatin1String(kRequestInterface), QStringLiteral("Close")),
                   QDBus::NoBlock);
        unwatchRequest();
    }
    closeSession();
}

QString PortalHotKeyBackend::preferredTrigger(Shortcut shortcut)
{
    char name[64];
    const quint32 sym = keysym(shortcut);
    if (sym == 0 || xkb_keysym_get_name(sym, name, sizeof name) <= 0)
        return {};
    QStringList parts;
    const Qt::KeyboardModifiers modifiers = shortcut.keyboardModifiers();
    const std::pair<Qt::KeyboardModifier, const char *> kNames[] = {
        {Qt::ControlModifier, "CTRL"}, {Qt::AltModifier, "ALT"}, {Qt::ShiftModifier, "SHIFT"}, {Qt::MetaModifier, "LOGO"}};
    for (const auto &[modifier, text] : kNames) {
        if (modifiers & modifier)
            parts << QLatin1String(text);
    }
    parts << QString::fromLatin1(name);
    return parts.join(QLatin1Char('+'));
}

bool PortalHotKeyBackend::registerHotKey(Shortcut shortcut)
{
    if (!isAvailable() || preferredTrigger(shortcut).isEmpty())
        return false;
    m_wanted.insert(shortcut.toCombined());
    // Given up and taken again (a menu was open): the session still holds it.
    if (m_bound.contains(portableText(shortcut)))
        return true;
    m_pending.insert(shortcut.toCombined());
    scheduleBind();
    return true;
}

void PortalHotKeyBackend::unregisterHotKey(Shortcut shortcut)
{
    // The binding stays with the session, so taking the key back needs no new dialog; presses are ignored.
    m_wanted.remove(shortcut.toCombined());
    m_pending.remove(shortcut.toCombined());
    m_down.remove(shortcut.toCombined());
}

void PortalHotKeyBackend::scheduleBind()
{
    if (m_bindScheduled)
        return;
    // Registrations of one turn of the event loop go to the desktop together.
    m_bindScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_bindScheduled = false;
        // A request on its way looks at what is pending when it ends, and so does the portal's first answer.
        if (m_availability == Availability::available && m_requestPath.isEmpty() && !m_pending.isEmpty())
            createSession();
    });
}

void PortalHotKeyBackend::createSession()
{
    // A session binds once: every wanted combination moves to the new one.
    closeSession();
    m_pending.unite(m_wanted);
    const QVariantMap options{{QStringLiteral("handle_token"), newToken()},
                              {QStringLiteral("session_handle_token"), newToken()}};
    if (!request(Stage::creatingSession, QStringLiteral("CreateSession"), {options},
                 options.value(QStringLiteral("handle_token")).toString()))
        failPending();
}

void PortalHotKeyBackend::bindShortcuts()
{
    PortalShortcuts shortcuts;
    m_sent = m_wanted;
    for (const int combined : std::as_const(m_wanted)) {
        const Shortcut shortcut = Shortcut::fromCombined(combined);
        const QString description = QCoreApplication::translate("GlobalShortcuts", "%1: %2")
                                        .arg(QGuiApplication::applicationDisplayName(), nativeText(shortcut));
        shortcuts.append(PortalShortcut{portableText(shortcut),
                                        {{QStringLiteral("description"), description},
                                         {QStringLiteral("preferred_trigger"), preferredTrigger(shortcut)}}});
    }
    const QString token = newToken();
    const QVariantList arguments{QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts),
                                 QString(), QVariantMap{{QStringLiteral("handle_token"), token}}};
    if (!request(Stage::binding, QStringLiteral("BindShortcuts"), arguments, token))
        failPending();
}

bool PortalHotKeyBackend::request(Stage stage, const QString &method, const QVariantList &arguments,
                                  const QString &token)
{
    // The Request object's path is known before the call, so the Response cannot come before we listen.
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString expected = QStringLiteral("%1/request/%2/%3").arg(QLatin1String(kPath), sender, token);
    watchRequest(expected);
    m_stage = stage;
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                                       QLatin1String(kInterface), method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, expected] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (m_requestPath != expected)
            return; // answered already, or given up
        if (reply.isError()) {
            unwatchRequest();
            failPending();
            return;
        }
        // An older portal picks its own path.
        if (reply.value().path() != expected) {
            unwatchRequest();
            watchRequest(reply.value().path());
        }
    });
    return m_bus.isConnected();
}

void PortalHotKeyBackend::watchRequest(const QString &path)
{
    m_requestPath = path;
    m_bus.connect(QLatin1String(kService), path, QLatin1String(kRequestInterface), QStringLiteral("Response"), this,
                  SLOT(handleResponse(QDBusMessage)));
}

void PortalHotKeyBackend::unwatchRequest()
{
    m_bus.disconnect(QLatin1String(kService), m_requestPath, QLatin1String(kRequestInterface),
                     QStringLiteral("Response"), this, SLOT(handleResponse(QDBusMessage)));
    m_requestPath.clear();
    m_stage = Stage::none;
}

void PortalHotKeyBackend::handleResponse(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    if (message.path() != m_requestPath || arguments.size() < 2)
        return;
    const Stage stage = m_stage;
    unwatchRequest();
    const uint response = arguments.at(0).toUInt();
    const QVariantMap results = qdbus_cast<QVariantMap>(arguments.at(1));
    if (stage == Stage::binding) {
        finishBinding(response, results);
        return;
    }
    m_session =
        response == kResponseSuccess ? objectPathText(results.value(QStringLiteral("session_handle"))) : QString();
    if (m_session.isEmpty())
        failPending();
    else
        bindShortcuts();
}

void PortalHotKeyBackend::finishBinding(uint response, const QVariantMap &results)
{
    // Declined by the user (1) or refused by the desktop (2): none of the sent combinations is bound.
    if (response == kResponseSuccess) {
        for (const PortalShortcut &shortcut : qdbus_cast<PortalShortcuts>(results.value(QStringLiteral("shortcuts"))))
            m_bound.insert(shortcut.id);
    }
    QList<int> refused;
    for (const int combined : std::as_const(m_sent)) {
        m_pending.remove(combined);
        if (m_wanted.contains(combined) && !m_bound.contains(portableText(Shortcut::fromCombined(combined))))
            refused.append(combined);
    }
    m_sent.clear();
    fail(refused);
    // Combinations registered while the desktop was asked go to a session of their own.
    if (!m_pending.isEmpty())
        scheduleBind();
}

void PortalHotKeyBackend::closeSession()
{
    if (!m_session.isEmpty()) {
        m_bus.call(QDBusMessage::createMethodCall(QLatin1String(kService), m_session, QLatin1String(kSessionInterface),
                                                  QStringLiteral("Close")),
                   QDBus::NoBlock);
    }
    m_session.clear();
    m_bound.clear();
    m_down.clear();
}

void PortalHotKeyBackend::failPending()
{
    const QList<int> pending(m_pending.cbegin(), m_pending.cend());
    m_pending.clear();
    m_sent.clear();
    fail(pending);
}

void PortalHotKeyBackend::fail(const QList<int> &shortcuts)
{
    for (const int combined : shortcuts) {
        m_wanted.remove(combined);
        m_down.remove(combined);
    }
    for (const int combined : shortcuts)
        lose(Shortcut::fromCombined(combined));
}

QString PortalHotKeyBackend::newToken() const
{
    return QStringLiteral("globalshortcuts_%1").arg(QRandomGenerator::global()->generate());
}

std::optional<Shortcut> PortalHotKeyBackend::boundShortcut(const QVariant &portalId) const
{
    const std::optional<Shortcut> shortcut = fromPortableText(portalId.toString());
    if (!shortcut || !m_bound.contains(portalId.toString()) || !m_wanted.contains(shortcut->toCombined()))
        return std::nullopt;
    return shortcut;
}

void PortalHotKeyBackend::handleActivated(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2 || objectPathText(arguments.at(0)) != m_session || m_session.isEmpty())
        return;
    // A desktop may repeat the activation while the key is held: it acts once.
    const std::optional<Shortcut> shortcut = boundShortcut(arguments.at(1));
    if (shortcut && !m_down.contains(shortcut->toCombined())) {
        m_down.insert(shortcut->toCombined());
        deliver(*shortcut, true);
    }
}

void PortalHotKeyBackend::handleDeactivated(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2 || objectPathText(arguments.at(0)) != m_session || m_session.isEmpty())
        return;
    const std::optional<Shortcut> shortcut = boundShortcut(arguments.at(1));
    if (shortcut && m_down.remove(shortcut->toCombined()))
        deliver(*shortcut, false);
}

} // namespace GlobalShortcuts
