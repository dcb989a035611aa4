#include "ModuleFixture.h"
#include "tests/WaitFor.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

using namespace GlobalShortcuts;

namespace {

const Shortcut kF5(Key::f5, Qt::NoModifier);
const Shortcut kF6(Key::f6, Qt::NoModifier);
const Shortcut kF7(Key::f7, Qt::NoModifier);
const Shortcut kCtrlShiftD(Key::d, Qt::ControlModifier | Qt::ShiftModifier);

// Counts the presses of keys other than modifiers that reach an object past the application's filters.
class KeyCounter : public QObject
{
public:
    int presses = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key != Qt::Key_Control && key != Qt::Key_Shift)
            ++presses;
        return false;
    }
};

} // namespace

class DispatchTest : public ModuleFixture
{
protected:
    // A name storing the shortcut, with actions that write into the log.
    Name nameWithActions(const QString &raw, const Shortcut &shortcut)
    {
        const Name name(raw);
        storeShortcut(shortcut, name);
        addKeyDownAction(name, [this, raw] { m_log << raw + QStringLiteral(" down"); });
        addKeyUpAction(name, [this, raw] { m_log << raw + QStringLiteral(" up"); });
        return name;
    }

    void click(const Shortcut &shortcut)
    {
        m_backend->press(shortcut);
        m_backend->release(shortcut);
    }

    QStringList m_log;
};

TEST_F(DispatchTest, KeyDownActionsRunOnPressAndKeyUpActionsOnRelease)
{
    const Name name = nameWithActions(QStringLiteral("a"), kF5);
    EXPECT_TRUE(isRegistered(name));
    EXPECT_TRUE(m_backend->isRegistered(kF5));
    onKeyUp(kF5, [this] { m_log << QStringLiteral("direct up"); });

    EXPECT_TRUE(m_backend->press(kF5));
    EXPECT_EQ(m_log, QStringList{QStringLiteral("a down")});
    EXPECT_TRUE(m_backend->release(kF5));
    // The name's actions first, then the ones bound to the combination itself.
    EXPECT_EQ(m_log, (QStringList{QStringLiteral("a down"), QStringLiteral("a up"), QStringLiteral("direct up")}));
}

TEST_F(DispatchTest, TwoNamesShareOneHotKeyAndChangingOneKeepsItForTheOther)
{
    const Name first = nameWithActions(QStringLiteral("first"), kF6);
    const Name second = nameWithActions(QStringLiteral("second"), kF6);
    EXPECT_EQ(m_backend->registeredCount(), 1);

    click(kF6);
    EXPECT_EQ(m_log, (QStringList{QStringLiteral("first down"), QStringLiteral("second down"),
                                  QStringLiteral("first up"), QStringLiteral("second up")}));

    storeShortcut(kF7, first);
    EXPECT_TRUE(m_backend->isRegistered(kF6));
    EXPECT_TRUE(m_backend->isRegistered(kF7));
    m_log.clear();
    click(kF6);
    EXPECT_EQ(m_log, (QStringList{QStringLiteral("second down"), QStringLiteral("second up")}));

    storeShortcut(kF7, second);
    EXPECT_FALSE(m_backend->isRegistered(kF6));
    EXPECT_EQ(m_backend->registeredCount(), 1);
}

TEST_F(DispatchTest, SuspendedNamesAreNotRegisteredAndDoNotAct)
{
    const Name alone = nameWithActions(QStringLiteral("alone"), kF5);
    suspend(alone);
    EXPECT_FALSE(m_backend->isRegistered(kF5));
    EXPECT_FALSE(isRegistered(alone));
    // Storing while suspended does not register either.
    storeShortcut(kF5, alone);
    EXPECT_FALSE(m_backend->isRegistered(kF5));
    resume(alone);
    click(kF5);
    EXPECT_EQ(m_log, (QStringList{QStringLiteral("alone down"), QStringLiteral("alone up")}));

    // Sharing a hot key: the suspended name stays silent, the other one acts.
    const Name other = nameWithActions(QStringLiteral("other"), kF5);
    suspend(alone);
    EXPECT_TRUE(m_backend->isRegistered(kF5));
    m_log.clear();
    click(kF5);
    EXPECT_EQ(m_log, (QStringList{QStringLiteral("other down"), QStringLiteral("other up")}));
}

TEST_F(DispatchTest, NothingRunsWhileTheRecorderIsActive)
{
    nameWithActions(QStringLiteral("toggleWindow"), kCtrlShiftD);
    QSignalSpy spy(&notifier(), &Notifier::recorderActiveStatusDidChange);
    setRecorderActive(true);
    click(kCtrlShiftD);
    EXPECT_TRUE(m_log.isEmpty());
    // The centre stays enabled: the recorder only pauses the actions.
    EXPECT_EQ(HotKeyCenter::shared().mode(), HotKeyCenter::Mode::normal);
    setRecorderActive(false);
    click(kCtrlShiftD);
    EXPECT_EQ(m_log.size(), 2);
    EXPECT_EQ(spy.count(), 2);
}

