#include "ModuleFixture.h"
#include "tests/WaitFor.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <functional>

using namespace GlobalShortcuts;

namespace {

const Shortcut kF5(Key::f5, Qt::NoModifier);
const Shortcut kF6(Key::f6, Qt::NoModifier);
const Shortcut kF7(Key::f7, Qt::NoModifier);
const Shortcut kCtrlShiftD(Key::d, Qt::ControlModifier | Qt::ShiftModifier);

} // namespace

class DispatchTest : public ModuleFixture
{
protected:
    // A name storing the shortcut, with actions that write into the log.
    Name nameWithActions(const QString &raw, const Shortcut &shortcut)
    {
        const Name name(raw);
        storeShortcut(shortcut, name);
        addKeyDownAction(name, [this, raw] { m_log << raw + " down"; });
        addKeyUpAction(name, [this, raw] { m_log << raw + " up"; });
        return name;
    }

    void click(const Shortcut &shortcut)
    {
        m_backend->press(shortcut);
        m_backend->release(shortcut);
    }

    QStringList m_log;
};

// Down actions run on press, up actions on release; two names share one hot key, and moving one keeps it for the
// other.
TEST_F(DispatchTest, ActionsRunInOrderAndNamesShareAHotKey)
{
    const Name first = nameWithActions("first", kF6);
    const Name second = nameWithActions("second", kF6);
    EXPECT_EQ(m_backend->registeredCount(), 1);
    EXPECT_TRUE(m_backend->press(kF6));
    EXPECT_EQ(m_log, (QStringList{"first down", "second down"}));
    EXPECT_TRUE(m_backend->release(kF6));
    EXPECT_EQ(m_log, (QStringList{"first down", "second down", "first up", "second up"}));
    storeShortcut(kF7, first);
    EXPECT_TRUE(m_backend->isRegistered(kF6));
    EXPECT_TRUE(m_backend->isRegistered(kF7));
    m_log.clear();
    click(kF6);
    EXPECT_EQ(m_log, (QStringList{"second down", "second up"}));
    storeShortcut(kF7, second);
    EXPECT_FALSE(m_backend->isRegistered(kF6));
    EXPECT_EQ(m_backend->registeredCount(), 1);

    // An action may move its own name to another shortcut while the key is being handled.
    addKeyUpAction(second, [&] { storeShortcut(kF5, second); });
    click(kF7);
    EXPECT_TRUE(m_backend->isRegistered(kF5));
    EXPECT_TRUE(m_backend->isRegistered(kF7)) << "still the first name's";
}

// Each way of silencing a name gives up or ignores its key, and undoing it brings the key back.
TEST_F(DispatchTest, SilencedNamesDoNotActAndComeBack)
{
    struct Case
    {
        const char *name;
        bool keepsHotKey;
        std::function<void(const Name &)> silence, restore;
    };
    const Case cases[] = {
        {"suspended", false, [](const Name &n) { suspend(n); }, [](const Name &n) { resume(n); }},
        {"recording", true, [](const Name &) { setRecorderActive(true); },
         [](const Name &) { setRecorderActive(false); }},
        {"disabled", false, [](const Name &) { setEnabled(false); }, [](const Name &) { setEnabled(true); }},
        {"removed", false, [](const Name &n) { removeActions(n); },
         [this](const Name &) { nameWithActions("toggle", kCtrlShiftD); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        removeAllActions();
        m_log.clear();
        const Name name = nameWithActions("toggle", kCtrlShiftD);
        c.silence(name);
        storeShortcut(kCtrlShiftD, name); // storing meanwhile registers nothing
        EXPECT_EQ(m_backend->isRegistered(kCtrlShiftD), c.keepsHotKey);
        click(kCtrlShiftD);
        EXPECT_TRUE(m_log.isEmpty());
        c.restore(name);
        EXPECT_TRUE(isRegistered(name));
        click(kCtrlShiftD);
        EXPECT_EQ(m_log, (QStringList{"toggle down", "toggle up"}));
    }
    // A suspended name sharing its hot key stays silent while the other acts.
    const Name alone = Name("toggle");
    nameWithActions("other", kCtrlShiftD);
    suspend(alone);
    m_log.clear();
    click(kCtrlShiftD);
    EXPECT_EQ(m_log, (QStringList{"other down", "other up"}));
}

TEST_F(DispatchTest, WhileAMenuIsOpenTheApplicationsOwnKeysAreMatched)
{
    nameWithActions("f5", kF5);
    nameWithActions("toggle", kCtrlShiftD);
    QMenu menu;
    menu.addAction(QStringLiteral("Item"));
    menu.popup(QPoint(20, 20));
    ASSERT_EVENTUALLY(menu.isVisible());
    EXPECT_EQ(HotKeyCenter::shared().mode(), HotKeyCenter::Mode::menuOpen);
    EXPECT_EQ(m_backend->registeredCount(), 0);

    // F5 was stored without the Function modifier and still matches.
    QTest::keyClick(&menu, Qt::Key_F5);
    EXPECT_EQ(m_log, (QStringList{"f5 down", "f5 up"}));

    // Auto-repeats act on nothing.
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier, QString(), true);
    QApplication::sendEvent(&menu, &repeat);
    EXPECT_EQ(m_log.size(), 2);

    // The letter let go after the modifiers still ends the press it began.
    QTest::keyPress(&menu, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyRelease(&menu, Qt::Key_D, Qt::NoModifier);
    EXPECT_EQ(m_log.size(), 4);
    EXPECT_EQ(m_log.last(), "toggle up");

    menu.hide();
    EXPECT_EQ(HotKeyCenter::shared().mode(), HotKeyCenter::Mode::normal);
    EXPECT_EQ(m_backend->registeredCount(), 2);
}

TEST_F(DispatchTest, FailedRegistrationIsReportedAndAFailedReRegistrationDropsTheHotKey)
{
    QSignalSpy failures(&notifier(), &Notifier::registrationFailed);
    m_backend->takeByAnotherApplication(kF7);
    const Name refused = nameWithActions("refused", kF7);
    EXPECT_FALSE(isRegistered(refused));
    // Each attempt (one per added action) reports.
    ASSERT_EQ(failures.count(), 2);
    EXPECT_EQ(failures.at(0).at(0).value<Name>(), refused);

    const Name name = nameWithActions("later", kF5);
    EXPECT_TRUE(isRegistered(name));
    QMenu menu;
    menu.popup(QPoint(20, 20));
    ASSERT_EVENTUALLY(menu.isVisible());
    // Another application takes the keys while ours are given up for the menu.
    m_backend->takeByAnotherApplication(kF5);
    menu.hide();
    EXPECT_FALSE(isRegistered(name));
    EXPECT_EQ(failures.count(), 3);

    m_backend->releaseByAnotherApplication(kF5);
    storeShortcut(kF5, name);
    EXPECT_TRUE(isRegistered(name));

    m_backend->setAvailable(false);
    const Name nowhere = nameWithActions("nowhere", kCtrlShiftD);
    EXPECT_FALSE(hotKeysAvailable());
    EXPECT_FALSE(isRegistered(nowhere));
    EXPECT_GT(failures.count(), 3);
}
