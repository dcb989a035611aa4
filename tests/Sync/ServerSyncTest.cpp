// Devices of the planner on a real vellora-cloud server: the simulation behind bad links, and a restore of the
// server from a backup, which must cost no device an item.

#include "Simulation.h"

#include "Vellora/Sync/ItemRecord.h"

#include "SyncKit/HttpCloud.h"
#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/FaultProxy.h"

#include <gtest/gtest.h>

#include <limits>

using namespace SyncKit;
using namespace std::chrono_literals;

namespace {

// A client that gives up soon on a link that hangs, and opens no push channel: the tests drive every sync.
std::unique_ptr<HttpCloud> quietClient(const QString &address)
{
    HttpCloud::Timing timing;
    timing.transferTimeout = 10s;
    return std::make_unique<HttpCloud>(CloudAccount{address, {}, {}}, timing);
}

// The three devices on one server, each through a proxy of its own that loses, cuts and slows its requests.
class ServerSimulation : public Simulation
{
public:
    explicit ServerSimulation(Settings settings) : Simulation(settings), m_server({"--rate-limit", "100000/100000"}) {}
    ~ServerSimulation() override { removeDevices(); }

    bool start()
    {
        if (!m_server.start()) {
            ADD_FAILURE() << m_server.error().toStdString();
            return false;
        }
        m_reader = quietClient(m_server.url());
        m_readerAccount = CloudAccount{m_server.url(), "sim", m_server.addUser("sim")};
        QList<SyncSetup> setups;
        for (unsigned device = 0; device < 3; ++device) {
            auto &proxy = m_proxies.emplace_back(std::make_unique<FaultProxy>(
                m_server.port(), FaultProxy::Settings{settings().seed * 3 + device, settings().dropRate, 20ms}));
            if (!proxy->listen())
                return false;
            auto &cloud = m_clouds.emplace_back(quietClient(proxy->url()));
            SyncSetup setup = manualSetup(*cloud, CloudAccount{proxy->url(), "sim", m_server.addUser("sim")});
            setup.requestSize = 3; // so a lost call can cut a send in two
            setup.fetchLimit = 4;
            setups.append(setup);
        }
        addDevices([&](int device) { return setups[device]; });
        return true;
    }

    int faults(FaultProxy::Fault fault) const
    {
        int count = 0;
        for (const auto &proxy : m_proxies)
            count += proxy->count(fault);
        return count;
    }

protected:
    QList<Record> serverRecords() override
    {
        const auto records = zoneContents(*m_reader, m_readerAccount, syncZoneID());
        if (!records) {
            ADD_FAILURE() << "the server did not answer";
            return {};
        }
        QList<Record> list;
        for (const auto &[name, record] : *records)
            list.append(record);
        return list;
    }

    void setStormy(bool stormy) override
    {
        for (const auto &proxy : m_proxies)
            proxy->setStormy(stormy);
    }

private:
    CloudServerProcess m_server;
    std::unique_ptr<HttpCloud> m_reader;
    CloudAccount m_readerAccount;
    std::vector<std::unique_ptr<FaultProxy>> m_proxies;
    std::vector<std::unique_ptr<HttpCloud>> m_clouds;
};

} // namespace

TEST(ServerSimulation, ThreeDevicesBehindBadLinksAgreeWithTheServer)
{
    const unsigned seeds = simulationSeeds(2u);
    for (unsigned seed = 1; seed <= seeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        ServerSimulation simulation({seed, 100, 0.2});
        ASSERT_TRUE(simulation.start());
        simulation.run();
        simulation.check();
        EXPECT_GT(simulation.itemCount(), 10);
        // Every kind of trouble happened, so the agreement above means something.
        for (auto fault : {FaultProxy::Fault::dropRequest, FaultProxy::Fault::dropAnswer, FaultProxy::Fault::cutRequest,
                           FaultProxy::Fault::cutAnswer, FaultProxy::Fault::delay})
            EXPECT_GT(simulation.faults(fault), 0) << int(fault);
        if (testing::Test::HasFailure())
            break;
    }
}

namespace {

// A device of the planner with a network client of its own, signed in to the server as anna.
class ServerDevice
{
public:
    ServerDevice(const CloudServerProcess &server, const QString &path, TestClock &clock)
        : m_cloud(quietClient(server.url())),
          m_device(path, manualSetup(*m_cloud, CloudAccount{server.url(), "anna", server.addUser("anna")}), clock)
    {
        // The fewest items it held at any moment since it started.
        QObject::connect(&m_device.store(), &DayStore::savedChanged,
                         [this] { fewest = std::min(fewest, m_device->saved().items.size()); });
    }

