// Ten thousand queued item changes: how long one device takes to send them to a MemoryCloud, and a second,
// new device to fetch them. Both devices are real stores with their store files on disk and the sync driver,
// as in the app; the cloud answers at once, so the figures are the devices' own work. The second argument says
// whether the account has a key, so that the records travel sealed; and what the passphrase's box costs.

#include "Vellora/Sync/AppStore.h"
#include "Vellora/Sync/ItemRecord.h"

#include "tests/SyncKit/MemoryCloud.h"
#include "SyncKit/AccountKey.h"
#include "SyncKit/SyncEngineDelegate.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace SyncKit;

namespace {

const QDateTime kStart(QDate(2025, 3, 5), QTime(8, 0), Qt::UTC);

// The bench user's account, with a key when the benchmark's second argument asks for sealed records.
CloudAccount benchAccount(MemoryCloud &cloud, const benchmark::State &state)
{
    CloudAccount account = cloud.addAccount("bench");
    if (state.range(1) != 0)
        account.key = AccountKey::generate();
    return account;
}

std::unique_ptr<AppStore> makeDevice(const QString &path, MemoryCloud &cloud, const CloudAccount &account)
{
    SyncSetup setup;
    setup.database = &cloud;
    setup.accountFile.reset();
    setup.account = account;
    setup.automaticallySync = false;
    DayStore::Options options;
    options.filePath = path;
    options.calendar = Calendar::inTimeZone("UTC");
    options.clock = [] { return kStart; };
    return std::make_unique<AppStore>(std::move(options), setup);
}

// Puts the items in the store and queues their saves in one go, as many edits made offline would leave them.
void queueItems(AppStore &store, int count)
{
    QList<PendingRecordZoneChange> changes;
    for (int i = 0; i < count; ++i) {
        const QString id = newItemId();
        store.applyItem(id, DayItem{id, QStringLiteral("Task number %1").arg(i), i % 3 == 0, kAllBlocks[i % 3],
                                  i % 2 ? kOpenDay : store.day(), kStart.addSecs(i), std::nullopt});
        changes.append(PendingRecordZoneChange::save(RecordID{id, syncZoneID()}));
    }
    store.engine()->state().add(changes);
}

// Sends until nothing waits: one call makes a bounded number of passes, as one round of the app does, and the app
// starts another round for the rest.
void sendEverything(AppStore &store)
{
    const auto waiting = [&] { return store.engine()->state().pendingRecordZoneChanges().size(); };
    for (qsizetype before = waiting(); before > 0; before = waiting()) {
        store.engine()->sendChanges();
        if (waiting() >= before)
            return; // no progress: the caller's check says so
    }
}

void BM_SendQueuedChanges(benchmark::State &state)
{
    const int count = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        MemoryCloud cloud;
        const CloudAccount account = benchAccount(cloud, state);
        auto sender = makeDevice(dir.filePath("sender.json"), cloud, account);
        queueItems(*sender, count);
        state.ResumeTiming();

        sendEverything(*sender);

        state.PauseTiming();
        const bool allSent = sender->engine()->state().pendingRecordZoneChanges().isEmpty();
        if (cloud.records("bench", syncZoneID()).size() != count || !allSent) {
            state.SkipWithError("not everything was sent");
            break;
        }
        sender.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_FetchOnANewDevice(benchmark::State &state)
{
    const int count = int(state.range(0));
    QTemporaryDir dir;
    MemoryCloud cloud;
    const CloudAccount account = benchAccount(cloud, state);
    {
        auto sender = makeDevice(dir.filePath("sender.json"), cloud, account);
        queueItems(*sender, count);
        sendEverything(*sender);
    }
    int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto receiver = makeDevice(dir.filePath(QStringLiteral("receiver-%1.json").arg(++run)), cloud, account);
        state.ResumeTiming();

        receiver->engine()->syncChanges();

        state.PauseTiming();
        if (int(receiver->saved().items.size()) != count) {
            state.SkipWithError("not everything was fetched");
            break;
        }
        receiver.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

// The engine and the cloud alone: a delegate that keeps records in a table and writes no file.
class TableDelegate : public SyncEngineDelegate
{
public:
    void handleEvent(const SyncEngineEvent &event, SyncEngine &) override
    {
        if (const auto *fetched = std::get_if<SyncEvent::FetchedRecordZoneChanges>(&event)) {
            for (const Record &record : fetched->modifications)
                records.insert(record.recordID(), record);
        }
    }
    std::optional<RecordZoneChangeBatch> nextRecordZoneChangeBatch(const SendChangesContext &,
                                                                  SyncEngine &engine) override
    {
        const auto &pending = engine.state().pendingRecordZoneChanges();
        if (pending.isEmpty())
            return std::nullopt;
        return RecordZoneChangeBatch(pending, [this](const RecordID &id) { return records.value(id); });
    }

    QHash<RecordID, Record> records;
};

std::unique_ptr<SyncEngine> makeEngine(TableDelegate &delegate, MemoryCloud &cloud, const CloudAccount &account)
{
    SyncEngine::Configuration configuration;
    configuration.database = &cloud;
    configuration.delegate = &delegate;
    configuration.accountFile.reset();
    configuration.account = account;
    configuration.automaticallySync = false;
    return std::make_unique<SyncEngine>(std::move(configuration));
}

void BM_EngineOnlySendAndFetch(benchmark::State &state)
{
    const int count = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        MemoryCloud cloud;
        const CloudAccount account = benchAccount(cloud, state);
        TableDelegate sender;
        TableDelegate receiver;
        auto sendingEngine = makeEngine(sender, cloud, account);
        auto receivingEngine = makeEngine(receiver, cloud, account);
        QList<PendingRecordZoneChange> changes;
        for (int i = 0; i < count; ++i) {
            const RecordID id{newItemId(), syncZoneID()};
            Record record(QStringLiteral("DayItem"), id);
            record.setValue(QStringLiteral("title"), QStringLiteral("Task number %1").arg(i));
            record.setValue(QStringLiteral("modifiedAt"), kStart.addSecs(i));
            sender.records.insert(id, record);
            changes.append(PendingRecordZoneChange::save(id));
        }
        sendingEngine->state().add(QList{PendingDatabaseChange::saveZone(syncZoneID())});
        sendingEngine->state().add(changes);
        state.ResumeTiming();

        sendingEngine->sendChanges();
        receivingEngine->fetchChanges();

        state.PauseTiming();
        if (receiver.records.size() != count) {
            state.SkipWithError("not everything arrived");
            break;
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

// Argon2id at the cost a new box gets (argument 1) or the tests' minimum (0): a sign-in pays one unwrap, a new
// passphrase one wrap.
void BM_WrapAccountKey(benchmark::State &state)
{
    const PassphraseCost cost = state.range(0) ? PassphraseCost::standard() : PassphraseCost::minimum();
    const AccountKey key = AccountKey::generate();
    for (auto _ : state) {
        if (!KeyBox::wrap(key, QStringLiteral("correct horse battery"), cost))
            state.SkipWithError("the passphrase could not be hashed");
    }
}

void BM_UnwrapAccountKey(benchmark::State &state)
{
    const PassphraseCost cost = state.range(0) ? PassphraseCost::standard() : PassphraseCost::minimum();
    const AccountKey key = AccountKey::generate();
    const std::optional<KeyBox> box = KeyBox::wrap(key, QStringLiteral("correct horse battery"), cost);
    for (auto _ : state) {
        if (!box || box->unwrap(QStringLiteral("correct horse battery")) != key)
            state.SkipWithError("the key did not come out");
    }
}

} // namespace

BENCHMARK(BM_EngineOnlySendAndFetch)
    ->ArgsProduct({{10000}, {0, 1}})
    ->ArgNames({"changes", "sealed"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_SendQueuedChanges)
    ->ArgsProduct({{1000, 10000}, {0, 1}})
    ->ArgNames({"changes", "sealed"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_FetchOnANewDevice)
    ->ArgsProduct({{1000, 10000}, {0, 1}})
    ->ArgNames({"changes", "sealed"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_WrapAccountKey)->ArgName("standard")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnwrapAccountKey)->ArgName("standard")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
