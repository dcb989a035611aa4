#pragma once

#include "Vellora/DayData/DayStore.h"

#include <QDateTime>
#include <QPoint>
#include <QWidget>

#include <memory>

namespace SheetTest {

// A fixed moment: Saturday, December 5, 2026, 09:30 UTC.
QDateTime fixedNow();

// A store in memory whose clock starts at fixedNow() and moves one second on every reading, so that items made one
// after the other keep their order.
std::unique_ptr<DayStore> makeStore();

// Adds an item straight into the store's table, as a sync would, bypassing the block's capacity. Items put with a
// lower order are older, and all are older than items the store makes itself.
DayItem putItem(DayStore &store, const QString &title, Block block, const QString &day, int order, bool done = false);

// The centre of a widget in the coordinates of another one.
QPoint centreIn(const QWidget *widget, const QWidget *space);

// Pointer actions sent through the widget's window, as the platform delivers them, so that the pressed widget keeps
// the pointer while it moves. Points are in the given widget's coordinates.
void press(QWidget *widget, QPoint point);
void moveTo(QWidget *widget, QPoint point);
void release(QWidget *widget, QPoint point);
void click(QWidget *widget, QPoint point);
void click(QWidget *widget);
// Press at `from`, move in four even steps to `to`, release there.
void drag(QWidget *widget, QPoint from, QPoint to);

} // namespace SheetTest
