#include "GlobalShortcuts/PortalHotKeyBackend.h"

#include "GlobalShortcuts/X11HotKeyBackend.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QRandomGenerator>

#include <xkbcommon/xkbcommon.h>

namespace GlobalShortcuts {

namespace {

constexpr char kRequestInterface[] = "org.freedesktop.portal.Request";
constexpr uint kResponseSuccess = 0;

// Some portals give the session handle as a plain string.
QString objectPathText(const QVariant &value)
{
    return value.canConvert<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path() : value.toString();
}

QString newToken()
{
    return QStringLiteral("globalshortcuts_%1").arg(QRandomGenerator::global()->generate());
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
    const auto listen = [this](const char *signal) {
        return m_bus.connect(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface),
                             QLatin1String(signal), this, SLOT(handleKeySignal(QDBusMessage)));
    };
    m_available = listen("Activated") && listen("Deactivated");
    m_bindTimer.setSingleShot(true);
    m_bindTimer.setInterval(0);
    connect(&m_bindTimer, &QTimer::timeout, this, &PortalHotKeyBackend::bindAnew);
}

PortalHotKeyBackend::~PortalHotKeyBackend()
{
    if (!m_requestPath.isEmpty()) {
        close(m_requestPath, kRequestInterface);
        endRequest();
    }
    closeSession();
}

void PortalHotKeyBackend::close(const QString &path, const char *interface)
{
    m_bus.call(QDBusMessage::createMethodCall(QLatin1String(kService), path, QLatin1String(interface),
                                              QStringLiteral("Close")),
               QDBus::NoBlock);
}

QString PortalHotKeyBackend::preferredTrigger(Shortcut shortcut)
{
    char name[64];
    const quint32 sym = keysym(shortcut);
    if (sym == 0 || xkb_keysym_get_name(sym, name, sizeof name) <= 0)
        return {};
    QStringList parts;
    const std::pair<Qt::KeyboardModifier, const char *> kNames[] = {{Qt::ControlModifier, "CTRL"},
                                                                    {Qt::AltModifier, "ALT"},
                                                                    {Qt::ShiftModifier, "SHIFT"},
                                                                    {Qt::MetaModifier, "LOGO"}};
    for (const auto &[modifier, text] : kNames) {
        if (shortcut.keyboardModifiers() & modifier)
            parts << QLatin1String(text);
    }
    parts << QString::fromLatin1(name);
    return parts.join(QLatin1Char('+'));
}

bool PortalHotKeyBackend::registerHotKey(Shortcut shortcut)
{
    if (!m_available || preferredTrigger(shortcut).isEmpty())
        return false;
    m_wanted.insert(shortcut.toCombined());
    // Given up and taken again (a menu was open): the session still holds it, no new dialog.
    if (!m_bound.contains(portableText(shortcut)))
        m_bindTimer.start();
    return true;
}

void PortalHotKeyBackend::unregisterHotKey(Shortcut shortcut)
{
    // The binding stays with the session; presses are ignored meanwhile.
    m_wanted.remove(shortcut.toCombined());
    m_down.remove(shortcut.toCombined());
}

void PortalHotKeyBackend::bindAnew()
{
    // A request on its way looks again when it ends.
    const bool allBound = std::all_of(m_wanted.cbegin(), m_wanted.cend(), [this](int combined) {
        return m_bound.contains(portableText(Shortcut::fromCombined(combined)));
    });
    if (!m_available || !m_requestPath.isEmpty() || allBound)
        return;
    // A session binds once: every wanted combination moves to the new one.
    closeSession();
    m_sent = m_wanted;
    request(QStringLiteral("CreateSession"), {}, {{QStringLiteral("session_handle_token"), newToken()}});
}

void PortalHotKeyBackend::bindShortcuts()
{
    PortalShortcuts shortcuts;
    m_sent = m_wanted;
    for (const int combined : std::as_const(m_wanted)) {
        const Shortcut shortcut = Shortcut::fromCombined(combined);
        const QString description = QCoreApplication::translate("GlobalShortcuts", "%1: %2")
                                        .arg(QGuiApplication::applicationDisplayName(), nativeText(shortcut));
        shortcuts.append({portableText(shortcut),
                          {{QStringLiteral("description"), description},
                           {QStringLiteral("preferred_trigger"), preferredTrigger(shortcut)}}});
    }
    request(QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString()}, {});
}

