#include "Cloud/Metrics.h"

namespace Cloud {

void Metrics::record(const QString &route, int status, const QString &errorKind, double seconds)
{
    ++m_requests[route];
    if (status >= 400)
        ++m_errors[errorKind.isEmpty() ? QStringLiteral("http%1").arg(status) : errorKind];
    for (size_t i = 0; i < kBuckets.size(); ++i) {
        if (seconds <= kBuckets[i])
            ++m_bucketCounts[i];
    }
    ++m_count;
    m_sum += seconds;
}

QByteArray Metrics::text(int pushSockets, qint64 databaseBytes) const
{
    QByteArray out;
    const auto family = [&](const char *name, const char *help, const char *type) {
        out += QByteArray("# HELP vellora_cloud_") + name + ' ' + help + "\n# TYPE vellora_cloud_" + name + ' ' + type +
               '\n';
    };
    const auto sample = [&](const char *name, const QByteArray &labels, const QByteArray &value) {
        out += QByteArray("vellora_cloud_") + name + labels + ' ' + value + '\n';
    };
    family("requests_total", "Requests answered, by route.", "counter");
    for (auto it = m_requests.cbegin(); it != m_requests.cend(); ++it)
        sample("requests_total", "{route=\"" + it.key().toUtf8() + "\"}", QByteArray::number(*it));
    family("errors_total", "Requests refused or failed, by kind.", "counter");
    for (auto it = m_errors.cbegin(); it != m_errors.cend(); ++it)
        sample("errors_total", "{kind=\"" + it.key().toUtf8() + "\"}", QByteArray::number(*it));
    family("request_seconds", "Time to answer a request.", "histogram");
    for (size_t i = 0; i < kBuckets.size(); ++i)
        sample("request_seconds_bucket", "{le=\"" + QByteArray::number(kBuckets[i]) + "\"}",
               QByteArray::number(m_bucketCounts[i]));
    sample("request_seconds_bucket", "{le=\"+Inf\"}", QByteArray::number(m_count));
    sample("request_seconds_sum", {}, QByteArray::number(m_sum, 'f', 6));
    sample("request_seconds_count", {}, QByteArray::number(m_count));
    family("push_sockets", "Open push sockets that signed in.", "gauge");
    sample("push_sockets", {}, QByteArray::number(pushSockets));
    family("database_bytes", "Size of the database; -1 when it cannot be read.", "gauge");
    sample("database_bytes", {}, QByteArray::number(databaseBytes));
    return out;
}

} // namespace Cloud
