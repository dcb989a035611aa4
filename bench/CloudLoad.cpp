// A load generator for the sync server: requests at a fixed rate from several keep-alive connections, each answer's
// latency counted from the moment its request was due, so that a server that falls behind is not hidden by the
// generator waiting for it; or back to back, for the most requests a second the server answers. Starts its own
// server (SQLite, loopback), prints one line per figure and stops by itself.
//
//     bench_cloud_load [--seconds N]      (N seconds per figure, 5 by default; other arguments are ignored)
#include "SyncKit/CloudProtocol.h"

#include "bench/BenchServer.h"
#include "bench/Percentile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace SyncKit;

namespace {

const RecordZoneID kZone{QStringLiteral("Vellora")};

struct Outcome
{
    QList<double> latenciesMs;
    int failures = 0;
    double seconds = 0;
};

class Load
{
public:
    Load(quint16 port, QByteArray path, QByteArray token, QList<QByteArray> bodies, int connections)
        : m_port(port), m_path(std::move(path)), m_token(std::move(token)), m_bodies(std::move(bodies)),
          m_connectionCount(connections)
    {
    }

    // `rate` requests a second for `seconds`, or back to back when the rate is 0.
    Outcome run(double rate, double seconds)
    {
        m_rate = rate;
        m_total = rate > 0 ? qint64(rate * seconds) : std::numeric_limits<qint64>::max();
        m_seconds = seconds;
        for (int i = 0; i < m_connectionCount; ++i) {
            auto connection = std::make_unique<Connection>();
            connection->socket.connectToHost(QStringLiteral("127.0.0.1"), m_port);
            if (!connection->socket.waitForConnected(10000)) {
                std::fprintf(stderr, "bench_cloud_load: cannot connect\n");
                m_outcome.failures = 1;
                return m_outcome;
            }
            Connection *raw = connection.get();
            QObject::connect(&raw->socket, &QTcpSocket::readyRead, [this, raw] { received(*raw); });
            QObject::connect(&raw->socket, &QTcpSocket::disconnected, [this, raw] {
                if (raw->busy)
                    ++m_outcome.failures;
                raw->busy = false;
                m_loop.quit();
            });
            m_connections.push_back(std::move(connection));
        }
        QTimer pump;
        pump.setTimerType(Qt::PreciseTimer);
        QObject::connect(&pump, &QTimer::timeout, [this] { send(); });
        pump.start(1);
        // A server that cannot keep up still gets a while to answer what was sent.
        QTimer::singleShot(int(seconds * 1000) + 10000, &m_loop, &QEventLoop::quit);
        m_clock.start();
        send();
        m_loop.exec();
        m_outcome.seconds = double(m_clock.nsecsElapsed()) / 1e9;
        return m_outcome;
    }

private:
    struct Connection
    {
        QTcpSocket socket;
        QByteArray buffer;
        bool busy = false;
        double dueMs = 0;
    };

    double nowMs() const { return double(m_clock.nsecsElapsed()) / 1e6; }

    bool finished() const
    {
        if (m_rate > 0)
            return m_sent == m_total;
        return nowMs() >= m_seconds * 1000;
    }

    void send()
    {
        for (const auto &connection : m_connections) {
            if (connection->busy || finished())
                continue;
            const double due = m_rate > 0 ? double(m_sent) * 1000.0 / m_rate : nowMs();
            if (due > nowMs())
                return;
            const QByteArray &body = m_bodies[m_sent % m_bodies.size()];
            const QByteArray request = "POST " + m_path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " +
                                       m_token + "\r\nContent-Type: application/json\r\nContent-Length: " +
                                       QByteArray::number(body.size()) + "\r\n\r\n" + body;
            connection->busy = true;
            connection->dueMs = due;
            ++m_sent;
            if (connection->socket.write(request) != request.size())
                ++m_outcome.failures;
        }
        if (finished() && std::none_of(m_connections.begin(), m_connections.end(),
                                       [](const auto &connection) { return connection->busy; }))
            m_loop.quit();
    }

    void received(Connection &connection)
    {
        connection.buffer += connection.socket.readAll();
        const qsizetype headEnd = connection.buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        qsizetype length = 0;
        const QByteArray head = connection.buffer.left(headEnd).toLower();
        const qsizetype at = head.indexOf("content-length:");
        if (at >= 0)
            length = head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
        if (connection.buffer.size() < headEnd + 4 + length)
            return;
        if (!connection.buffer.startsWith("HTTP/1.1 200"))
            ++m_outcome.failures;
        connection.buffer.remove(0, headEnd + 4 + length);
        m_outcome.latenciesMs.append(nowMs() - connection.dueMs);
        connection.busy = false;
        send();
    }

