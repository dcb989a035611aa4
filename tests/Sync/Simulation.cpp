#include "Simulation.h"

#include "Vellora/Sync/ItemRecord.h"
#include "tests/WaitFor.h"

#include <gtest/gtest.h>

using namespace SyncKit;

Simulation::Simulation(Settings settings) : m_settings(settings), m_random(settings.seed) {}

Simulation::~Simulation() = default;

void Simulation::addDevices(const std::function<SyncSetup(int device)> &setup)
{
    int number = 0;
    for (const char *name : {"desk", "laptop", "tablet"}) {
        m_devices.push_back(
            std::make_unique<Device>(m_dir.filePath(QString::fromLatin1(name) + ".json"), setup(number++), m_clock));
        // Two devices may each fill a block's last row: the extra items go to the Backlog, a version of sync's making.
        m_devices.back()->onOverflow = [this](const QList<DayItem> &moved) {
            for (const DayItem &item : moved) {
                History &history = m_history[item.id];
                history.written.append(contentOf(item));
                history.movedBySwapSince = true;
            }
        };
    }
}

void Simulation::run()
{
    setStormy(true);
    for (int round = 0; round < m_settings.rounds; ++round) {
        Device &device = *m_devices[pick(m_devices.size())];
        m_clock.advance(1 + qint64(pick(3)));
        const int roll = int(pick(100));
        // A lost call fails the engine's work, which the next sync takes up again. A launch on a later day starts
        // a new day by itself: that is the user's doing too.
        if (roll < 55) {
            edit(device);
        } else if (roll < 88) {
            syncNow(device.engine(), roll < 75);
        } else if (roll < 95) {
            recorded(device, [&] { device.restart(); });
        } else {
            m_clock.advance(24 * 3600);
            recorded(device, [&] { device->startNewDay(m_clock.now); });
        }
    }
    settle();
    check();
}

void Simulation::check()
{
    const std::map<QString, Record> server = serverRecords();
    std::map<QString, DayItem> cloudItems;
    for (const auto &[name, record] : server)
        cloudItems.emplace(name, contentOf(dayItemFromRecord(record)));
    for (size_t i = 0; i < m_devices.size(); ++i) {
        Device &device = *m_devices[i];
        SCOPED_TRACE("device " + std::to_string(i));
        EXPECT_TRUE(device.engine().state().pendingRecordZoneChanges().isEmpty());
        EXPECT_TRUE(device.engine().state().pendingDatabaseChanges().isEmpty());
        std::map<QString, DayItem> local;
        for (const auto &[id, item] : device->saved().items) {
            local.emplace(id, contentOf(item));
            // The server's latest bookkeeping, so the next edit is no conflict.
            const auto found = server.find(id);
            ASSERT_NE(found, server.end()) << id.toStdString();
            EXPECT_EQ(item.systemFields, archiveSystemFields(found->second)) << id.toStdString();
        }
        EXPECT_EQ(local, cloudItems);
        EXPECT_EQ(device.file().items, device->saved().items);
    }

    int survivorsChecked = 0;
    for (const auto &[id, history] : m_history) {
        const auto found = cloudItems.find(id);
        if (found != cloudItems.end()) {
            EXPECT_TRUE(history.written.contains(found->second)) << "a version nobody wrote: " << id.toStdString();
        }
        if (history.deleted)
            continue; // edits and deletes that crossed each other are settled by order of arrival
        ASSERT_NE(found, cloudItems.end()) << "an item nobody deleted is gone: " << id.toStdString();
        if (history.lastFresh && !history.movedBySwapSince) {
            EXPECT_EQ(found->second, *history.lastFresh) << "the latest edit was lost: " << id.toStdString();
            ++survivorsChecked;
        }
    }
    for (const auto &[id, content] : cloudItems)
        EXPECT_TRUE(m_history.count(id)) << "an item nobody made: " << id.toStdString();
    EXPECT_GT(survivorsChecked, 0); // the check above is not empty
}

std::optional<QString> Simulation::anyItem(Device &device, const std::function<bool(const DayItem &)> &keep)
{
    // In an order of the run's own making, not of the random ids, so that a seed always plays the same.
    QList<DayItem> items;
    for (const auto &[id, item] : device->saved().items) {
        if (keep(item))
            items.append(item);
    }
    if (items.isEmpty())
        return std::nullopt;
    std::sort(items.begin(), items.end(), [](const DayItem &a, const DayItem &b) {
        return std::tie(a.title, a.modifiedAt) < std::tie(b.title, b.modifiedAt);
    });
    return items[qsizetype(pick(size_t(items.size())))].id;
}

// Runs a user's action and writes down what it did to each item.
void Simulation::recorded(Device &device, const std::function<void()> &action)
{
    const auto before = device->saved().items;
    action();
    noteChanges(before, device->saved().items);
}

void Simulation::noteChanges(const std::map<QString, DayItem> &before, const std::map<QString, DayItem> &after)
{
    for (const auto &[id, item] : before) {
        if (!after.count(id))
            m_history[id].deleted = true;
    }
    for (const auto &[id, item] : after) {
        const auto old = before.find(id);
        const DayItem content = contentOf(item);
        if (old != before.end() && contentOf(old->second) == content)
            continue;
        History &history = m_history[id];
        history.written.append(content);
        if (item.modifiedAt == m_clock.now) {
            history.lastFresh = content;
            history.movedBySwapSince = false;
        } else {
            history.movedBySwapSince = true;
        }
    }
}

void Simulation::edit(Device &device)
{
    const auto today = [&](const DayItem &item) { return item.day == device->day(); };
    const auto any = [](const DayItem &) { return true; };
    recorded(device, [&] {
        switch (pick(9)) {
        case 0:
        case 1:
            device->addItem(QStringLiteral("task %1").arg(++m_titles), anyBucket());
            break;
        case 2:
            if (auto id = anyItem(device, any)) {
                const bool blank = chance(0.1);
                device->updateTitle(*id, blank ? QStringLiteral("  ") : QStringLiteral("edit %1").arg(++m_titles));
            }
            break;
        case 3:
            if (auto id = anyItem(device, today))
                device->toggleDone(*id);
            break;
        case 4:
            if (auto id = anyItem(device, today))
                device->stepItem(*id, chance(0.5) ? 1 : -1);
            break;
        case 5:
            if (auto id = anyItem(device, any))
                device->placeItem(*id, chance(0.7) ? anyItem(device, today) : std::nullopt, anyBucket());
            break;
        case 6:
            if (auto id = anyItem(device, [](const DayItem &item) { return item.isInBacklog(); }))
                device->bringToToday(*id);
            break;
        case 7:
            if (auto id = anyItem(device, today))
                device->sendToBacklog(*id);
            break;
        default:
            if (auto id = anyItem(device, any))
                device->deleteItem(*id);
            break;
        }
    });
}

// The network calms down and every device syncs until nothing moves any more.
void Simulation::settle()
{
    setStormy(false);
    const auto tags = [this] {
        std::map<QString, QString> tags;
        for (const auto &[name, record] : serverRecords())
            tags.emplace(name, record.recordChangeTag());
        return tags;
    };
    for (int pass = 0; pass < 10; ++pass) {
        const auto before = tags();
        bool allSent = true;
        for (auto &device : m_devices) {
            syncNow(device->engine());
            allSent = allSent && device->engine().state().pendingRecordZoneChanges().isEmpty();
        }
        if (allSent && tags() == before)
            return;
    }
    ADD_FAILURE() << "the devices never settled";
}
