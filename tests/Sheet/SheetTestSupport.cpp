#include "SheetTestSupport.h"

#include "Vellora/Paper/Paper.h"

#include <QDir>
#include <QTest>
#include <QTimeZone>
#include <QWindow>

#include <cstdio>
#include <memory>

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

QPoint centreIn(const QWidget *widget, const QWidget *space)
{
    return widget->mapTo(space, widget->rect().center());
}

namespace {

QWindow *windowOf(QWidget *widget)
{
    return widget->window()->windowHandle();
}

QPoint inWindow(QWidget *widget, QPoint point)
{
    return widget->mapTo(widget->window(), point);
}

} // namespace

void press(QWidget *widget, QPoint point)
{
    QTest::mousePress(windowOf(widget), Qt::LeftButton, {}, inWindow(widget, point));
}

void moveTo(QWidget *widget, QPoint point)
{
    QTest::mouseMove(windowOf(widget), inWindow(widget, point));
}

void release(QWidget *widget, QPoint point)
{
    QTest::mouseRelease(windowOf(widget), Qt::LeftButton, {}, inWindow(widget, point));
}

void click(QWidget *widget, QPoint point)
{
    QTest::mouseClick(windowOf(widget), Qt::LeftButton, {}, inWindow(widget, point));
}

void click(QWidget *widget)
{
    click(widget, widget->rect().center());
}

void drag(QWidget *widget, QPoint from, QPoint to, int steps)
{
    press(widget, from);
    for (int i = 1; i <= steps; ++i)
        moveTo(widget, from + (to - from) * i / steps);
    release(widget, to);
}

} // namespace SheetTest
