// The simulation on a cloud in the process, whose network loses requests and answers as often as the settings say.

#include "Simulation.h"

#include <gtest/gtest.h>

using namespace SyncKit;

namespace {

class MemorySimulation : public Simulation
{
public:
    explicit MemorySimulation(Settings settings) : Simulation(settings)
    {
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
    std::map<QString, Record> serverRecords() override
    {
        return zoneContents(m_cloud, m_account, syncZoneID()).value_or(std::map<QString, Record>{});
    }
    void setStormy(bool stormy) override { m_stormy = stormy; }
    CloudAccount otherAccount() override { return m_other; }
    std::map<QString, Record> otherServerRecords() override
    {
        return zoneContents(m_cloud, m_other, syncZoneID()).value_or(std::map<QString, Record>{});
    }

private:
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
        MemorySimulation simulation({seed, 500, 0.15});
        simulation.run();
        EXPECT_GT(simulation.itemCount(), 20);
        if (testing::Test::HasFailure())
            break;
    }
}
