// The simulation on a cloud in the process, whose network loses requests and answers as often as the settings say.

#include "Simulation.h"

#include "SyncKit/RecordSeal.h"

#include <gtest/gtest.h>

using namespace SyncKit;

namespace {

class MemorySimulation : public Simulation
{
public:
    // `sealed`: each account has its key, and every device seals with it.
    MemorySimulation(Settings settings, bool sealed) : Simulation(settings)
    {
        if (sealed) {
            m_account.key = AccountKey::generate();
            m_other.key = AccountKey::generate();
        }
        m_cloud.setClock(clock().clock());
        SyncSetup setup = manualSetup(m_cloud, m_account);
        setup.requestSize = 3; // so a lost call can cut a send in two
        setup.fetchLimit = 4;
        addDevices([&](int) { return setup; });
        m_cloud.setFaultInjector([this](MemoryCloud::Call) {
            if (!m_stormy || !chance(this->settings().dropRate))
                return MemoryCloud::Fault::none;
            return chance(0.5) ? MemoryCloud::Fault::dropRequest : MemoryCloud::Fault::dropResponse;
        });
    }
    ~MemorySimulation() override { removeDevices(); }

protected:
    std::map<QString, Record> serverRecords() override { return openedRecords(m_account); }
    void setStormy(bool stormy) override { m_stormy = stormy; }
    CloudAccount otherAccount() override { return m_other; }
    std::map<QString, Record> otherServerRecords() override { return openedRecords(m_other); }

private:
    std::map<QString, Record> openedRecords(const CloudAccount &account)
    {
        auto records = zoneContents(m_cloud, account, syncZoneID()).value_or(std::map<QString, Record>{});
        if (!account.key)
            return records;
        for (auto &[name, record] : records) {
            auto opened = RecordSeal::open(record, *account.key, RecordSeal::Kind::save);
            EXPECT_TRUE(opened) << "not sealed with the account's key: " << name.toStdString();
            if (opened)
                record = *opened;
        }
        return records;
    }

    MemoryCloud m_cloud;
    CloudAccount m_account = m_cloud.addAccount("sim");
    CloudAccount m_other = m_cloud.addAccount("other");
    bool m_stormy = true;
};

} // namespace

TEST(Simulation, ThreeDevicesAgreeWithTheCloudAndKeepEveryWinningEdit)
{
    const unsigned seeds = simulationSeeds(4u);
    for (unsigned seed = 1; seed <= seeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        // Half the seeds with sealed records: the same rules must hold through the seal.
        const bool sealed = seed % 2 == 0;
        SCOPED_TRACE(sealed ? "sealed" : "plain");
        MemorySimulation simulation({seed, 500, 0.15}, sealed);
        simulation.run();
        EXPECT_GT(simulation.itemCount(), 20);
        if (testing::Test::HasFailure())
            break;
    }
}