    Device &operator*() { return m_device; }
    DayStore *operator->() { return &m_device.store(); }
    // The words of the sync's first failure, or none.
    std::optional<QString> sync() { return syncNow(m_device.engine()); }

    // What each item says, by id.
    std::map<QString, std::pair<QString, QDateTime>> contents()
    {
        std::map<QString, std::pair<QString, QDateTime>> contents;
        for (const auto &[id, item] : m_device->saved().items)
            contents.emplace(id, std::pair(item.title, item.modifiedAt));
        return contents;
    }

    size_t fewest = std::numeric_limits<size_t>::max();

private:
    std::unique_ptr<HttpCloud> m_cloud;
    Device m_device;
};

} // namespace

TEST(ServerRestoreTest, NoDeviceLosesAnItemAndANewDeviceGetsTheUnion)
{
    CloudServerProcess server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    QTemporaryDir folder(storeFolderTemplate());
    TestClock clock;
    ServerDevice desk(server, folder.filePath("desk.json"), clock);
    ServerDevice laptop(server, folder.filePath("laptop.json"), clock);

    const QString kept = desk->addItem("kept as it was", Bucket::big)->id;
    const QString edited = desk->addItem("edited after the backup", Bucket::small)->id;
    ASSERT_EQ(desk.sync(), std::nullopt);
    ASSERT_EQ(laptop.sync(), std::nullopt);
    const QString backup = folder.filePath("backup.sqlite");
    ASSERT_EQ(server.command({"backup", backup}).first, 0);

    // After the backup: an edit and new items on both devices, all on the server and both devices.
    clock.advance(60);
    desk->updateTitle(edited, "edited after the backup: the later text");
    desk->addItem("made on the desk after the backup", Bucket::medium);
    laptop->addItem("made on the laptop after the backup", Bucket::small);
    for (ServerDevice *device : {&desk, &laptop, &desk})
        ASSERT_EQ(device->sync(), std::nullopt);
    ASSERT_EQ(desk.contents().size(), 4u);
    ASSERT_EQ(desk.contents(), laptop.contents());

    server.stop();
    ASSERT_EQ(server.command({"restore", backup}).first, 0);
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    clock.advance(60);
    laptop->addItem("made on the laptop after the restore", Bucket::small);
    desk.fewest = laptop.fewest = std::numeric_limits<size_t>::max();

    // Each device starts over once, sends what it holds and fetches everything; the later edit wins.
    for (ServerDevice *device : {&desk, &laptop, &desk})
        ASSERT_EQ(device->sync(), std::nullopt);
    ServerDevice tablet(server, folder.filePath("tablet.json"), clock);
    ASSERT_EQ(tablet.sync(), std::nullopt);

    const auto all = laptop.contents();
    EXPECT_EQ(all.size(), 5u);
    EXPECT_EQ(all.at(edited).first, "edited after the backup: the later text");
    EXPECT_EQ(all.at(kept).first, "kept as it was");
    EXPECT_EQ(desk.contents(), all);
    EXPECT_EQ(tablet.contents(), all);
    // No zone deletion on the way, nor any other loss: the devices never held fewer items than before.
    EXPECT_GE(desk.fewest, 4u);
    EXPECT_GE(laptop.fewest, 5u);
    for (ServerDevice *device : {&desk, &laptop, &tablet}) {
        EXPECT_TRUE((**device).engine().state().pendingRecordZoneChanges().isEmpty());
        EXPECT_EQ((*device)->syncError(), std::nullopt);
    }
    const CloudAccount reader{server.url(), "anna", server.addUser("anna")};
    auto client = quietClient(server.url());
    const auto onServer = zoneContents(*client, reader, syncZoneID());
    ASSERT_TRUE(onServer);
    EXPECT_EQ(onServer->size(), all.size());

    // Emptying the account on purpose: refused without --confirm, and then every device follows the server.
    EXPECT_NE(server.command({"user", "reset", "anna"}).first, 0);
    EXPECT_EQ(zoneContents(*client, reader, syncZoneID()).value_or(std::map<QString, Record>{}).size(), all.size());
    const auto [status, said] = server.command({"user", "reset", "anna", "--confirm"});
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(said.startsWith("reset user anna: deleted 1 zones, 5 records")) << said.toStdString();
    for (ServerDevice *device : {&desk, &tablet}) {
        ASSERT_EQ(device->sync(), std::nullopt);
        EXPECT_TRUE(device->contents().empty());
    }
}
