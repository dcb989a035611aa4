// Two computers of one person change the same task while apart, on a real vellora-cloud server: whatever the order
// in which they sync, the later change of each part stands, a delete included.

#include "SyncTestSupport.h"

#include "SyncKit/HttpCloud.h"

#include <gtest/gtest.h>

using namespace SyncKit;
using namespace std::chrono_literals;

namespace {

enum class Change { tick, edit, remove, newDay, move };

struct Case
{
    const char *name;
    Change first; // made on the laptop
    Change later; // made on the desk two seconds after
    bool laptopSyncsFirst;
};

void PrintTo(const Case &test, std::ostream *out)
{
    *out << test.name;
}

class ConflictTest : public testing::TestWithParam<Case>
{
protected:
    static void SetUpTestSuite()
    {
        server = new CloudServerProcess({"--rate-limit", "100000/100000"});
        ASSERT_TRUE(server->start()) << server->error().toStdString();
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    struct Computer
    {
        Computer(const QString &path, const CloudAccount &account, TestClock &clock)
            : cloud(std::make_unique<HttpCloud>(CloudAccount{server->url(), {}, {}}))
            , device(path, manualSetup(*cloud, account), clock)
        {
        }
        std::unique_ptr<HttpCloud> cloud;
        Device device;
    };

    void make(Computer &computer, Change change, const QString &id)
    {
        DayStore &store = computer.device.store();
        switch (change) {
        case Change::tick:
            store.toggleDone(id);
            break;
        case Change::edit:
            store.updateTitle(id, store.item(id)->title + " (edited)");
            break;
        case Change::remove:
            store.deleteItem(id);
            break;
        case Change::newDay:
            store.startNewDay(clock.now.addDays(1));
            break;
        case Change::move:
            ASSERT_TRUE(store.moveItem(id, Block::big));
            break;
        }
    }

    static inline CloudServerProcess *server = nullptr;
    QTemporaryDir folder{memoryFolderTemplate(QStringLiteral("vellora-conflict-test"))};
    TestClock clock;
};

// What a task is after a change alone, seen part by part; none when it is gone.
std::optional<DayItem> afterAlone(DayItem item, Change change)
{
    switch (change) {
    case Change::tick:
        item.done = !item.done;
        break;
    case Change::edit:
        item.title += " (edited)";
        break;
    case Change::remove:
        return std::nullopt;
    case Change::newDay:
        item.day = kOpenDay;
        break;
    case Change::move:
        item.block = Block::big;
        break;
    }
    return item;
}

} // namespace

TEST_P(ConflictTest, TheLaterChangeOfEachPartStandsWhateverTheOrderOfSyncing)
{
    const Case &test = GetParam();
    const QString user = QString::fromLatin1(test.name).remove(QLatin1Char('_'));
    const CloudAccount account{server->url(), user, server->addUser(user)};
    Computer laptop(folder.filePath("laptop.json"), account, clock);
    Computer desk(folder.filePath("desk.json"), account, clock);
    const QString id = desk.device->addItem("Fix bike", Block::small)->id;
    ASSERT_EQ(syncNow(desk.device.engine()), std::nullopt);
    ASSERT_EQ(syncNow(laptop.device.engine()), std::nullopt);
    ASSERT_TRUE(laptop.device->item(id));
    const DayItem before = *laptop.device->item(id);

    // Apart: neither hears of the other's change until both are made.
    clock.advance(60);
    make(laptop, test.first, id);
    clock.advance(2);
    make(desk, test.later, id);
    Computer *order[] = {&laptop, &desk};
    if (!test.laptopSyncsFirst)
        std::swap(order[0], order[1]);
    for (int round = 0; round < 3; ++round) {
        for (Computer *computer : order)
            ASSERT_EQ(syncNow(computer->device.engine()), std::nullopt);
    }

    // The expected task: a delete stands only when it is the later change; otherwise each part comes from the
    // computer that changed it last.
    std::optional<DayItem> expected;
    if (test.later == Change::remove)
        expected = std::nullopt;
    else if (test.first == Change::remove)
        expected = afterAlone(before, test.later);
    else
        expected = afterAlone(*afterAlone(before, test.first), test.later);
    for (Computer *computer : order) {
        const auto item = computer->device->item(id);
        ASSERT_EQ(item.has_value(), expected.has_value()) << (computer == &laptop ? "laptop" : "desk");
        if (item) {
            EXPECT_EQ(item->title, expected->title);
            EXPECT_EQ(item->done, expected->done);
            EXPECT_EQ(item->day, expected->day);
            EXPECT_EQ(item->block, expected->block);
        }
        EXPECT_TRUE(computer->device.engine().state().pendingRecordZoneChanges().isEmpty());
        EXPECT_TRUE(computer->device->saved().deletions.empty());
        EXPECT_EQ(computer->device->syncError(), std::nullopt);
    }
    EXPECT_EQ(laptop.device->saved().items, desk.device->saved().items);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ConflictTest,
    testing::Values(Case{"delete_then_tick", Change::remove, Change::tick, true},
                    Case{"delete_then_tick_b", Change::remove, Change::tick, false},
                    Case{"tick_then_delete", Change::tick, Change::remove, true},
                    Case{"tick_then_delete_b", Change::tick, Change::remove, false},
                    Case{"delete_then_edit", Change::remove, Change::edit, true},
                    Case{"delete_then_edit_b", Change::remove, Change::edit, false},
                    Case{"edit_then_delete", Change::edit, Change::remove, true},
                    Case{"edit_then_delete_b", Change::edit, Change::remove, false},
                    // A new day moves the task and must not undo a text edit or a tick made elsewhere.
                    Case{"edit_then_new_day", Change::edit, Change::newDay, true},
                    Case{"edit_then_new_day_b", Change::edit, Change::newDay, false},
                    Case{"new_day_then_edit", Change::newDay, Change::edit, true},
                    Case{"tick_then_move", Change::tick, Change::move, false},
                    Case{"move_then_edit", Change::move, Change::edit, true}),
    [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });
