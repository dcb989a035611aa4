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
    out += "# HELP vellora_cloud_requests_total Requests answered, by route.\n"
           "# TYPE vellora_cloud_requests_total counter\n";
    for (auto it = m_requests.cbegin(); it != m_requests.cend(); ++it)
        out += "vellora_cloud_requests_total{route=\"" + it.key().toUtf8() + "\"} " + QByteArray::number(*it) + '\n';
    out += "# HELP vellora_cloud_errors_total Requests refused or failed, by kind.\n"
           "# TYPE vellora_cloud_errors_total counter\n";
    for (auto it = m_errors.cbegin(); it != m_errors.cend(); ++it)
        out += "vellora_cloud_errors_total{kind=\"" + it.key().toUtf8() + "\"} " + QByteArray::number(*it) + '\n';
    out += "# HELP vellora_cloud_request_seconds Time to answer a request.\n"
           "# TYPE vellora_cloud_request_seconds histogram\n";
    for (size_t i = 0; i < kBuckets.size(); ++i)
        out += "vellora_cloud_request_seconds_bucket{le=\"" + QByteArray::number(kBuckets[i]) + "\"} " +
               QByteArray::number(m_bucketCounts[i]) + '\n';
    out += "vellora_cloud_request_seconds_bucket{le=\"+Inf\"} " + QByteArray::number(m_count) + '\n';
    out += "vellora_cloud_request_seconds_sum " + QByteArray::number(m_sum, 'f', 6) + '\n';
    out += "vellora_cloud_request_seconds_count " + QByteArray::number(m_count) + '\n';
    out += "# HELP vellora_cloud_push_sockets Open push sockets that signed in.\n"
           "# TYPE vellora_cloud_push_sockets gauge\n"
           "vellora_cloud_push_sockets " +
           QByteArray::number(pushSockets) + '\n';
    out += "# HELP vellora_cloud_database_bytes Size of the database; -1 when it cannot be read.\n"
           "# TYPE vellora_cloud_database_bytes gauge\n"
           "vellora_cloud_database_bytes " +
           QByteArray::number(databaseBytes) + '\n';
    return out;
}

} // namespace Cloud
