#include "ModuleFixture.h"

#include <QSignalSpy>

using namespace GlobalShortcuts;

namespace {

const Shortcut kCtrlShiftD(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_D);
const Shortcut kF5(Qt::Key_F5);

} // namespace

using StorageTest = ModuleFixture;

// The initial shortcut is written, as text a person can read, only when nothing is stored: a cleared one (false)
// stays cleared across a restart, and anything but shortcut text is kept and reads as not set.
TEST_F(StorageTest, TheInitialShortcutNeverReplacesWhatIsStored)
{
    const Name fresh(QStringLiteral("storageFresh"), kCtrlShiftD);
    EXPECT_EQ(storedShortcut(fresh), kCtrlShiftD);
    EXPECT_EQ(fileValue(fresh.storageKey()), QJsonValue(QStringLiteral("Ctrl+Shift+D")));
    const Name kept(QStringLiteral("storageKept"), kCtrlShiftD);
    for (const QVariant &stored : {QVariant(false), QVariant(QStringLiteral("not a shortcut")), QVariant(5)}) {
        m_settings->setValue(kept.storageKey(), stored);
        EXPECT_EQ(storedShortcut(kept), std::nullopt) << stored.toString().toStdString();
        EXPECT_EQ(m_settings->value(kept.storageKey()), stored);
    }

    const Name name(QStringLiteral("storageRestart"), kCtrlShiftD);
    storeShortcut(std::nullopt, name);
    EXPECT_TRUE(fileValue(name.storageKey()).isBool());
    restart();
    EXPECT_EQ(storedShortcut(Name(QStringLiteral("storageRestart"), kCtrlShiftD)), std::nullopt);
    m_settings->remove(name.storageKey());
    m_settings->sync();
    restart();
    EXPECT_EQ(storedShortcut(Name(QStringLiteral("storageRestart"), kCtrlShiftD)), kCtrlShiftD);
}

// A settings file written by an earlier version holds the key code and modifier bits as JSON text: the next run
// reads the same keys and rewrites them once as text; a value it cannot read stays as it was.
TEST_F(StorageTest, TheEarlierFormIsRewrittenAsText)
{
    m_settings->setValue(QStringLiteral("GlobalShortcuts_storageOld"),
                         QStringLiteral(R"({"carbonKeyCode":96,"carbonModifiers":2304})"));
    m_settings->setValue(QStringLiteral("GlobalShortcuts_storageOdd"),
                         QStringLiteral(R"({"carbonKeyCode":63,"carbonModifiers":256})"));
    m_settings->sync();
    restart();
    const Name old(QStringLiteral("storageOld"), kCtrlShiftD);
    const Name odd(QStringLiteral("storageOdd"), kCtrlShiftD);
    const Shortcut ctrlAltF5(Qt::ControlModifier | Qt::AltModifier, Qt::Key_F5);
    EXPECT_EQ(storedShortcut(old), ctrlAltF5);
    EXPECT_EQ(fileValue(old.storageKey()), QJsonValue(QStringLiteral("Ctrl+Alt+F5")));
    EXPECT_EQ(storedShortcut(odd), std::nullopt);
    EXPECT_EQ(fileValue(odd.storageKey()), QJsonValue(QStringLiteral(R"({"carbonKeyCode":63,"carbonModifiers":256})")));

    // Also when the storage comes after the name.
    setStorage(nullptr);
    m_settings->setValue(old.storageKey(), QStringLiteral(R"({"carbonKeyCode":2,"carbonModifiers":768})"));
    setStorage(m_settings.get());
    EXPECT_EQ(fileValue(old.storageKey()), QJsonValue(QStringLiteral("Ctrl+Shift+D")));
}

// Clearing notifies only when something changes, storing every time; a shortcut that would not read back (a plain
// key) is not stored; without storage nothing is stored or notified until the host gives it, and then every name
// notifies.
TEST_F(StorageTest, ChangeNotificationRules)
{
    const Name withInitial(QStringLiteral("storageNotify"), kCtrlShiftD);
    const Name withoutInitial(QStringLiteral("storageNotifyPlain"));
    QSignalSpy spy(&notifier(), &Notifier::shortcutByNameDidChange);
    for (const auto &name : {withInitial, withoutInitial}) {
        storeShortcut(kF5, name);
        storeShortcut(kF5, name);
        storeShortcut(Shortcut(Qt::ShiftModifier, Qt::Key_A), name);
        storeShortcut(std::nullopt, name);
        storeShortcut(std::nullopt, name);
    }
    EXPECT_EQ(spy.count(), 6);
    EXPECT_EQ(spy.at(0).at(0).value<Name>().storedForm(), QStringLiteral("storageNotify"));
    EXPECT_FALSE(m_settings->contains(withoutInitial.storageKey()));

    setStorage(nullptr);
    spy.clear();
    const Name late(QStringLiteral("storageLate"), kCtrlShiftD);
    storeShortcut(kF5, late);
    EXPECT_EQ(storedShortcut(late), std::nullopt);
    EXPECT_EQ(spy.count(), 0);
    // With storage, every name reads anew and says so.
    setStorage(m_settings.get());
    EXPECT_EQ(storedShortcut(late), kCtrlShiftD);
    EXPECT_TRUE(
        std::any_of(spy.cbegin(), spy.cend(), [&](const QList<QVariant> &s) { return s[0].value<Name>() == late; }));
}
