#include "Vellora/DayData/SheetText.h"

#include <QRegularExpression>

QString blockHeading(Bucket bucket)
{
    switch (bucket) {
    case Bucket::big:
        return QStringLiteral("BIG");
    case Bucket::medium:
        return QStringLiteral("MEDIUM");
    case Bucket::small:
        return QStringLiteral("SMALL");
    }
    return {};
}

QString blockName(Bucket bucket)
{
    return blockHeading(bucket).toLower();
}

std::optional<Bucket> bucketFromBlockName(const QString &name)
{
    for (Bucket bucket : kAllBuckets) {
        if (name == blockName(bucket))
            return bucket;
    }
    return std::nullopt;
}

QString blockPlaceholder(Bucket bucket)
{
    switch (bucket) {
    case Bucket::big:
        return QStringLiteral("Big\u2026");
    case Bucket::medium:
        return QStringLiteral("Medium\u2026");
    case Bucket::small:
        return QStringLiteral("Small\u2026");
    }
    return {};
}

QString slotId(Bucket bucket, int row)
{
    return QStringLiteral("slot.%1.%2").arg(rawValue(bucket)).arg(row);
}

std::optional<std::pair<Bucket, int>> parseSlotId(const QString &text)
{
    static const QRegularExpression form(QStringLiteral(R"(^(?:slot\.)?([135])\.(\d)$)"));
    const auto match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return std::pair{*bucketFromRawValue(match.captured(1)), match.captured(2).toInt()};
}

QString itemCountText(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 item") : QStringLiteral("%1 items").arg(count);
}
