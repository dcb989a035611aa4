#pragma once

// Three devices edit one planner at random on one cloud, with partial syncs, restarts and a lossy network;
// once the network is quiet they must agree with the cloud, and part by part the later change must stand: the
// text, done and the place each hold the value of their latest change, unless a later delete removed the task.
// The cloud and its network are the subclass's: one in the process, or a real server behind bad links.

#include "SyncTestSupport.h"

#include <functional>
#include <map>
#include <random>
#include <vector>

// How many seeds a simulation test plays: VELLORA_SIMULATION_SEEDS=500 tries more when hunting a fault.
inline unsigned simulationSeeds(unsigned byDefault)
{
    const int asked = qEnvironmentVariableIntValue("VELLORA_SIMULATION_SEEDS");
    return asked > 0 ? unsigned(asked) : byDefault;
}

class Simulation
{
public:
    struct Settings
    {
        unsigned seed = 1;
        int rounds = 400;
        double dropRate = 0.15;
    };

    explicit Simulation(Settings settings);
    virtual ~Simulation();

    // Plays the rounds, lets the devices settle and checks them against the cloud and the users' history.
    void run();
    int itemCount() const { return int(m_history.size()); }

protected:
    // Called by the subclass once its cloud is ready: three devices, each reaching it as `setup` says.
    void addDevices(const std::function<SyncSetup(int device)> &setup);
    // Called by the subclass's destructor: the devices go before the cloud they use.
    void removeDevices() { m_devices.clear(); }
    // What the server holds in the sync zone now by name, tombstones left out.
    virtual std::map<QString, SyncKit::Record> serverRecords() = 0;
    // Another person's account on the same server, which a device visits now and then; and what it holds.
    virtual SyncKit::CloudAccount otherAccount() = 0;
    virtual std::map<QString, SyncKit::Record> otherServerRecords() = 0;
    // While stormy the network loses calls; it calms down for the devices to settle.
    virtual void setStormy(bool stormy) = 0;

    const Settings &settings() const { return m_settings; }
    TestClock &clock() { return m_clock; }
    bool chance(double probability) { return std::uniform_real_distribution<>(0, 1)(m_random) < probability; }

private:
    // What an item says, without the server's bookkeeping.
    static DayItem contentOf(DayItem item)
    {
        item.systemFields.reset();
        return item;
    }

    // Everything the users did to one item, on any device: each part's changes and the deletes, by time.
    struct History
    {
        std::map<QDateTime, QString> titles;
        std::map<QDateTime, bool> dones;
        std::map<QDateTime, std::pair<Block, QString>> places; // block and day
        std::optional<QDateTime> lastDelete;
    };
    void noteParts(const std::optional<DayItem> &before, const DayItem &after);

    size_t pick(size_t count) { return std::uniform_int_distribution<size_t>(0, count - 1)(m_random); }
    std::optional<QString> anyItem(Device &device, const std::function<bool(const DayItem &)> &keep);
    Block anyBlock() { return kAllBlocks[pick(kAllBlocks.size())]; }
    void recorded(Device &device, const std::function<void()> &action);
    void edit(Device &device);
    void visitOtherAccount(Device &device);
    void settle();
    void check();

    Settings m_settings;
    std::mt19937 m_random;
    QTemporaryDir m_dir{memoryFolderTemplate(QStringLiteral("vellora-sync-test"))};
    TestClock m_clock;
    std::vector<std::unique_ptr<Device>> m_devices;
    std::map<QString, History> m_history;
    int m_titles = 0;
    int m_visits = 0;
    bool m_visiting = false;
};
