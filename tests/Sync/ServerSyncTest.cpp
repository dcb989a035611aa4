// Devices of the planner on a real vellora-cloud server: the simulation behind bad links, and a restore of the
// server from a backup, which must cost no device an item: the server refuses every token and tag of its earlier
// life, and each device starts over and sends what it holds.

#include "Simulation.h"

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

// The three devices on one server, through a proxy that loses and cuts their requests and the answers.
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
        m_proxy = std::make_unique<FaultProxy>(m_server.port(), settings().seed, settings().dropRate);
        if (!m_proxy->listen())
            return false;
        m_reader = quietClient(m_server.url());
        m_readerAccount = CloudAccount{m_server.url(), "sim", m_server.addUser("sim")};
        addDevices([&](int) {
            auto &cloud = m_clouds.emplace_back(quietClient(m_proxy->url()));
            SyncSetup setup = manualSetup(*cloud, CloudAccount{m_proxy->url(), "sim", m_server.addUser("sim")});
            setup.requestSize = 3; // so a lost call can cut a send in two
            setup.fetchLimit = 4;
            return setup;
        });
        return true;
    }

    const FaultProxy &proxy() const { return *m_proxy; }

protected:
    std::map<QString, Record> serverRecords() override
    {
        const auto records = zoneContents(*m_reader, m_readerAccount, syncZoneID());
        EXPECT_TRUE(records) << "the server did not answer";
        return records.value_or(std::map<QString, Record>{});
    }
    void setStormy(bool stormy) override { m_proxy->setStormy(stormy); }
    CloudAccount otherAccount() override { return CloudAccount{m_proxy->url(), "other", m_server.addUser("other")}; }
    std::map<QString, Record> otherServerRecords() override
    {
        const CloudAccount reader{m_server.url(), "other", m_server.addUser("other")};
        return zoneContents(*m_reader, reader, syncZoneID()).value_or(std::map<QString, Record>{});
    }

private:
    CloudServerProcess m_server;
    std::unique_ptr<FaultProxy> m_proxy;
    std::unique_ptr<HttpCloud> m_reader;
    CloudAccount m_readerAccount;
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
        EXPECT_GT(simulation.itemCount(), 10);
        // Every kind of trouble happened, so the agreement above means something.
        for (int fault = int(FaultProxy::Fault::dropRequest); fault <= int(FaultProxy::Fault::cutAnswer); ++fault)
            EXPECT_GT(simulation.proxy().count(FaultProxy::Fault(fault)), 0) << fault;
        if (testing::Test::HasFailure())
            break;
    }
}

namespace {

// A device of the planner with a network client of its own, signed in to the server as anna.
struct ServerDevice
{
    ServerDevice(const CloudServerProcess &server, const QString &path, TestClock &clock)
        : cloud(quietClient(server.url()))
        , device(path, manualSetup(*cloud, CloudAccount{server.url(), "anna", server.addUser("anna")}), clock)
    {
        // The fewest items it held at any moment since it started.
        QObject::connect(&device.store(), &DayStore::savedChanged,
                         [this] { fewest = std::min(fewest, device->saved().items.size()); });
    }

    AppStore *operator->() { return &device.store(); }
    std::optional<QString> sync() { return syncNow(device.engine()); }
    // What each item says, by id.
    std::map<QString, std::pair<QString, QDateTime>> contents()
    {
        std::map<QString, std::pair<QString, QDateTime>> contents;
        for (const auto &[id, item] : device->saved().items)
            contents.emplace(id, std::pair(item.title, item.modifiedAt));
        return contents;
    }

    std::unique_ptr<HttpCloud> cloud;
    Device device;
    size_t fewest = std::numeric_limits<size_t>::max();
};

void syncAll(std::initializer_list<ServerDevice *> devices)
{
    for (ServerDevice *device : devices)
        ASSERT_EQ(device->sync(), std::nullopt);
}

} // namespace

