#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>

namespace Cloud {

// A bucket per key (a user, a peer's address) that fills at `rate` requests a second up to `burst`; a request
// takes one from it. Full buckets are forgotten now and then, so that many keys seen once cost no memory.
class RateLimiter
{
public:
    RateLimiter(double rate, double burst);

    // Zero when the key has a request left, and takes it; else the seconds after which it has one.
    int take(const QByteArray &key);

    // The key of the peer a request came from: its address, or when that is one of the proxies the server was told
    // to trust, the last address in X-Forwarded-For that is not such a proxy (each proxy adds the address it saw).
    // Any other peer's X-Forwarded-For is ignored, so that no client chooses its own key.
    static QByteArray peerKey(const QHostAddress &peer, const QByteArray &forwardedFor,
                              const QList<QHostAddress> &trustedProxies);

private:
    struct Bucket
    {
        double tokens = 0;
        qint64 lastMs = 0;
    };

    void forgetFullBuckets(qint64 nowMs);

    double m_rate;
    double m_burst;
    QElapsedTimer m_clock;
    QHash<QByteArray, Bucket> m_buckets;
    qsizetype m_sweepAt = 1024;
};

} // namespace Cloud
