#include "Vellora/Platform/DesktopColorScheme.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QEvent>
#include <QGuiApplication>
#include <QPalette>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kGroup = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");

// The portal's values: 0 no preference, 1 prefers dark, 2 prefers light.
constexpr uint kPrefersDark = 1;
constexpr uint kPrefersLight = 2;

DesktopColorScheme::Scheme paletteScheme()
{
    const QPalette palette = QGuiApplication::palette();
    const bool dark = palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
    return dark ? DesktopColorScheme::Scheme::dark : DesktopColorScheme::Scheme::light;
}

// The portal wraps the value in one or two variants, depending on its version.
QVariant unwrapped(QVariant value)
{
    while (value.canConvert<QDBusVariant>() && value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

} // namespace

DesktopColorScheme::DesktopColorScheme(QObject *parent) : DesktopColorScheme(QDBusConnection::sessionBus(), parent) {}

DesktopColorScheme::DesktopColorScheme(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus), m_paletteScheme(paletteScheme())
{
    if (qGuiApp)
        qGuiApp->installEventFilter(this);
    if (!m_bus.isConnected())
        return;
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                  SLOT(portalSettingChanged(QDBusMessage)));
    askPortal();
}

DesktopColorScheme::Scheme DesktopColorScheme::scheme() const
{
    return m_portalScheme.value_or(m_paletteScheme);
}

bool DesktopColorScheme::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == qGuiApp && event->type() == QEvent::ApplicationPaletteChange)
        update([this] { m_paletteScheme = paletteScheme(); });
    return QObject::eventFilter(watched, event);
}

void DesktopColorScheme::portalSettingChanged(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    if (arguments.size() == 3 && arguments[0].toString() == kGroup && arguments[1].toString() == kKey)
        setPortalValue(arguments[2]);
}

void DesktopColorScheme::askPortal()
{
    // Asked without waiting: start-up does not stall on a portal that is slow to start.
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
    message << kGroup << kKey;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        if (!reply.isError())
            setPortalValue(reply.value().variant());
    });
}

void DesktopColorScheme::setPortalValue(const QVariant &value)
{
    bool ok = false;
    const uint preference = unwrapped(value).toUInt(&ok);
    update([&] {
        if (ok && preference == kPrefersDark)
            m_portalScheme = Scheme::dark;
        else if (ok && preference == kPrefersLight)
            m_portalScheme = Scheme::light;
        else
            m_portalScheme.reset();
    });
}

void DesktopColorScheme::update(const std::function<void()> &change)
{
    const Scheme before = scheme();
    change();
    if (scheme() != before)
        emit schemeChanged(scheme());
}
