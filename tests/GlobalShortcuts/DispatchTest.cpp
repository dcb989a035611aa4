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

const Shortcut kF5(Qt::Key_F5);
const Shortcut kF6(Qt::Key_F6);
const Shortcut kF7(Qt::Key_F7);
const Shortcut kCtrlShiftD(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_D);

} // namespace

class DispatchTest : public ModuleFixture
{
protected:
    // A name storing the shortcut, with actions that write into the log.
    Name nameWithActions(const QString &raw, const Shortcut &shortcut)
    {
        const Name name(raw);
        storeShortcut(shortcut, name);
        onKeyDown(name, [this, raw] { m_log << raw + " down"; });
        onKeyUp(name, [this, raw] { m_log << raw + " up"; });
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
    onKeyUp(second, [&] { storeShortcut(kF5, second); });
    click(kF7);
    EXPECT_TRUE(m_backend->isRegistered(kF5));
    EXPECT_TRUE(m_backend->isRegistered(kF7)) << "still the first name's";
}

// While a recorder records the key stays but does nothing; a name without actions gives its key up; and both come
// back.
TEST_F(DispatchTest, SilencedNamesDoNotActAndComeBack)
{
    const Name name = nameWithActions("toggle", kCtrlShiftD);
    setRecorderActive(true);
    click(kCtrlShiftD);
    EXPECT_TRUE(m_log.isEmpty());
    EXPECT_TRUE(m_backend->isRegistered(kCtrlShiftD));
    setRecorderActive(false);
    click(kCtrlShiftD);
    EXPECT_EQ(m_log, (QStringList{"toggle down", "toggle up"}));

    // Removed: storing meanwhile registers nothing, and the new actions follow what is stored then.
    nameWithActions("other", kF5);
    removeActions(name);
    storeShortcut(kF6, name);
    EXPECT_FALSE(m_backend->isRegistered(kCtrlShiftD));
    EXPECT_FALSE(m_backend->isRegistered(kF6));
    EXPECT_TRUE(m_backend->isRegistered(kF5));
    m_log.clear();
    nameWithActions("toggle", kCtrlShiftD);
    click(kCtrlShiftD);
    EXPECT_EQ(m_log, (QStringList{"toggle down", "toggle up"}));
}

TEST_F(DispatchTest, WhileAMenuIsOpenTheApplicationsOwnKeysAreMatched)
{
    nameWithActions("f5", kF5);
    nameWithActions("toggle", kCtrlShiftD);
    QMenu menu;
    menu.addAction(QStringLiteral("Item"));
    menu.popup(QPoint(20, 20));
    ASSERT_EVENTUALLY(menu.isVisible());
    EXPECT_TRUE(HotKeyCenter::shared().isMenuOpen());
    EXPECT_EQ(m_backend->registeredCount(), 0);

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
    EXPECT_FALSE(HotKeyCenter::shared().isMenuOpen());
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
    EXPECT_FALSE(HotKeyCenter::shared().backend().isAvailable());
    EXPECT_FALSE(isRegistered(nowhere));
    EXPECT_GT(failures.count(), 3);
}
