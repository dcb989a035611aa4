#include "SheetTestSupport.h"

#include <QTest>
#include <QWindow>

namespace SheetTest {

QDateTime fixedNow()
{
    return QDateTime(QDate(2026, 12, 5), QTime(9, 30), Qt::UTC);
}

std::unique_ptr<DayStore> makeStore()
{
    auto ticks = std::make_shared<int>(0);
    DayStore::Options options;
    options.calendar = Calendar::inTimeZone("UTC");
    options.now = fixedNow();
    options.clock = [ticks] { return fixedNow().addSecs((*ticks)++); };
    return std::make_unique<DayStore>(std::move(options));
}

DayItem putItem(DayStore &store, const QString &title, Block block, const QString &day, int order, bool done)
{
    DayItem item{newItemId(), title, done, block, day, fixedNow().addSecs(-100000 + order), std::nullopt};
    store.applyItem(item.id, item);
    return item;
}

QPoint centreIn(const QWidget *widget, const QWidget *space)
{
    return widget->mapTo(space, widget->rect().center());
}

namespace {

void send(QTest::MouseAction action, QWidget *widget, QPoint point)
{
    QWindow *window = widget->window()->windowHandle();
    const QPoint at = widget->mapTo(widget->window(), point);
    if (action == QTest::MouseMove)
        QTest::mouseMove(window, at);
    else
        QTest::mouseEvent(action, window, Qt::LeftButton, {}, at);
}

} // namespace

void press(QWidget *widget, QPoint point)
{
    send(QTest::MousePress, widget, point);
}
void moveTo(QWidget *widget, QPoint point)
{
    send(QTest::MouseMove, widget, point);
}
void release(QWidget *widget, QPoint point)
{
    send(QTest::MouseRelease, widget, point);
}
void click(QWidget *widget, QPoint point)
{
    send(QTest::MouseClick, widget, point);
}
void click(QWidget *widget)
{
    click(widget, widget->rect().center());
}

void drag(QWidget *widget, QPoint from, QPoint to)
{
    press(widget, from);
    for (int i = 1; i <= 4; ++i)
        moveTo(widget, from + (to - from) * i / 4);
    release(widget, to);
}

} // namespace SheetTest
