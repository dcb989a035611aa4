#include "Vellora/DayData/Bucket.h"

QString rawValue(Bucket bucket)
{
    return QString::number(capacity(bucket));
}

std::optional<Bucket> bucketFromRawValue(const QString &raw)
{
    for (Bucket bucket : kAllBuckets) {
        if (raw == rawValue(bucket))
            return bucket;
    }
    return std::nullopt;
}
