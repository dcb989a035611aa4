#include "ModuleFixture.h"

#include <QSignalSpy>

using namespace GlobalShortcuts;

namespace {

const Shortcut kShiftCommandD(Key::d, Qt::ControlModifier | Qt::ShiftModifier);
const Shortcut kF5(Key::f5, Qt::NoModifier);

} // namespace

using StorageTest = ModuleFixture;

// The initial shortcut is written only when nothing is stored: a cleared one (false) stays cleared across a
// restart, and anything but shortcut text is kept and reads as not set.
TEST_F(StorageTest, TheInitialShortcutNeverReplacesWhatIsStored)
{
    const Name fresh(QStringLiteral("storageFresh"), kShiftCommandD);
    EXPECT_EQ(storedShortcut(fresh), kShiftCommandD);
    EXPECT_EQ(Shortcut::fromJsonText(fileValue(fresh.storageKey()).toString().toUtf8()), kShiftCommandD);
    const Name kept(QStringLiteral("storageKept"), kShiftCommandD);
    for (const QVariant &stored : {QVariant(false), QVariant(QStringLiteral("not json")), QVariant(5)}) {
        m_settings->setValue(kept.storageKey(), stored);
        EXPECT_EQ(storedShortcut(kept), std::nullopt) << stored.toString().toStdString();
        EXPECT_EQ(m_settings->value(kept.storageKey()), stored);
    }

    const Name name(QStringLiteral("storageRestart"), kShiftCommandD);
    storeShortcut(std::nullopt, name);
    EXPECT_TRUE(fileValue(name.storageKey()).isBool());
    restart();
    EXPECT_EQ(storedShortcut(Name(QStringLiteral("storageRestart"), kShiftCommandD)), std::nullopt);
    m_settings->remove(name.storageKey());
    m_settings->sync();
    restart();
    EXPECT_EQ(storedShortcut(Name(QStringLiteral("storageRestart"), kShiftCommandD)), kShiftCommandD);
}

// Clearing notifies only when something changes, storing every time; without storage nothing is stored or
// notified until the host gives it.
TEST_F(StorageTest, ChangeNotificationRules)
{
    const Name withInitial(QStringLiteral("storageNotify"), kShiftCommandD);
    const Name withoutInitial(QStringLiteral("storageNotifyPlain"));
    QSignalSpy spy(&notifier(), &Notifier::shortcutByNameDidChange);
    for (const auto &name : {withInitial, withoutInitial}) {
        storeShortcut(kF5, name);
        storeShortcut(kF5, name);
        storeShortcut(std::nullopt, name);
        storeShortcut(std::nullopt, name);
    }
    EXPECT_EQ(spy.count(), 6);
    EXPECT_EQ(spy.at(0).at(0).value<Name>().rawValue(), QStringLiteral("storageNotify"));
    EXPECT_FALSE(m_settings->contains(withoutInitial.storageKey()));

    setStorage(nullptr);
    const Name late(QStringLiteral("storageLate"), kShiftCommandD);
    storeShortcut(kF5, late);
    EXPECT_EQ(storedShortcut(late), std::nullopt);
    EXPECT_EQ(spy.count(), 6);
    setStorage(m_settings.get());
    EXPECT_EQ(storedShortcut(late), kShiftCommandD);
}
