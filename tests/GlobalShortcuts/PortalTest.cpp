#include "ModuleFixture.h"
#include "tests/WaitFor.h"

#include "GlobalShortcuts/PortalHotKeyBackend.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QSignalSpy>

#include <csignal>
#include <sys/prctl.h>

using namespace GlobalShortcuts;
using PortalShortcuts = PortalHotKeyBackend::PortalShortcuts;

namespace {

const QString kPortalPath = QString::fromLatin1(PortalHotKeyBackend::kPath);
const QString kPortalInterface = QString::fromLatin1(PortalHotKeyBackend::kInterface);
const Shortcut kCtrlShiftD(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_D);
const Shortcut kCtrlAltF5(Qt::ControlModifier | Qt::AltModifier, Qt::Key_F5);

// A session bus with no services to start on demand, so that no real portal turns up.
constexpr char kBusConfig[] = R"(<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
</policy></busconfig>)";

// The desktop's side of the GlobalShortcuts portal: sessions, binding with a chosen answer, and the key going
// down and up. Calls with other arguments than the interface's are refused and noted.
class FakePortal : public QDBusVirtualObject
{
public:
    explicit FakePortal(QDBusConnection bus) : m_bus(std::move(bus)) {}

    uint bindResponse = 0;        // 0 binds, 1 is the user declining, 2 the desktop refusing
    QList<PortalShortcuts> binds; // the shortcuts of every BindShortcuts
    QStringList sessions;         // every session made, in order
    QStringList closedSessions;
    QStringList badCalls;

    void press(const QString &shortcutId, bool down, const QString &session = {})
    {
        QDBusMessage signal =
            QDBusMessage::createSignal(kPortalPath, kPortalInterface, down ? "Activated" : "Deactivated");
        signal << QVariant::fromValue(QDBusObjectPath(session.isEmpty() ? sessions.last() : session)) << shortcutId
               << quint64(0) << QVariantMap();
        m_bus.send(signal);
    }

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        const QString member = message.member();
        if (message.interface() == QLatin1String("org.freedesktop.portal.Session") && member == "Close") {
            closedSessions.append(message.path());
            return m_bus.send(message.createReply());
        }
        if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties") && member == "Get") {
            const bool ours = message.arguments().value(0).toString() == kPortalInterface;
            return m_bus.send(ours ? message.createReply(QVariant::fromValue(QDBusVariant(uint(1))))
                                   : message.createErrorReply(QDBusError::InvalidArgs, "no such interface"));
        }
        if (message.interface() != kPortalInterface || !m_signatures.contains(member))
            return false;
        if (message.signature() != m_signatures.value(member)) {
            badCalls.append(member + " " + message.signature());
            return m_bus.send(message.createErrorReply(QDBusError::InvalidSignature, "wrong arguments"));
        }
        const QVariantList arguments = message.arguments();
        const QVariantMap options = qdbus_cast<QVariantMap>(arguments.last());
        const QString sender = message.service().mid(1).replace('.', '_');
        const QString request = kPortalPath + "/request/" + sender + "/" + options.value("handle_token").toString();
        m_bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        if (member == "CreateSession") {
            sessions.append(kPortalPath + "/session/" + sender + "/" +
                            options.value("session_handle_token").toString());
            respond(request, 0, {{"session_handle", QVariant::fromValue(QDBusObjectPath(sessions.last()))}});
        } else if (member == "BindShortcuts") {
            binds.append(qdbus_cast<PortalShortcuts>(arguments.at(1)));
            PortalShortcuts bound;
            for (const PortalShortcut &wanted : binds.last())
                bound.append({wanted.id, {{"trigger_description", wanted.properties.value("preferred_trigger")}}});
            respond(request, bindResponse,
                    bindResponse == 0 ? QVariantMap{{"shortcuts", QVariant::fromValue(bound)}} : QVariantMap());
        }
        return true;
    }

