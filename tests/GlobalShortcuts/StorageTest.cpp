#include "ModuleFixture.h"

#include <QSignalSpy>

using namespace GlobalShortcuts;

namespace {

const Shortcut kShiftCommandD(Key::d, Qt::ControlModifier | Qt::ShiftModifier);
const Shortcut kF5(Key::f5, Qt::NoModifier);

} // namespace

class StorageTest : public ModuleFixture
{
};

TEST_F(StorageTest, InitialShortcutIsWrittenOnlyWhenNothingIsStored)
{
    const Name fresh(QStringLiteral("storageFresh"), kShiftCommandD);
    EXPECT_EQ(storedShortcut(fresh), kShiftCommandD);
    ASSERT_TRUE(fileValue(QStringLiteral("GlobalShortcuts_storageFresh")).isString());
    EXPECT_EQ(Shortcut::fromJsonText(fileValue(QStringLiteral("GlobalShortcuts_storageFresh")).toString().toUtf8()),
              kShiftCommandD);

    m_settings->setValue(QStringLiteral("GlobalShortcuts_storageCleared"), false);
    const Name cleared(QStringLiteral("storageCleared"), kShiftCommandD);
    EXPECT_EQ(storedShortcut(cleared), std::nullopt);
    EXPECT_EQ(m_settings->value(QStringLiteral("GlobalShortcuts_storageCleared")), QVariant(false));
}

TEST_F(StorageTest, AnythingButShortcutTextReadsAsNotSet)
{
    const Name name(QStringLiteral("storageStates"));
    EXPECT_EQ(storedShortcut(name), std::nullopt);
    for (const QVariant &object : {QVariant(true), QVariant(5), QVariant(QStringLiteral("{oops")),
                                   QVariant(QStringLiteral("[]")), QVariant(QVariantMap{{"carbonKeyCode", 2}})}) {
        m_settings->setValue(name.storageKey(), object);
        EXPECT_EQ(storedShortcut(name), std::nullopt) << object.toString().toStdString();
    }
    m_settings->setValue(name.storageKey(), QString::fromUtf8(kF5.toJsonText()));
    EXPECT_EQ(storedShortcut(name), kF5);

    // Text that is not a shortcut still counts as a stored object: the initial shortcut is not applied over it.
    m_settings->setValue(QStringLiteral("GlobalShortcuts_storageGarbage"), QStringLiteral("not json"));
    const Name garbage(QStringLiteral("storageGarbage"), kShiftCommandD);
    EXPECT_EQ(storedShortcut(garbage), std::nullopt);
    EXPECT_EQ(m_settings->value(garbage.storageKey()), QVariant(QStringLiteral("not json")));
}

TEST_F(StorageTest, DisabledSurvivesARestartAndRemovingTheKeyBringsTheInitialBack)
{
    const Name name(QStringLiteral("storageRestart"), kShiftCommandD);
    storeShortcut(std::nullopt, name);
    EXPECT_EQ(storedShortcut(name), std::nullopt);
    EXPECT_TRUE(fileValue(name.storageKey()).isBool());
    EXPECT_FALSE(fileValue(name.storageKey()).toBool());

    restart();
    const Name again(QStringLiteral("storageRestart"), kShiftCommandD);
    EXPECT_EQ(storedShortcut(again), std::nullopt);
    EXPECT_TRUE(fileValue(name.storageKey()).isBool());

    m_settings->remove(name.storageKey());
    m_settings->sync();
    restart();
    const Name afterRemoval(QStringLiteral("storageRestart"), kShiftCommandD);
    EXPECT_EQ(storedShortcut(afterRemoval), kShiftCommandD);
}

TEST_F(StorageTest, ChangeNotificationRules)
{
    const Name withInitial(QStringLiteral("storageNotify"), kShiftCommandD);
    const Name withoutInitial(QStringLiteral("storageNotifyPlain"));
    QSignalSpy spy(&notifier(), &Notifier::shortcutByNameDidChange);

    // Clearing twice notifies once: the second finds false stored already.
    storeShortcut(std::nullopt, withInitial);
    storeShortcut(std::nullopt, withInitial);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).value<Name>().rawValue(), QStringLiteral("storageNotify"));

    // Storing notifies every time, also when the text does not change.
    storeShortcut(kF5, withInitial);
    storeShortcut(kF5, withInitial);
    EXPECT_EQ(spy.count(), 3);

    // A name without an initial shortcut is cleared by removing its key; with nothing stored, nothing happens.
    storeShortcut(std::nullopt, withoutInitial);
    EXPECT_EQ(spy.count(), 3);
    storeShortcut(kF5, withoutInitial);
    storeShortcut(std::nullopt, withoutInitial);
    EXPECT_EQ(spy.count(), 5);
    EXPECT_FALSE(m_settings->contains(withoutInitial.storageKey()));

    reset(withInitial);
    EXPECT_EQ(storedShortcut(withInitial), kShiftCommandD);
}

TEST_F(StorageTest, WithoutStorageNothingIsStoredUntilTheHostGivesIt)
{
    setStorage(nullptr);
    const Name name(QStringLiteral("storageLate"), kShiftCommandD);
    QSignalSpy spy(&notifier(), &Notifier::shortcutByNameDidChange);
    storeShortcut(kF5, name);
    EXPECT_EQ(storedShortcut(name), std::nullopt);
    EXPECT_EQ(spy.count(), 0);

    setStorage(m_settings.get());
    EXPECT_EQ(storedShortcut(name), kShiftCommandD);
}
