#include "Vellora/Platform/DesktopColorScheme.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QPalette>

#include "tests/WaitFor.h"

#include <gtest/gtest.h>

// Runs on a session bus of its own (dbus-run-session), where this process plays the desktop portal.

namespace {

const QString kService = "org.freedesktop.portal.Desktop";
const QString kPath = "/org/freedesktop/portal/desktop";

// The portal has a connection of its own: a bus does not hand a connection's signals back to it.
QDBusConnection portalBus()
{
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake portal");
}

// The settings portal's Read, answering the colour scheme like the real one: a variant inside a variant.
class FakePortal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public slots:
    QDBusVariant Read(const QString &group, const QString &key)
    {
        if (group != "org.freedesktop.appearance" || key != "color-scheme")
            return QDBusVariant(QVariant::fromValue(QDBusVariant(QString())));
        return QDBusVariant(QVariant::fromValue(QDBusVariant(colorScheme)));
    }

public:
    uint colorScheme = 1;
    void announce(uint value)
    {
        colorScheme = value;
        QDBusMessage signal = QDBusMessage::createSignal(kPath, "org.freedesktop.portal.Settings", "SettingChanged");
        signal << QString("org.freedesktop.appearance") << QString("color-scheme")
               << QVariant::fromValue(QDBusVariant(value));
        portalBus().send(signal);
    }
};

QPalette paletteOf(const QColor &window, const QColor &text)
{
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    return palette;
}

TEST(DesktopColorSchemeTest, ThePortalsPreferenceIsReadAndWinsOverThePalette)
{
    QGuiApplication::setPalette(paletteOf(Qt::white, Qt::black));
    FakePortal portal;
    ASSERT_TRUE(portalBus().isConnected()) << "needs a session bus";
    ASSERT_TRUE(portalBus().registerObject(kPath, &portal, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(portalBus().registerService(kService));
    DesktopColorScheme scheme;
    ASSERT_TRUE(waitFor([&] { return scheme.isDark(); })); // read at the start, against a light palette

    portal.announce(0); // no preference: the palette decides
    ASSERT_TRUE(waitFor([&] { return scheme.scheme() == DesktopColorScheme::Scheme::light; }));
    QGuiApplication::setPalette(paletteOf(QColor("#202020"), QColor("#eeeeee")));
    ASSERT_TRUE(waitFor([&] { return scheme.isDark(); }));
    portal.announce(2); // the desktop now states light, which wins over the palette
    ASSERT_TRUE(waitFor([&] { return scheme.scheme() == DesktopColorScheme::Scheme::light; }));
}

} // namespace

#include "DesktopColorSchemeTest.moc"
