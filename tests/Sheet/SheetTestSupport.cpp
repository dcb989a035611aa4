#include "SheetTestSupport.h"

namespace SheetTest {

QDateTime fixedNow()
{
    return QDateTime(QDate(2026, 12, 5), QTime(9, 30), Qt::UTC);
}

std::unique_ptr<DayStore> makeStore()
{
    auto ticks = std::make_shared<int>(0);
    DayStore::Options options;
    options.calendar = Calendar::make(QStringLiteral("en_US"), QStringLiteral("UTC"));
    options.now = fixedNow();
    options.clock = [ticks] { return fixedNow().addSecs((*ticks)++); };
    return std::make_unique<DayStore>(std::move(options));
}

DayItem putItem(DayStore &store, const QString &title, Bucket bucket, const QString &day, int order, bool done)
{
    DayItem item{newItemId(), title, done, bucket, day, fixedNow().addSecs(-100000 + order), std::nullopt};
    store.setItem(item.id, item);
    return item;
}

} // namespace SheetTest
