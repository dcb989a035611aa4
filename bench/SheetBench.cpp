// The Today sheet and the Backlog page with a full sheet and a long Backlog: committing a row (store operation,
// file write, redraw) and opening the Backlog page. Runs on the offscreen platform.
#include "Vellora/DayData/DayStore.h"
#include "Vellora/Paper/Paper.h"
#include "Vellora/Paper/PaperSheet.h"
#include "Vellora/Sheet/BacklogView.h"
#include "Vellora/Sheet/SheetView.h"
#include "tests/Sheet/SheetWindow.h"
#include "Vellora/Sheet/SlotField.h"
#include "Vellora/Sheet/SlotRow.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// A store with a full sheet and `backlog` waiting items, in a file when a path is given.
std::unique_ptr<DayStore> makeStore(std::optional<QString> path, int backlog)
{
    DayStore::Options options;
    options.filePath = path;
    options.calendar = Calendar::inTimeZone("UTC");
    auto store = std::make_unique<DayStore>(std::move(options));
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-1);
    int n = 0;
    const auto put = [&](Block block, const QString &day) {
        DayItem item{
            newItemId(), QString("Task number %1 with a few words").arg(n), false, block, day, start.addSecs(n),
            std::nullopt};
        ++n;
        store->applyItem(item.id, item);
    };
    for (Block block : kAllBlocks) {
        for (int i = 0; i < capacity(block); ++i)
            put(block, store->day());
    }
    for (int i = 0; i < backlog; ++i)
        put(kAllBlocks[size_t(i % 3)], kOpenDay);
    store->save();
    return store;
}

void showAndSettle(QWidget &window)
{
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    QCoreApplication::processEvents();
}

// Editing a filled row and pressing Return: the title is stored, the file written, and the sheet redrawn before
// the next event is handled.
void BM_CommitRow(benchmark::State &state)
{
    QTemporaryDir dir;
    const bool withFile = state.range(1) != 0;
    auto store = makeStore(withFile ? std::optional(dir.filePath("vellora.json")) : std::nullopt, int(state.range(0)));
    SheetWindow window(*store);
    showAndSettle(window);
    SlotRow *row = window.sheet()->row("slot.3.1");
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        row->beginEditing();
        auto *field = window.findChild<SlotField *>("slot.3.1.field");
        field->setPlainText(QString("Renamed %1").arg(n++));
        QCoreApplication::processEvents();
        state.ResumeTiming();

        QTest::keyClick(field, Qt::Key_Return);
        QCoreApplication::processEvents(); // the redraw
    }
    state.SetLabel(withFile ? "store, file, redraw" : "store and redraw, no file");
}

// Opening the Backlog page for the first time: the page is made, filled from the store and drawn.
void BM_OpenBacklogFirstTime(benchmark::State &state)
{
    auto store = makeStore(std::nullopt, int(state.range(0)));
    for (auto _ : state) {
        PaperSheet page(new BacklogView(*store));
        page.resize(430, 760);
        showAndSettle(page);
        state.PauseTiming();
        page.hide();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}

// Switching to the Backlog page after the store changed while Today was shown.
void BM_SwitchToBacklog(benchmark::State &state)
{
    auto store = makeStore(std::nullopt, int(state.range(0)));
    SheetWindow window(*store);
    showAndSettle(window);
    const QString todayItem = store->itemsIn(Block::small).first().id;
    for (auto _ : state) {
        state.PauseTiming();
        window.showToday();
        store->toggleDone(todayItem);
        QCoreApplication::processEvents();
        state.ResumeTiming();

        window.showBacklog();
        QCoreApplication::processEvents();
    }
}

} // namespace

BENCHMARK(BM_CommitRow)->Args({0, 1})->Args({10000, 1})->Args({10000, 0})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenBacklogFirstTime)->Arg(0)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SwitchToBacklog)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Paper::setAnimationsEnabled(false);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
