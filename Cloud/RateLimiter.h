#pragma once

#include <QElapsedTimer>
#include <QHash>

namespace Cloud {

// A bucket per user that fills at `rate` requests a second up to `burst`; a request takes one from it.
class RateLimiter
{
public:
    RateLimiter(double rate, double burst);

    // Zero when the request may go ahead, else the seconds after which it may.
    int take(qint64 user);

private:
    struct Bucket
    {
        double tokens = 0;
        qint64 lastMs = 0;
    };

    double m_rate;
    double m_burst;
    QElapsedTimer m_clock;
    QHash<qint64, Bucket> m_buckets;
};

} // namespace Cloud
