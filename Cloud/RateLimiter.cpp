#include "Cloud/RateLimiter.h"

#include <algorithm>
#include <cmath>

namespace Cloud {

RateLimiter::RateLimiter(double rate, double burst) : m_rate(std::max(rate, 0.001)), m_burst(std::max(burst, 1.0))
{
    m_clock.start();
}

int RateLimiter::take(const QByteArray &key)
{
    const qint64 nowMs = m_clock.elapsed();
    auto found = m_buckets.find(key);
    if (found == m_buckets.end()) {
        if (m_buckets.size() >= m_sweepAt)
            forgetFullBuckets(nowMs);
        found = m_buckets.insert(key, Bucket{m_burst, nowMs});
    }
    Bucket &bucket = *found;
    bucket.tokens = std::min(m_burst, bucket.tokens + double(nowMs - bucket.lastMs) * m_rate / 1000.0);
    bucket.lastMs = nowMs;
    if (bucket.tokens >= 1.0) {
        bucket.tokens -= 1.0;
        return 0;
    }
    return std::max(1, int(std::ceil((1.0 - bucket.tokens) / m_rate)));
}

namespace {

bool isTrusted(const QHostAddress &address, const QList<QHostAddress> &trustedProxies)
{
    return std::any_of(trustedProxies.begin(), trustedProxies.end(),
                       [&](const QHostAddress &proxy) { return proxy.isEqual(address, QHostAddress::TolerantConversion); });
}

} // namespace

QByteArray RateLimiter::peerKey(const QHostAddress &peer, const QByteArray &forwardedFor,
                                const QList<QHostAddress> &trustedProxies)
{
    QHostAddress key = peer;
    if (isTrusted(peer, trustedProxies)) {
        const QList<QByteArray> hops = forwardedFor.split(',');
        for (auto hop = hops.rbegin(); hop != hops.rend(); ++hop) {
            QHostAddress address;
            // What a trusted proxy cannot vouch for counts as the proxy's own request.
            if (!address.setAddress(QString::fromLatin1(hop->trimmed())))
                break;
            key = address;
            if (!isTrusted(address, trustedProxies))
                break;
        }
    }
    return key.toString().toLatin1();
}

void RateLimiter::forgetFullBuckets(qint64 nowMs)
{
    m_buckets.removeIf([&](const auto &entry) {
        return entry.value().tokens + double(nowMs - entry.value().lastMs) * m_rate / 1000.0 >= m_burst;
    });
    // Sweeping again only once the table has doubled keeps the cost of each request constant on average.
    m_sweepAt = std::max<qsizetype>(1024, m_buckets.size() * 2);
}

} // namespace Cloud
