#include "Cloud/RateLimiter.h"

#include <algorithm>
#include <cmath>

namespace Cloud {

RateLimiter::RateLimiter(double rate, double burst) : m_rate(std::max(rate, 0.001)), m_burst(std::max(burst, 1.0))
{
    m_clock.start();
}

int RateLimiter::take(qint64 user)
{
    const qint64 nowMs = m_clock.elapsed();
    auto found = m_buckets.find(user);
    if (found == m_buckets.end())
        found = m_buckets.insert(user, Bucket{m_burst, nowMs});
    Bucket &bucket = *found;
    bucket.tokens = std::min(m_burst, bucket.tokens + double(nowMs - bucket.lastMs) * m_rate / 1000.0);
    bucket.lastMs = nowMs;
    if (bucket.tokens >= 1.0) {
        bucket.tokens -= 1.0;
        return 0;
    }
    return std::max(1, int(std::ceil((1.0 - bucket.tokens) / m_rate)));
}

} // namespace Cloud