private:
    void respond(const QString &request, uint response, const QVariantMap &results)
    {
        QDBusMessage signal = QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response");
        signal << response << results;
        m_bus.send(signal);
    }

    QDBusConnection m_bus;
    // The input of the methods played, as the interface describes them.
    const QHash<QString, QString> m_signatures{{"CreateSession", "a{sv}"}, {"BindShortcuts", "oa(sa{sv})sa{sv}"}};
};

} // namespace

// The module on a Wayland desktop: a bus of the test's own, a portal of the test's own on it, and the app's
// connection.
class PortalTest : public ModuleFixture
{
protected:
    void SetUp() override
    {
        ModuleFixture::SetUp();
        QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        ASSERT_GT(config.write(QString::fromLatin1(kBusConfig).arg(m_dir.path()).toUtf8()), 0);
        ASSERT_TRUE(config.flush());
        // The bus goes with the test, even when the test crashes.
        m_daemon.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_daemon.start(QStringLiteral("dbus-daemon"), {"--config-file=" + config.fileName(), QStringLiteral("--nofork"),
                                                       QStringLiteral("--print-address")});
        ASSERT_TRUE(m_daemon.waitForStarted()) << "scripts/install-deps installs dbus-daemon";
        while (!m_daemon.canReadLine())
            ASSERT_TRUE(m_daemon.waitForReadyRead()) << m_daemon.readAllStandardError().constData();
        const QString address = QString::fromLatin1(m_daemon.readLine().trimmed());

        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<PortalShortcuts>();
        m_portalBus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "portal"));
        ASSERT_TRUE(m_portalBus->isConnected());
        m_portal = std::make_unique<FakePortal>(*m_portalBus);
        ASSERT_TRUE(m_portalBus->registerVirtualObject(kPortalPath, m_portal.get(), QDBusConnection::SubPath));
        ASSERT_TRUE(m_portalBus->registerService(PortalHotKeyBackend::kService));
        m_appBus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "app"));
        ASSERT_TRUE(m_appBus->isConnected());
    }

    void TearDown() override
    {
        // The centre lets go of the portal before the bus goes.
        HotKeyCenter::shared().setBackend(std::make_unique<::FakeHotKeyBackend>());
        QDBusConnection::disconnectFromBus("portal");
        QDBusConnection::disconnectFromBus("app");
        m_daemon.kill();
        m_daemon.waitForFinished();
        ModuleFixture::TearDown();
    }

    void usePortal()
    {
        auto backend = std::make_unique<PortalHotKeyBackend>(*m_appBus);
        ASSERT_TRUE(backend->isAvailable());
        HotKeyCenter::shared().setBackend(std::move(backend));
    }

    const Name m_name{QStringLiteral("toggleWindow"), kCtrlShiftD};
    QProcess m_daemon;
    std::unique_ptr<QDBusConnection> m_portalBus;
    std::unique_ptr<QDBusConnection> m_appBus;
    std::unique_ptr<FakePortal> m_portal;
};

// The desktop binds the shortcut; its key goes down once however long it is held, and up. A menu opening gives
// the key up and takes it back within the session; another combination comes in a new session, the old one closed.
TEST_F(PortalTest, TheDesktopBindsTheShortcutAndItsKeyGoesDownAndUp)
{
    usePortal();
    int downs = 0;
    int ups = 0;
    onKeyDown(m_name, [&] { ++downs; });
    onKeyUp(m_name, [&] { ++ups; });
    ASSERT_EVENTUALLY(m_portal->binds.size() == 1);
    ASSERT_EQ(m_portal->binds[0].size(), 1);
    const QString id = m_portal->binds[0][0].id;
    EXPECT_EQ(m_portal->binds[0][0].properties.value("preferred_trigger"), QStringLiteral("CTRL+SHIFT+d"));
    EXPECT_TRUE(isRegistered(m_name));

    m_portal->press(id, true);
    m_portal->press(id, true);
    ASSERT_EVENTUALLY(downs == 1);
    m_portal->press(id, false);
    ASSERT_EVENTUALLY(ups == 1);
    EXPECT_EQ(downs, 1);

    HotKeyCenter::shared().setMenuOpen(true);
    HotKeyCenter::shared().setMenuOpen(false);
    storeShortcut(kCtrlAltF5, m_name);
    ASSERT_EVENTUALLY(m_portal->binds.size() == 2);
    EXPECT_EQ(m_portal->binds[1][0].properties.value("preferred_trigger"), QStringLiteral("CTRL+ALT+F5"));
    ASSERT_EQ(m_portal->sessions.size(), 2);
    ASSERT_EVENTUALLY(m_portal->closedSessions == QStringList{m_portal->sessions[0]});
    m_portal->press(id, true, m_portal->sessions[0]);
    m_portal->press(m_portal->binds[1][0].id, true);
    m_portal->press(m_portal->binds[1][0].id, false);
    ASSERT_EVENTUALLY(ups == 2);
    EXPECT_EQ(downs, 2);
    EXPECT_TRUE(m_portal->badCalls.isEmpty()) << qPrintable(m_portal->badCalls.join(", "));
}

