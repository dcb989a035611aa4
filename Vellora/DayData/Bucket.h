#pragma once

#include <QString>

#include <array>
#include <optional>

// The three blocks of the Today sheet, in sheet order. The raw value is the block's number of rows.
enum class Bucket { big, medium, small };

inline constexpr std::array<Bucket, 3> kAllBuckets{Bucket::big, Bucket::medium, Bucket::small};

QString rawValue(Bucket bucket);
// Exactly "1", "3" or "5"; any other text names no bucket.
std::optional<Bucket> bucketFromRawValue(const QString &raw);

constexpr int capacity(Bucket bucket)
{
    switch (bucket) {
    case Bucket::big:
        return 1;
    case Bucket::medium:
        return 3;
    case Bucket::small:
        return 5;
    }
    return 0;
}

// Rows of the whole sheet: 1 + 3 + 5.
inline constexpr int kSheetRowCount = 9;