void PortalHotKeyBackend::request(const QString &method, QVariantList arguments, QVariantMap options)
{
    // The Request object's path is known before the call, so the Response cannot come before we listen.
    const QString token = newToken();
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    const QString sender = m_bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString path = QStringLiteral("%1/request/%2/%3").arg(QLatin1String(kPath), sender, token);
    m_requestPath = path;
    m_bus.connect(QLatin1String(kService), path, QLatin1String(kRequestInterface), QStringLiteral("Response"), this,
                  SLOT(handleResponse(QDBusMessage)));
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                                       QLatin1String(kInterface), method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, path] {
        watcher->deleteLater();
        if (m_requestPath != path || !watcher->isError())
            return; // answered already, given up, or the Response follows
        // Without a session there are no hot keys here at all.
        if (m_session.isEmpty())
            m_available = false;
        endRequest();
        refuseUnbound();
    });
}

void PortalHotKeyBackend::endRequest()
{
    m_bus.disconnect(QLatin1String(kService), m_requestPath, QLatin1String(kRequestInterface),
                     QStringLiteral("Response"), this, SLOT(handleResponse(QDBusMessage)));
    m_requestPath.clear();
}

void PortalHotKeyBackend::handleResponse(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    if (message.path() != m_requestPath || arguments.size() < 2)
        return;
    endRequest();
    const bool success = arguments.at(0).toUInt() == kResponseSuccess;
    const QVariantMap results = qdbus_cast<QVariantMap>(arguments.at(1));
    if (m_session.isEmpty()) {
        m_session = success ? objectPathText(results.value(QStringLiteral("session_handle"))) : QString();
        if (!m_session.isEmpty())
            return bindShortcuts();
    } else if (success) {
        // Declined by the user (1) or refused by the desktop (2): none of the sent combinations is bound.
        for (const PortalShortcut &shortcut : qdbus_cast<PortalShortcuts>(results.value(QStringLiteral("shortcuts"))))
            m_bound.insert(shortcut.id);
    }
    refuseUnbound();
    // Combinations registered while the desktop was asked go to a session of their own.
    m_bindTimer.start();
}

void PortalHotKeyBackend::closeSession()
{
    if (!m_session.isEmpty())
        close(m_session, "org.freedesktop.portal.Session");
    m_session.clear();
    m_bound.clear();
    m_down.clear();
}

void PortalHotKeyBackend::refuseUnbound()
{
    QList<Shortcut> refused;
    for (const int combined : std::as_const(m_sent)) {
        const Shortcut shortcut = Shortcut::fromCombined(combined);
        if (!m_bound.contains(portableText(shortcut)) && m_wanted.remove(combined)) {
            m_down.remove(combined);
            refused.append(shortcut);
        }
    }
    m_sent.clear();
    for (const Shortcut shortcut : refused)
        lose(shortcut);
}

void PortalHotKeyBackend::handleKeySignal(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2 || m_session.isEmpty() || objectPathText(arguments.at(0)) != m_session ||
        !m_bound.contains(arguments.at(1).toString()))
        return;
    const std::optional<Shortcut> shortcut = fromPortableText(arguments.at(1).toString());
    if (!shortcut || !m_wanted.contains(shortcut->toCombined()))
        return;
    // A desktop may repeat the activation while the key is held: it acts once.
    const bool pressed = message.member() == QLatin1String("Activated");
    if (pressed == m_down.contains(shortcut->toCombined()))
        return;
    if (pressed)
        m_down.insert(shortcut->toCombined());
    else
        m_down.remove(shortcut->toCombined());
    deliver(*shortcut, pressed);
}

} // namespace GlobalShortcuts
