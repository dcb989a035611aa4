// The store's cost per change and per load, by number of items.
#include "Vellora/DayData/DayStore.h"
#include "Vellora/DayData/StoreFile.h"
#include "Vellora/Sync/AppStore.h"
#include "Vellora/Sync/ItemRecord.h"
#include "bench/QtStoreReader.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

DayStore::Options optionsFor(const QString &path)
{
    DayStore::Options options;
    options.filePath = path;
    options.calendar = Calendar::inTimeZone("UTC");
    return options;
}

// A store file with n items: a full sheet, the rest in the Backlog. With `queued`, as the app leaves it on a
// computer that has never reached a sync server: every item's record waits in the sync engine's queue.
void writeStore(const QString &path, int n, bool queued = false)
{
    DayStore::Saved saved;
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-1);
    const QString today = Calendar::inTimeZone("UTC").dayKey(QDateTime::currentDateTimeUtc());
    for (int i = 0; i < n; ++i) {
        const Block block = kAllBlocks[i % 3];
        DayItem item{newItemId(),
                     QString("Task number %1 with a few words").arg(i),
                     i % 4 == 0,
                     block,
                     i < 9 ? today : kOpenDay,
                     start.addSecs(i),
                     std::nullopt};
        saved.items.emplace(item.id, item);
    }
    if (queued) {
        SyncKit::SyncEngineState state;
        state.add(QList{SyncKit::PendingDatabaseChange::saveZone(syncZoneID())});
        QList<SyncKit::PendingRecordZoneChange> changes;
        for (const auto &[id, item] : saved.items)
            changes.append(SyncKit::PendingRecordZoneChange::save({id, syncZoneID()}));
        state.add(changes);
        saved.state = state.serialization().toJsonObject();
    }
    StoreFile::save(path, saved);
}

// QUEUED = 0: a store without sync; 1: the app's own store, its sync engine keeping a change for every item.
void BM_EditWithSave(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("vellora.json");
    const bool queued = state.range(1) != 0;
    writeStore(path, int(state.range(0)), queued);
    const auto store = queued ? makeAppStore(path) : std::make_unique<DayStore>(optionsFor(path));
    const QString id = store->saved().items.begin()->first;
    for (auto _ : state)
        store->toggleDone(id);
    state.SetLabel(QString("%1 items").arg(store->saved().items.size()).toStdString());
}

void BM_Load(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("vellora.json");
    writeStore(path, int(state.range(0)));
    for (auto _ : state) {
        auto loaded = StoreFile::load(path);
        benchmark::DoNotOptimize(loaded);
    }
}

// What a launch reads: the file, parsed, made into the items and the sync engine's state. READER = 0: the program's
// own reader (simdjson); 1: the same values read with QJsonDocument. Run with random interleaving, so that the two
// take turns under the same load.
void BM_LoadBy(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("vellora.json");
    writeStore(path, int(state.range(0)), state.range(1) != 0);
    const bool qt = state.range(2) != 0;
    auto loadWithQt = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QtStoreReader::read(file.readAll()) : std::nullopt;
    };
    const auto own = StoreFile::load(path).saved;
    if (!own || loadWithQt() != own) {
        state.SkipWithError("the two readers do not read the same store");
        return;
    }
    for (auto _ : state) {
        if (qt) {
            auto loaded = loadWithQt();
            benchmark::DoNotOptimize(loaded);
        } else {
            auto loaded = StoreFile::load(path);
            benchmark::DoNotOptimize(loaded);
        }
    }
}

void BM_ItemsIn(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("vellora.json");
    writeStore(path, int(state.range(0)));
    DayStore store(optionsFor(path));
    for (auto _ : state)
        benchmark::DoNotOptimize(store.itemsIn(Block::small));
}

// The encoding part of a save: the whole store as the file's text.
void BM_EncodeOneChange(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("vellora.json");
    writeStore(path, int(state.range(0)));
    DayStore::Saved saved = *StoreFile::load(path).saved;
    DayItem &item = saved.items.begin()->second;
    for (auto _ : state) {
        item.done = !item.done;
        benchmark::DoNotOptimize(StoreFile::encode(saved));
    }
}

} // namespace

BENCHMARK(BM_EncodeOneChange)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EditWithSave)
    ->ArgsProduct({{100, 1000, 10000, 100000}, {0, 1}})
    ->ArgNames({"", "queued"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Load)->Arg(100)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadBy)
    ->ArgsProduct({{1000, 10000}, {0, 1}, {0, 1}})
    ->ArgNames({"", "queued", "qt"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ItemsIn)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
