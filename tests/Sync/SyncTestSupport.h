#pragma once

#include "Vellora/DayData/DayStore.h"
#include "Vellora/DayData/StoreFile.h"
#include "Vellora/Sync/AppStore.h"
#include "Vellora/Sync/ItemRecord.h"

#include "tests/SyncKit/MemoryCloud.h"
#include "tests/Cloud/AwaitCloud.h"
#include "tests/Cloud/CloudServerProcess.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>

// Readable failures: items as text rather than bytes.
inline void PrintTo(const DayItem &item, std::ostream *out)
{
    *out << "{" << item.id.toStdString() << " \"" << item.title.toStdString() << "\" done=" << item.done
         << " bucket=" << storedForm(item.block).toStdString() << " day=" << item.day.toStdString()
         << " at=" << item.modifiedAt.toString(Qt::ISODateWithMs).toStdString()
         << (item.systemFields ? " +fields" : "");
    const auto time = [](const std::optional<QDateTime> &time) {
        return time ? time->toString(Qt::ISODateWithMs).toStdString() : std::string("-");
    };
    if (item.changedAt || item.titleChangedAt || item.doneChangedAt || item.placeChangedAt) {
        *out << " changed=" << time(item.changedAt) << " title@" << time(item.titleChangedAt) << " done@"
             << time(item.doneChangedAt) << " place@" << time(item.placeChangedAt);
    }
    *out << "}";
}

// The time every device of a test reads; it moves only when the test moves it.
struct TestClock
{
    QDateTime now = QDateTime(QDate(2025, 3, 5), QTime(8, 0), Qt::UTC);

    void advance(qint64 seconds) { now = now.addSecs(seconds); }
    DayStore::Clock clock()
    {
        return [this] { return now; };
    }
};

// One device: a store with its own file and its own engine on a shared cloud, driven by the test.
class Device
{
public:
    // `timeZone`: where the computer is, which decides its date.
    Device(const QString &path, SyncSetup setup, TestClock &clock, const QString &timeZone = QStringLiteral("UTC"))
        : m_path(path)
        , m_setup(std::move(setup))
        , m_clock(clock)
        , m_timeZone(timeZone)
    {
        restart();
    }

    // Quits, when running, and launches again from the store file.
    void restart()
    {
        m_store.reset();
        DayStore::Options options;
        options.filePath = m_path;
        options.calendar = Calendar::inTimeZone(m_timeZone.toUtf8());
        options.clock = m_clock.clock();
        m_store = std::make_unique<AppStore>(std::move(options), m_setup);
        QObject::connect(m_store.get(), &DayStore::overflowSettled, [this](const QList<DayItem> &moved) {
            if (onOverflow)
                onOverflow(moved);
        });
    }

    // Told when sync sends items that did not fit their blocks to the Backlog.
    std::function<void(const QList<DayItem> &)> onOverflow;

    AppStore &store() { return *m_store; }
    AppStore *operator->() { return m_store.get(); }
    SyncKit::SyncEngine &engine() { return *m_store->engine(); }
    SyncDriver &driver() { return *m_store->driver(); }
    const QString &path() const { return m_path; }
    // What the store file holds now.
    DayStore::Saved file() const { return StoreFile::load(m_path).saved.value_or(DayStore::Saved{}); }
    // The engine's state as the store file holds it.
    std::optional<SyncKit::SyncEngineState::Serialization> fileState() const
    {
        const auto state = file().state;
        return state ? readSyncState(*state) : std::nullopt;
    }

private:
    QString m_path;
    SyncSetup m_setup;
    TestClock &m_clock;
    QString m_timeZone;
    std::unique_ptr<AppStore> m_store;
};

// A setup for devices that the test drives by hand on one account of a cloud.
inline SyncSetup manualSetup(SyncKit::CloudDatabase &cloud, const SyncKit::CloudAccount &account)
{
    SyncSetup setup;
    setup.database = &cloud;
    setup.accountFile.reset();
    setup.account = account;
    setup.automaticallySync = false;
    return setup;
}

inline SyncKit::RecordID idOf(const QString &name)
{
    return SyncKit::RecordID{name, syncZoneID()};
}

// Devices on anna's account of a cloud in the process, in files of a temporary folder, on the test's clock.
class MemoryCloudTest : public testing::Test
{
protected:
    void SetUp() override { cloud.setClock(clock.clock()); }

    std::unique_ptr<Device> device(const QString &name, const SyncKit::CloudAccount &as)
    {
        return std::make_unique<Device>(dir.filePath(name + ".json"), manualSetup(cloud, as), clock);
    }

    QTemporaryDir dir{memoryFolderTemplate(QStringLiteral("vellora-sync-test"))};
    TestClock clock;
    SyncKit::MemoryCloud cloud;
    SyncKit::CloudAccount account = cloud.addAccount("anna");
};