TEST(ServerRestoreTest, NoDeviceLosesAnItemAndANewDeviceGetsTheUnion)
{
    CloudServerProcess server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    QTemporaryDir folder(memoryFolderTemplate(QStringLiteral("vellora-sync-test")));
    TestClock clock;
    ServerDevice desk(server, folder.filePath("desk.json"), clock);
    ServerDevice laptop(server, folder.filePath("laptop.json"), clock);

    const QString kept = desk->addItem("kept as it was", Block::big)->id;
    const QString edited = desk->addItem("edited after the backup", Block::small)->id;
    syncAll({&desk, &laptop});
    const QString backup = folder.filePath("backup.sqlite");
    ASSERT_EQ(server.command({"backup", backup}).first, 0);
    EXPECT_NE(server.command({"restore", backup}).first, 0) << "restored under a running server";

    // After the backup: an edit and new items on both devices, all on the server and both devices.
    clock.advance(60);
    desk->updateTitle(edited, "edited after the backup: the later text");
    desk->addItem("made on the desk after the backup", Block::medium);
    laptop->addItem("made on the laptop after the backup", Block::small);
    syncAll({&desk, &laptop, &desk});
    ASSERT_EQ(desk.contents().size(), 4u);
    ASSERT_EQ(desk.contents(), laptop.contents());

    server.stop();
    ASSERT_EQ(server.command({"restore", backup}).first, 0);
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    clock.advance(60);
    laptop->addItem("made on the laptop after the restore", Block::small);
    desk.fewest = laptop.fewest = std::numeric_limits<size_t>::max();

    // Each device starts over once, sends what it holds and fetches everything; the later edit wins.
    syncAll({&desk, &laptop, &desk});
    ServerDevice tablet(server, folder.filePath("tablet.json"), clock);
    syncAll({&tablet});
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
        EXPECT_TRUE(device->device.engine().state().pendingRecordZoneChanges().isEmpty());
        EXPECT_EQ((*device)->syncError(), std::nullopt);
    }

    // Emptying the account on purpose: refused without --confirm, and then every device follows the server.
    EXPECT_NE(server.command({"user", "reset", "anna"}).first, 0);
    syncAll({&tablet});
    EXPECT_EQ(tablet.contents(), all);
    const auto [status, said] = server.command({"user", "reset", "anna", "--confirm"});
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(said.startsWith("reset user anna: deleted 1 zones, 5 records")) << said.toStdString();
    for (ServerDevice *device : {&desk, &tablet}) {
        ASSERT_EQ(device->sync(), std::nullopt);
        EXPECT_TRUE(device->contents().empty());
    }
}

// The network comes back while the push channel and the engine both wait out long pauses after failures: told so,
// the channel opens at once and the change made while the server was away is on it within seconds.
TEST(ServerNetworkTest, WhenTheNetworkIsBackPushReconnectsAndWhatWaitsGoesAtOnce)
{
    CloudServerProcess server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    const CloudAccount account{server.url(), "anna", server.addUser("anna")};
    HttpCloud::Timing timing;
    timing.pushRetryDelay = timing.maximumPushRetryDelay = std::chrono::minutes(2);
    HttpCloud cloud(account, timing);
    QTemporaryDir folder(memoryFolderTemplate(QStringLiteral("vellora-sync-test")));
    SyncSetup setup = manualSetup(cloud, account);
    setup.automaticallySync = true;
    setup.timing.retryDelay = setup.timing.maximumRetryDelay = std::chrono::minutes(2);
    TestClock clock;
    Device device(folder.filePath("desk.json"), setup, clock);
    ASSERT_TRUE(waitFor([&] { return cloud.isPushConnected() && !device.engine().isWorking(); }, 30000));

    bool failed = false;
    QObject::connect(&device.engine(), &SyncEngine::workFinished,
                     [&](const std::optional<CloudError> &error) { failed = failed || error.has_value(); });
    server.stop();
    const QString id = device->addItem("made while the network was away", Block::big)->id;
    ASSERT_TRUE(waitFor([&] { return failed && !cloud.isPushConnected(); }, 30000));
    ASSERT_TRUE(server.start()) << server.error().toStdString();

    cloud.networkReachable();
    EXPECT_TRUE(waitFor([&] { return cloud.isPushConnected(); }, 10000)) << "push waited out its pause";
    ASSERT_TRUE(waitFor([&] { return device.engine().state().pendingRecordZoneChanges().isEmpty(); }, 10000))
        << "the change waited out the engine's pause";
    const auto records = zoneContents(cloud, account, syncZoneID());
    ASSERT_TRUE(records);
    EXPECT_EQ(records->count(id), 1u);
}
