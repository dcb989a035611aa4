#pragma once

#include "Vellora/DayData/DayStore.h"

#include <QDateTime>

#include <memory>

namespace SheetTest {

// A fixed moment: Saturday, December 5, 2026, 09:30 UTC.
QDateTime fixedNow();

// A store in memory whose clock starts at fixedNow() and moves one second on every reading, so that items made one
// after the other keep their order.
std::unique_ptr<DayStore> makeStore();

// Adds an item straight into the store's table, as a sync would, bypassing the block's capacity. Items put with a
// lower order are older, and all are older than items the store makes itself.
DayItem putItem(DayStore &store, const QString &title, Bucket bucket, const QString &day, int order, bool done = false);

} // namespace SheetTest
