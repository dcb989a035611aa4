#pragma once

#include <QList>

#include <algorithm>

// The value below which `share` of the values lie (0.5: the median); 0 for none.
inline double percentile(QList<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[std::min<qsizetype>(values.size() - 1, qsizetype(share * values.size()))];
}
