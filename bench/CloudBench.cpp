// Figures of the sync server on this machine: a vellora-cloud process on loopback with SQLite, driven through
// HttpCloud one request at a time, and devices hearing each other through push. Prints one line per figure and stops
// by itself; --bulk-only stops after the 10,000 changes (bench/sync-at-load.sh); other arguments are ignored so that
// bench/run-all can pass its Google Benchmark options.
#include "SyncKit/CloudProtocol.h"
#include "SyncKit/HttpCloud.h"

#include "bench/BenchServer.h"
#include "bench/Percentile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSet>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <functional>

#include <sys/resource.h>
#include <cstdio>

using namespace SyncKit;

namespace {

const RecordZoneID kZone{QStringLiteral("Vellora")};

template<typename T, typename Call> CloudResult<T> await(Call call)
{
    std::optional<CloudResult<T>> out;
    QEventLoop loop;
    call([&](CloudResult<T> result) {
        out = std::move(result);
        loop.quit();
    });
    if (!out)
        loop.exec();
    return *out;
}

Record item(int number)
{
    Record record(QStringLiteral("DayItem"), RecordID{QStringLiteral("item-%1").arg(number), kZone});
    record.setValue("title", QStringLiteral("A task of an ordinary length, number %1").arg(number));
    record.setValue("bucket", qint64(number % 4));
    record.setValue("modifiedAt", QDateTime::currentDateTimeUtc());
    return record;
}

double ownCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

void report(const char *what, double value, const char *unit)
{
    std::printf("%-58s %10.2f %s\n", what, value, unit);
}

void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// One record saved by a device, until another device that hears of it through push has fetched it: the median of
// rounds a little apart. Then a thousand push sockets of the user open at once, and the server's memory.
int pushFigures(const CloudAccount &account, const BenchServer &server)
{
    int failures = 0;
    HttpCloud writer(CloudAccount{account.server, {}, {}});
    HttpCloud reader(account);
    QElapsedTimer timer;
    timer.start();
    while (!reader.isPushConnected() && timer.elapsed() < 10000)
        waitMs(5);
    // The reader fetches on every push, one fetch at a time, as a device does.
    QByteArray token =
        await<ZoneChanges>([&](auto done) { reader.fetchZoneChanges(account, kZone, {}, 0, done); }).value().changeToken;
    QSet<QString> seen;
    bool fetching = false;
    bool again = false;
    std::function<void()> fetch = [&] {
        if (fetching) {
            again = true;
            return;
        }
        fetching = true;
        reader.fetchZoneChanges(account, kZone, token, 0, [&](CloudResult<ZoneChanges> page) {
            fetching = false;
            if (page.ok()) {
                token = page.value().changeToken;
                for (const Record &record : page.value().modifications)
                    seen.insert(record.recordID().recordName);
            }
            if (std::exchange(again, false) || (page.ok() && page.value().moreComing))
                fetch();
        });
    };
    QObject::connect(&reader, &CloudDatabase::databaseChanged, fetch);
    QList<double> latencies;
    for (int round = 0; round < 100; ++round) {
        waitMs(20);
        const QString name = QStringLiteral("pushed-%1").arg(round);
        timer.restart();
        Record record(QStringLiteral("DayItem"), RecordID{name, kZone});
        record.setValue("title", QStringLiteral("Heard through push"));
        writer.modifyRecords(account, {record}, {}, [&](CloudResult<ModifyRecordsResult> result) {
            failures += !result.ok();
        });
        while (!seen.contains(name) && timer.elapsed() < 10000)
            waitMs(1);
        failures += !seen.contains(name);
        latencies.append(double(timer.nsecsElapsed()) / 1e6);
    }
    report("push: saved on one device until fetched by another, median", percentile(latencies, 0.5), "ms");
    report("push: saved on one device until fetched by another, p99", percentile(latencies, 0.99), "ms");

    const double before = server.residentMiB();
    constexpr int kSockets = 1000;
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    int ready = 0;
    int changed = 0;
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1%2").arg(server.port).arg(CloudProtocol::kPushPath));
    for (int i = 0; i < kSockets; ++i) {
        auto socket = std::make_unique<QWebSocket>();
        QWebSocket *raw = socket.get();
        QObject::connect(raw, &QWebSocket::connected,
                         [raw, &account] { raw->sendTextMessage(QString::fromUtf8(CloudProtocol::pushHello(account.token))); });
        QObject::connect(raw, &QWebSocket::textMessageReceived, [&](const QString &message) {
            ready += message == QLatin1String(CloudProtocol::kPushReady);
            changed += message == QLatin1String(CloudProtocol::kPushChanged);
        });
        raw->open(url);
        sockets.push_back(std::move(socket));
    }
    timer.restart();
    while (ready < kSockets && timer.elapsed() < 60000)
        waitMs(10);
    report("1,000 push sockets signed in, seconds to open them all", double(timer.elapsed()) / 1000, "s");
    report("server resident memory before them", before, "MiB");
    report("server resident memory with them", server.residentMiB(), "MiB");
    timer.restart();
    writer.modifyRecords(account, {Record(QStringLiteral("DayItem"), RecordID{QStringLiteral("to-all"), kZone})}, {},
                         [&](CloudResult<ModifyRecordsResult> result) { failures += !result.ok(); });
    while (changed < kSockets && timer.elapsed() < 30000)
        waitMs(1);
    report("one save until all 1,000 sockets heard of it", double(timer.nsecsElapsed()) / 1e6, "ms");
    failures += ready != kSockets || changed != kSockets;
    return failures;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    BenchServer server;
    if (!server.start())
        return 1;
    const CloudAccount account{server.url(), "anna", server.token};
    HttpCloud cloud(CloudAccount{account.server, {}, {}});
    int failures = 0;
    await<ModifyZonesResult>([&](auto done) { cloud.modifyZones(account, {kZone}, {}, done); });

    // 10,000 changes sent in requests of 400, then fetched by another device in pages.
    QElapsedTimer timer;
    const double cpuBefore = server.cpuMs();
    const double ownBefore = ownCpuMs();
    timer.start();
    for (int start = 0; start < 10000; start += 400) {
        QList<Record> batch;
        for (int i = start; i < start + 400; ++i)
            batch.append(item(i));
        const auto sent = await<ModifyRecordsResult>([&](auto done) { cloud.modifyRecords(account, batch, {}, done); });
        failures += !sent.ok() || sent.value().savedRecords.size() != 400;
    }
    const double sendMs = double(timer.nsecsElapsed()) / 1e6;
    const double sendCpuMs = server.cpuMs() - cpuBefore;
    const double sendOwnMs = ownCpuMs() - ownBefore;
    timer.restart();
    QByteArray zoneToken;
    qsizetype fetched = 0;
    for (bool more = true; more;) {
        const auto page =
            await<ZoneChanges>([&](auto done) { cloud.fetchZoneChanges(account, kZone, zoneToken, 0, done); });
        if (!page.ok()) {
            ++failures;
            break;
        }
        fetched += page.value().modifications.size();
        zoneToken = page.value().changeToken;
        more = page.value().moreComing;
    }
    const double fetchMs = double(timer.nsecsElapsed()) / 1e6;
    const double fetchCpuMs = server.cpuMs() - cpuBefore - sendCpuMs;
    failures += fetched != 10000;
    report("10,000 changes sent (25 requests of 400)", sendMs, "ms");
    report("10,000 changes fetched by a second device (pages of 1,000)", fetchMs, "ms");
    report("  of which the server's processor time, sending", sendCpuMs, "ms");
    report("  of which the server's processor time, fetching", fetchCpuMs, "ms");
    report("  the client's processor time, sending (records made, JSON)", sendOwnMs, "ms");
    report("10,000 changes sent and fetched, end to end", sendMs + fetchMs, "ms");
    if (app.arguments().contains(QStringLiteral("--bulk-only")))
        return failures == 0 ? 0 : 1;

    QList<double> single;
    for (int i = 0; i < 300; ++i) {
        timer.restart();
        const auto saved =
            await<ModifyRecordsResult>([&](auto done) { cloud.modifyRecords(account, {item(20000 + i)}, {}, done); });
        single.append(double(timer.nsecsElapsed()) / 1e6);
        failures += !saved.ok();
    }
    report("one-record save, median", percentile(single, 0.5), "ms");
    report("one-record save, p99", percentile(single, 0.99), "ms");

    QList<double> large;
    for (int round = 0; round < 30; ++round) {
        QList<Record> batch;
        for (int i = 0; i < 400; ++i)
            batch.append(item(30000 + round * 400 + i));
        timer.restart();
        const auto saved =
            await<ModifyRecordsResult>([&](auto done) { cloud.modifyRecords(account, batch, {}, done); });
        large.append(double(timer.nsecsElapsed()) / 1e6);
        failures += !saved.ok();
    }
    report("400-record save, median", percentile(large, 0.5), "ms");
    report("400-record save, p99", percentile(large, 0.99), "ms");

    const QByteArray current =
        await<DatabaseChanges>([&](auto done) { cloud.fetchDatabaseChanges(account, {}, done); }).value().changeToken;
    QList<double> empty;
    timer.restart();
    QElapsedTimer each;
    for (int i = 0; i < 1000; ++i) {
        each.start();
        const auto changes =
            await<DatabaseChanges>([&](auto done) { cloud.fetchDatabaseChanges(account, current, done); });
        empty.append(double(each.nsecsElapsed()) / 1e6);
        failures += !changes.ok();
    }
    report("empty fetch, one client back to back: requests per second", 1000.0 / (timer.nsecsElapsed() / 1e9), "/s");
    report("empty fetch, p99", percentile(empty, 0.99), "ms");

    failures += pushFigures(account, server);
    if (failures)
        std::fprintf(stderr, "bench_cloud: %d requests failed\n", failures);
    return failures ? 1 : 0;
}
