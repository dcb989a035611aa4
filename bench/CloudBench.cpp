// Figures of the sync server on this machine: a vellora-cloud process on loopback with SQLite, driven through
// HttpCloud one request at a time. Prints one line per figure and stops by itself; other arguments are ignored so
// that bench/run-all can pass its Google Benchmark options.
#include "SyncKit/HttpCloud.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
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

double percentile(QList<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[std::min<qsizetype>(values.size() - 1, qsizetype(share * values.size()))];
}

void report(const char *what, double value, const char *unit)
{
    std::printf("%-58s %10.2f %s\n", what, value, unit);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir data;
    const QString binary = QStringLiteral(VELLORA_CLOUD_BINARY);
    QProcess add;
    add.start(binary, {"user", "add", "anna", "--data", data.path()});
    add.waitForFinished();
    const QString token = QString::fromUtf8(add.readAllStandardOutput()).trimmed();
    QProcess server;
    server.start(binary, {"serve", "--listen", "127.0.0.1:0", "--data", data.path(), "--rate-limit", "100000/100000"});
    QByteArray output;
    const QRegularExpression listening(QStringLiteral("127\\.0\\.0\\.1:(\\d+)"));
    while (!listening.match(QString::fromUtf8(output)).hasMatch() && server.waitForReadyRead(10000))
        output += server.readAllStandardOutput();
    const auto match = listening.match(QString::fromUtf8(output));
    if (token.isEmpty() || !match.hasMatch()) {
        std::fprintf(stderr, "bench_cloud: the server did not start\n");
        return 1;
    }
    const CloudAccount account{QStringLiteral("http://127.0.0.1:%1").arg(match.captured(1)), "anna", token};
    HttpCloud cloud(CloudAccount{account.server, {}, {}});
    int failures = 0;
    await<ModifyZonesResult>([&](auto done) { cloud.modifyZones(account, {kZone}, {}, done); });

    // 10,000 changes sent in requests of 400, then fetched by another device in pages.
    QElapsedTimer timer;
    timer.start();
    for (int start = 0; start < 10000; start += 400) {
        QList<Record> batch;
        for (int i = start; i < start + 400; ++i)
            batch.append(item(i));
        const auto sent = await<ModifyRecordsResult>([&](auto done) { cloud.modifyRecords(account, batch, {}, done); });
        failures += !sent.ok() || sent.value().savedRecords.size() != 400;
    }
    const double sendMs = double(timer.nsecsElapsed()) / 1e6;
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
    failures += fetched != 10000;
    report("10,000 changes sent (25 requests of 400)", sendMs, "ms");
    report("10,000 changes fetched by a second device (pages of 1,000)", fetchMs, "ms");

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

    server.terminate();
    if (!server.waitForFinished(5000))
        server.kill();
    if (failures)
        std::fprintf(stderr, "bench_cloud: %d requests failed\n", failures);
    return failures ? 1 : 0;
}
