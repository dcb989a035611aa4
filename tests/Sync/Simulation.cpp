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
        // Two devices may each fill a block's last row: the extra items go to the Backlog, a move of sync's making.
        Device *device = m_devices.back().get();
        device->onOverflow = [this, device](const QList<DayItem> &moved) {
            if (m_visiting)
                return; // the other account's tasks
            for (const DayItem &item : moved) {
                if (auto stored = (*device)->item(item.id))
                    m_history[item.id].places.insert_or_assign(stored->placeTime(), std::pair(stored->block, stored->day));
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
        } else if (roll < 93) {
            recorded(device, [&] { device.restart(); });
        } else if (roll < 96) {
            visitOtherAccount(device);
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

    // A delete removes what was changed before it; a change after it keeps the task, with each part that changed
    // after the delete at its latest value (the others are the keeping device's, which the oracle cannot know).
    int deletesChecked = 0;
    int revivalsChecked = 0;
    for (const auto &[id, history] : m_history) {
        SCOPED_TRACE(id.toStdString());
        const auto found = cloudItems.find(id);
        const auto after = [&](const auto &changes) {
            return history.lastDelete ? changes.upper_bound(*history.lastDelete) : changes.begin();
        };
        const bool changedSince = after(history.titles) != history.titles.end()
            || after(history.dones) != history.dones.end() || after(history.places) != history.places.end();
        if (!changedSince) {
            EXPECT_EQ(found, cloudItems.end()) << "the later delete lost";
            deletesChecked += history.lastDelete ? 1 : 0;
            continue;
        }
        ASSERT_NE(found, cloudItems.end()) << "a later change lost to a delete";
        revivalsChecked += history.lastDelete ? 1 : 0;
        if (after(history.titles) != history.titles.end()) {
            EXPECT_EQ(found->second.title, history.titles.rbegin()->second) << "the latest text lost";
        }
        if (after(history.dones) != history.dones.end()) {
            EXPECT_EQ(found->second.done, history.dones.rbegin()->second) << "the latest tick lost";
        }
        if (after(history.places) != history.places.end()) {
            EXPECT_EQ(std::pair(found->second.block, found->second.day), history.places.rbegin()->second)
                << "the latest move lost";
        }
    }
    for (const auto &[id, content] : cloudItems)
        EXPECT_TRUE(m_history.count(id)) << "an item nobody made, or another account's: " << id.toStdString();
    for (const auto &[id, record] : otherServerRecords())
        EXPECT_FALSE(m_history.count(id)) << "an item in another account: " << id.toStdString();
    EXPECT_GT(m_visits, 0);
    EXPECT_GT(deletesChecked, 0); // the checks above are not empty
    (void)revivalsChecked;
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
    for (const auto &[id, item] : before) {
        if (device->item(id))
            continue;
        const auto deletion = device->deletion(id);
        ASSERT_TRUE(deletion) << "a delete that the server will not hear of: " << id.toStdString();
        History &history = m_history[id];
        history.lastDelete = std::max(history.lastDelete.value_or(deletion->deletedAt), deletion->deletedAt);
    }
    for (const auto &[id, item] : device->saved().items) {
        const auto old = before.find(id);
        noteParts(old == before.end() ? std::nullopt : std::optional(old->second), item);
    }
}

void Simulation::noteParts(const std::optional<DayItem> &before, const DayItem &after)
{
    History &history = m_history[after.id];
    if (!before || before->titleTime() != after.titleTime())
        history.titles.insert_or_assign(after.titleTime(), after.title);
    if (!before || before->doneTime() != after.doneTime())
        history.dones.insert_or_assign(after.doneTime(), after.done);
    if (!before || before->placeTime() != after.placeTime())
        history.places.insert_or_assign(after.placeTime(), std::pair(after.block, after.day));
}

void Simulation::edit(Device &device)
{
    const auto today = [&](const DayItem &item) { return item.day == device->day(); };
    const auto any = [](const DayItem &) { return true; };
    recorded(device, [&] {
        switch (pick(9)) {
        case 0:
        case 1:
            device->addItem(QStringLiteral("task %1").arg(++m_titles), anyBlock());
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
                device->placeItem(*id, chance(0.7) ? anyItem(device, today) : std::nullopt, anyBlock());
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

// The device signs in to another person's account, adds a task there and comes back. What it held leaves with the
// account and comes back with it; nothing of either account may reach the other.
void Simulation::visitOtherAccount(Device &device)
{
    // Changes not sent leave with the account: a person signs out once they are sent.
    syncNow(device.engine());
    if (!device.engine().state().pendingRecordZoneChanges().isEmpty())
        return;
    ++m_visits;
    const std::optional<CloudAccount> own = device.engine().account();
    m_visiting = true;
    device.engine().setAccount(otherAccount());
    device->addItem(QStringLiteral("another's task %1").arg(++m_titles), anyBlock());
    syncNow(device.engine());
    device.engine().setAccount(own);
    m_visiting = false;
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