// A bind the user declines is reported as the desktop's decision and its key does nothing; a later change asks
// again. Without the portal on the bus, no hot keys are available at all.
TEST_F(PortalTest, ARefusedBindIsReportedAndTheKeyDoesNothing)
{
    usePortal();
    m_portal->bindResponse = 1;
    QSignalSpy failures(&notifier(), &Notifier::registrationFailed);
    int downs = 0;
    onKeyDown(m_name, [&] { ++downs; });
    ASSERT_EVENTUALLY(failures.count() == 1);
    EXPECT_EQ(failures.at(0).at(0).value<Name>(), m_name);
    EXPECT_FALSE(isRegistered(m_name));
    EXPECT_EQ(refusal(m_name), Refusal::declinedByDesktop);
    ASSERT_EQ(m_portal->binds.size(), 1);

    m_portal->press(m_portal->binds[0][0].id, true);
    m_portal->bindResponse = 0;
    storeShortcut(kCtrlAltF5, m_name);
    ASSERT_EVENTUALLY(m_portal->binds.size() == 2);
    m_portal->press(m_portal->binds[1][0].id, true);
    ASSERT_EVENTUALLY(downs == 1);
    EXPECT_TRUE(isRegistered(m_name));
    EXPECT_EQ(refusal(m_name), Refusal::none);
    EXPECT_EQ(failures.count(), 1);

    removeAllActions();
    m_portalBus->unregisterService(PortalHotKeyBackend::kService);
    usePortal();
    failures.clear();
    onKeyUp(m_name, [] {});
    ASSERT_EVENTUALLY(failures.count() == 1);
    EXPECT_FALSE(HotKeyCenter::shared().backend().isAvailable());
    EXPECT_EQ(refusal(m_name), Refusal::noHotKeys);
}

// The trigger the desktop is offered names the key by its keysym, the one the X11 grabs look up too: the unshifted
// letter, the symbol itself, the keypad's own keys; a key without a keysym cannot be offered.
TEST(PortalTriggerTest, TheKeyIsNamedByItsKeysym)
{
    const std::pair<Shortcut, const char *> cases[] = {
        {kCtrlShiftD, "CTRL+SHIFT+d"},
        {kCtrlAltF5, "CTRL+ALT+F5"},
        {Shortcut(Qt::MetaModifier, Qt::Key_F35), "LOGO+F35"},
        {Shortcut(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Exclam), "CTRL+SHIFT+exclam"},
        {Shortcut(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_1), "CTRL+KP_1"},
        {Shortcut(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Slash), "CTRL+KP_Divide"},
        {Shortcut(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Enter), "CTRL+KP_Enter"},
        {Shortcut(Qt::AltModifier, Qt::Key_PageDown), "ALT+Next"},
        {Shortcut(Qt::AltModifier, Qt::Key_Space), "ALT+space"},
        {Shortcut(Qt::AltModifier, Qt::Key_section), "ALT+section"},
        {Shortcut(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Home), ""},
        {Shortcut(Qt::ControlModifier, Qt::Key_MediaPlay), ""},
    };
    for (const auto &[shortcut, trigger] : cases)
        EXPECT_EQ(PortalHotKeyBackend::preferredTrigger(shortcut), QString::fromLatin1(trigger)) << trigger;
}
