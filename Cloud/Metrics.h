#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <array>

namespace Cloud {

// What the server has done since it started, in the Prometheus text format: requests by route, refusals by kind,
// the time requests took, and the gauges the caller reads at the moment of asking.
class Metrics
{
public:
    void record(const QString &route, int status, const QString &errorKind, double seconds);
    QByteArray text(int pushSockets, qint64 databaseBytes) const;

private:
    static constexpr std::array<double, 9> kBuckets{0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 1.0};

    QMap<QString, qint64> m_requests; // route -> count
    QMap<QString, qint64> m_errors;   // kind -> count
    std::array<qint64, kBuckets.size()> m_bucketCounts{};
    qint64 m_count = 0;
    double m_sum = 0;
};

} // namespace Cloud
