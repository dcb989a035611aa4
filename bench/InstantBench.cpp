// A change's way from one computer to another through a vellora-cloud on loopback: from the moment the DayStore
// operation on the first computer returns until the second computer's store holds it. Each computer is what the app
// runs: a store with its own file, its engine, and an account file of its own, with the push channel open. Two pairs
// of computers take turns, change by change: one with the engine's timing as it is, one with the timing of before
// as a baseline; each pair is a user of its own, so that neither hears the other's pushes. Prints the median and p95
// of each; `--changes N` (100 by default), other arguments are ignored so that bench/run-all can pass its options.
#include "Vellora/Sync/AppStore.h"
#include "Vellora/Sync/AppSync.h"

#include "bench/BenchServer.h"
#include "bench/Percentile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

using namespace SyncKit;
using namespace std::chrono_literals;

namespace {

// The account file is written before the cloud that follows it is made.
struct Computer
{
    Computer(const QString &folder, const CloudAccount &account, SyncEngine::Timing timing)
        : accountWritten(account.writeFile(folder + QStringLiteral("/account.json")))
        , sync(folder + QStringLiteral("/account.json"))
    {
        SyncSetup setup = sync.setup();
        setup.timing = timing;
        store = makeAppStore(folder + QStringLiteral("/vellora.json"), setup);
        sync.attach(*store);
    }

    bool isIdle() { return !store->engine()->isWorking() && !store->engine()->isScheduled(); }

    bool accountWritten;
    AppSync sync;
    std::unique_ptr<AppStore> store;
};

struct Pair
{
    const char *name;
    std::unique_ptr<Computer> first;
    std::unique_ptr<Computer> second;
    QString itemId;
    QList<double> times;
};

// Runs the event loop until `done` holds or `limit` has passed; whether it holds.
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limit.count()) {
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

// The time from the commit on the first computer until the second's store holds the title; -1 when it never did.
double carry(Pair &pair, const QString &title)
{
    AppStore &receiver = *pair.second->store;
    const QString id = pair.itemId;
    QEventLoop arrived;
    const auto holds = [&receiver, &id, &title] {
        const auto item = receiver.item(id);
        return item && item->title == title;
    };
    // Heard as the store changes, not polled: the figure ends when the views would hear of it.
    const auto connection = QObject::connect(&receiver, &DayStore::savedChanged, &arrived, [&] {
        if (holds())
            arrived.quit();
    });
    QTimer::singleShot(10s, &arrived, &QEventLoop::quit);
    QElapsedTimer timer;
    pair.first->store->updateTitle(id, title);
    timer.start();
    if (!holds())
        arrived.exec();
    const double elapsed = double(timer.nsecsElapsed()) / 1e6;
    QObject::disconnect(connection);
    return holds() ? elapsed : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const qsizetype changesAt = arguments.indexOf(QStringLiteral("--changes"));
    const int changes = changesAt > 0 ? arguments.value(changesAt + 1).toInt() : 100;
    BenchServer server;
    if (changes <= 0 || !server.start({QStringLiteral("bert")}))
        return 1;
    QTemporaryDir folder;
    SyncEngine::Timing before;
    before.sendDelay = 500ms;
    before.fetchDelay = 100ms;
    Pair pairs[] = {{"now", {}, {}, {}, {}}, {"as before (500 ms send delay, 100 ms fetch delay)", {}, {}, {}, {}}};
    const QStringList users{QStringLiteral("anna"), QStringLiteral("bert")};
    for (int i = 0; i < 2; ++i) {
        const CloudAccount account{server.url(), users[i], server.tokens.value(users[i])};
        const SyncEngine::Timing timing = i == 0 ? SyncEngine::Timing{} : before;
        for (const char *name : {"first", "second"})
            QDir(folder.path()).mkpath(QStringLiteral("%1/%2").arg(users[i], name));
        pairs[i].first = std::make_unique<Computer>(folder.filePath(users[i] + "/first"), account, timing);
        pairs[i].second = std::make_unique<Computer>(folder.filePath(users[i] + "/second"), account, timing);
        if (!pairs[i].first->accountWritten || !pairs[i].second->accountWritten)
            return 1;
        const auto added = pairs[i].first->store->addItem(QStringLiteral("Carried across"), Block::small);
        if (!added)
            return 1;
        pairs[i].itemId = added->id;
        if (!waitUntil([&] { return pairs[i].second->store->item(added->id).has_value(); }, 20s)) {
            std::fprintf(stderr, "the second computer of %s never had the first task\n", qPrintable(users[i]));
            return 1;
        }
    }

    int failures = 0;
    for (int change = 0; change < changes; ++change) {
        for (Pair &pair : pairs) {
            // Each change meets computers with nothing under way, as a person's next edit does.
            const bool idle = waitUntil(
                [&] {
                    return std::all_of(std::begin(pairs), std::end(pairs),
                                       [](Pair &each) { return each.first->isIdle() && each.second->isIdle(); });
                },
                10s);
            waitUntil([] { return false; }, 30ms);
            const double time = carry(pair, QStringLiteral("Change %1").arg(change));
            failures += !idle || time < 0;
            if (time >= 0)
                pair.times.append(time);
        }
    }
    std::printf("%d changes each, in turns; from the commit on one computer until the other's store holds it\n",
                changes);
    for (const Pair &pair : pairs) {
        std::printf("%-52s median %7.1f ms   p95 %7.1f ms   min %7.1f ms   max %7.1f ms\n", pair.name,
                    percentile(pair.times, 0.5), percentile(pair.times, 0.95), percentile(pair.times, 0),
                    percentile(pair.times, 1));
    }
    if (failures)
        std::fprintf(stderr, "bench_instant: %d changes did not arrive, or met work under way\n", failures);
    return failures ? 1 : 0;
}