TEST_F(DispatchTest, DisabledModeGivesUpTheHotKeysAndTakesThemBack)
{
    nameWithActions(QStringLiteral("a"), kF5);
    setEnabled(false);
    EXPECT_EQ(HotKeyCenter::shared().mode(), HotKeyCenter::Mode::disabled);
    EXPECT_EQ(m_backend->registeredCount(), 0);
    EXPECT_FALSE(m_backend->press(kF5));
    setEnabled(true);
    EXPECT_TRUE(m_backend->isRegistered(kF5));
    click(kF5);
    EXPECT_EQ(m_log.size(), 2);
}

TEST_F(DispatchTest, WhileAMenuIsOpenTheApplicationsOwnKeysAreMatched)
{
    nameWithActions(QStringLiteral("f5"), kF5);
    nameWithActions(QStringLiteral("toggle"), kCtrlShiftD);
    QMenu menu;
    menu.addAction(QStringLiteral("Item"));
    KeyCounter counter;
    menu.installEventFilter(&counter);
    menu.popup(QPoint(20, 20));
    ASSERT_EVENTUALLY(menu.isVisible());
    EXPECT_EQ(HotKeyCenter::shared().mode(), HotKeyCenter::Mode::menuOpen);
    EXPECT_EQ(m_backend->registeredCount(), 0);

    // F5 was stored without the Function modifier and still matches.
    QTest::keyClick(&menu, Qt::Key_F5);
    EXPECT_EQ(m_log, (QStringList{QStringLiteral("f5 down"), QStringLiteral("f5 up")}));
    EXPECT_EQ(counter.presses, 0);

    // Auto-repeats pass on to the menu and act on nothing.
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier, QString(), true);
    QApplication::sendEvent(&menu, &repeat);
    EXPECT_EQ(m_log.size(), 2);
    EXPECT_EQ(counter.presses, 1);

    QTest::keyClick(&menu, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(m_log.size(), 4);
    // The letter let go after the modifiers still ends the press it began.
    QTest::keyPress(&menu, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyRelease(&menu, Qt::Key_D, Qt::NoModifier);
    EXPECT_EQ(m_log.size(), 6);
    EXPECT_EQ(m_log.last(), QStringLiteral("toggle up"));
    QTest::keyClick(&menu, Qt::Key_Down);
    EXPECT_EQ(counter.presses, 2);

    menu.hide();
    EXPECT_EQ(HotKeyCenter::shared().mode(), HotKeyCenter::Mode::normal);
    EXPECT_EQ(m_backend->registeredCount(), 2);
}

TEST_F(DispatchTest, FailedRegistrationIsReportedAndAFailedReRegistrationDropsTheHotKey)
{
    QSignalSpy failures(&notifier(), &Notifier::registrationFailed);
    m_backend->takeByAnotherApplication(kF7);
    const Name refused = nameWithActions(QStringLiteral("refused"), kF7);
    EXPECT_FALSE(isRegistered(refused));
    // Each attempt (one per added action) reports.
    ASSERT_EQ(failures.count(), 2);
    EXPECT_EQ(failures.at(0).at(0).value<Name>(), refused);
    m_backend->releaseByAnotherApplication(kF7);

    const Name name = nameWithActions(QStringLiteral("later"), kF5);
    EXPECT_TRUE(isRegistered(name));
    QMenu menu;
    menu.popup(QPoint(20, 20));
    ASSERT_EVENTUALLY(menu.isVisible());
    // Another application takes the keys while ours are given up for the menu.
    m_backend->takeByAnotherApplication(kF5);
    menu.hide();
    EXPECT_FALSE(isRegistered(name));
    EXPECT_EQ(failures.count(), 3);
    EXPECT_TRUE(HotKeyCenter::shared().hotKeys().isEmpty());

    m_backend->releaseByAnotherApplication(kF5);
    storeShortcut(kF5, name);
    EXPECT_TRUE(isRegistered(name));
    click(kF5);
    EXPECT_EQ(m_log.size(), 2);
}

TEST_F(DispatchTest, AnActionMayMoveItsOwnNameToAnotherShortcut)
{
    const Name name(QStringLiteral("mover"));
    storeShortcut(kF5, name);
    int runs = 0;
    addKeyUpAction(name, [&] {
        ++runs;
        storeShortcut(kF6, name);
    });
    m_backend->press(kF5);
    m_backend->release(kF5);
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(m_backend->isRegistered(kF5));
    EXPECT_TRUE(m_backend->isRegistered(kF6));
}

TEST_F(DispatchTest, RemovedActionsGiveUpTheirHotKey)
{
    const Name name = nameWithActions(QStringLiteral("removed"), kF5);
    removeActions(name);
    EXPECT_FALSE(m_backend->isRegistered(kF5));
    EXPECT_FALSE(isRegistered(name));
}

TEST_F(DispatchTest, UnavailableDesktopReportsFailure)
{
    m_backend->setAvailable(false);
    QSignalSpy failures(&notifier(), &Notifier::registrationFailed);
    const Name name = nameWithActions(QStringLiteral("nowhere"), kCtrlShiftD);
    EXPECT_FALSE(hotKeysAvailable());
    EXPECT_FALSE(isRegistered(name));
    EXPECT_FALSE(failures.isEmpty());
}
