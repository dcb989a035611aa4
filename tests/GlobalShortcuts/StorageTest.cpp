#include "ModuleFixture.h"

#include <QSignalSpy>

using namespace GlobalShortcuts;

namespace {

const Shortcut kShiftCommandD(Key::d, Qt::ControlModifier | Qt::ShiftModifier);
const Shortcut kF5(Key::f5, Qt::NoModifier);

} // namespace

using StorageTest = ModuleFixture;

// The initial shortcut is written only when nothing is stored: a cleared one (false) stays cleared across a
// restart, and text that is not a shortcut is kept and reads as not set.
TEST_F(StorageTest, TheInitialShortcutNeverReplacesWhatIsStored)
{
    struct Case
    {
        const char *name;
        QVariant stored; // invalid: nothing stored
        std::optional<Shortcut> read;
    };
    const Case cases[] = {
        {"nothing", QVariant(), kShiftCommandD},
        {"cleared", QVariant(false), std::nullopt},
        {"garbage", QVariant(QStringLiteral("not json")), std::nullopt},
        {"a map", QVariant(QVariantMap{{"carbonKeyCode", 2}}), std::nullopt},
        {"a shortcut", QVariant(QString::fromUtf8(kF5.toJsonText())), kF5},
    };
    for (const Case &c : cases) {
        const Name name(QStringLiteral("storage_") + c.name, kShiftCommandD);
        if (c.stored.isValid())
            m_settings->setValue(name.storageKey(), c.stored);
        m_settings->sync();
        restart();
        EXPECT_EQ(storedShortcut(Name(name.rawValue(), kShiftCommandD)), c.read) << c.name;
        if (c.stored.isValid()) {
            EXPECT_EQ(m_settings->value(name.storageKey()), c.stored) << c.name;
        } else {
            EXPECT_EQ(Shortcut::fromJsonText(fileValue(name.storageKey()).toString().toUtf8()), kShiftCommandD);
        }
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