    quint16 m_port;
    QByteArray m_path;
    QByteArray m_token;
    QList<QByteArray> m_bodies;
    int m_connectionCount;
    std::vector<std::unique_ptr<Connection>> m_connections;
    QEventLoop m_loop;
    QElapsedTimer m_clock;
    double m_rate = 0;
    double m_seconds = 0;
    qint64 m_total = 0;
    qint64 m_sent = 0;
    Outcome m_outcome;
};

int report(const char *what, const Outcome &outcome, double rate)
{
    const double achieved = double(outcome.latenciesMs.size()) / outcome.seconds;
    std::printf("%-44s %8.0f/s asked %8.1f/s answered  p50 %7.2f ms  p99 %7.2f ms  max %7.2f ms  %d failed\n", what,
                rate, achieved, percentile(outcome.latenciesMs, 0.5), percentile(outcome.latenciesMs, 0.99),
                percentile(outcome.latenciesMs, 1.0), outcome.failures);
    return outcome.failures;
}

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Bodies of saves of `size` new records each, as the app sends its items.
QList<QByteArray> saves(const QString &prefix, int requests, int size)
{
    QList<QByteArray> bodies;
    for (int request = 0; request < requests; ++request) {
        QList<Record> records;
        for (int i = 0; i < size; ++i) {
            Record record(QStringLiteral("DayItem"), RecordID{QStringLiteral("%1-%2-%3").arg(prefix).arg(request).arg(i),
                                                              kZone});
            record.setValue("title", QStringLiteral("A task of an ordinary length, number %1").arg(i));
            record.setValue("done", qint64(0));
            record.setValue("bucket", QStringLiteral("3"));
            record.setValue("day", QStringLiteral("2026-12-07"));
            record.setValue("modifiedAt", QDateTime::currentDateTimeUtc());
            records.append(record);
        }
        bodies.append(json(CloudProtocol::ModifyRecordsRequest::toJson(records, {})));
    }
    return bodies;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const qsizetype secondsAt = arguments.indexOf(QStringLiteral("--seconds"));
    const double seconds = secondsAt > 0 ? arguments.value(secondsAt + 1).toDouble() : 5;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: bench_cloud_load [--seconds N]\n");
        return 2;
    }
    BenchServer server;
    if (!server.start())
        return 1;
    const QByteArray token = server.token.toLatin1();
    const QByteArray zones = json(CloudProtocol::ModifyZonesRequest{{kZone}, {}}.toJson());
    if (Load(server.port, CloudProtocol::kModifyZonesPath, token, {zones}, 1).run(1, 1).failures)
        return 1;

    // An empty fetch: the database's changes since now, as a device asks after every push.
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), server.port);
    probe.waitForConnected();
    probe.write("POST " + QByteArray(CloudProtocol::kDatabaseChangesPath) + " HTTP/1.1\r\nAuthorization: Bearer " +
                token + "\r\nContent-Length: 2\r\n\r\n{}");
    QByteArray answer;
    while (!answer.contains("}") && probe.waitForReadyRead(10000))
        answer += probe.readAll();
    const QByteArray current =
        QJsonDocument::fromJson(answer.mid(answer.indexOf("\r\n\r\n") + 4)).object().value("changeToken").toString().toLatin1();
    const QByteArray emptyFetch = json(CloudProtocol::DatabaseChangesRequest{current}.toJson());

    int failures = 0;
    const QByteArray fetchPath = CloudProtocol::kDatabaseChangesPath;
    const QByteArray savePath = CloudProtocol::kModifyRecordsPath;
    failures += report("empty fetch, 8 connections",
                       Load(server.port, fetchPath, token, {emptyFetch}, 8).run(1000, seconds), 1000);
    failures += report("one-record save, 4 connections",
                       Load(server.port, savePath, token, saves("one", int(200 * seconds), 1), 4).run(200, seconds),
                       200);
    failures += report("400-record save, 2 connections",
                       Load(server.port, savePath, token, saves("many", int(2 * seconds), 400), 2).run(2, seconds), 2);
    const Outcome saturated = Load(server.port, fetchPath, token, {emptyFetch}, 8).run(0, seconds);
    failures += report("empty fetch back to back, 8 connections", saturated, 0);
    if (failures)
        std::fprintf(stderr, "bench_cloud_load: %d requests failed\n", failures);
    return failures ? 1 : 0;
}
